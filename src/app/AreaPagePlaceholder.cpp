#include "app/AreaPagePlaceholder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "capture/CaptureLib.h"

namespace qm {

namespace {

struct Size {
  int Width;
  int Height;
};
constexpr Size kFixed[] = {{240, 160}, {320, 240}, {480, 360}, {640, 480}};

}  // namespace

CaptureAreaPage::CaptureAreaPage(WindowHost&, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("Capture area"));
  auto* row = new QHBoxLayout(group);
  list_ = new QComboBox;
  list_->setObjectName(QStringLiteral("cbArea"));
  list_->addItems({QStringLiteral("Full screen"), QStringLiteral("240 * 160"),
                   QStringLiteral("320 x 240"), QStringLiteral("480 x 360"),
                   QStringLiteral("640 x 480"), QStringLiteral("Selected object"),
                   QStringLiteral("Custom")});
  row->addWidget(list_, 1);
  row->addWidget(new QPushButton(QStringLiteral("Set")));
  layout->addWidget(group);
  follow_ = new QCheckBox(QStringLiteral("Follow the cursor mode"));
  cursor_ = new QCheckBox(QStringLiteral("Show the cursor"));
  follow_->setChecked(true);
  cursor_->setChecked(true);
  layout->addWidget(follow_);
  layout->addWidget(cursor_);
  auto* current = new QGroupBox(QStringLiteral("Current capture area "));
  auto* grid = new QGridLayout(current);
  for (int i = 0; i < 4; ++i) {
    info_[i] = new QLabel;
    grid->addWidget(info_[i], i / 2, i % 2);
  }
  layout->addWidget(current);
  layout->addStretch();
  connect(list_, &QComboBox::currentIndexChanged, this, [this] { Apply(); });
  connect(follow_, &QCheckBox::toggled, this, [this](bool on) { area_.FollowCursor = on; });
  connect(cursor_, &QCheckBox::toggled, this, [this](bool on) { area_.ShowCursor = on; });
  list_->setCurrentIndex(3);
  Apply();
}

void CaptureAreaPage::SetMode(int index) {
  list_->setCurrentIndex(index >= 0 && index < list_->count() ? index : -1);
  Apply();
}

void CaptureAreaPage::SetShowCursor(bool on) {
  cursor_->setChecked(on);
}

void CaptureAreaPage::SetFollowCursor(bool on) {
  follow_->setChecked(on);
}

void CaptureAreaPage::Apply() {
  const qm::Rect screen = CaptureLib::ScreenBounds();
  area_.Mode = list_->currentIndex();
  area_.ObjectMode = area_.Mode == 5;
  area_.FixedSize = area_.Mode != 6;
  if (area_.Mode == 0) {
    area_.Rect = screen;
  } else if (area_.Mode >= 1 && area_.Mode <= 4) {
    const Size size = kFixed[area_.Mode - 1];
    const int left = (screen.Width() - size.Width) / 2;
    const int top = (screen.Height() - size.Height) / 2;
    area_.Rect = {left, top, left + size.Width, top + size.Height};
  }
  info_[0]->setText(QStringLiteral("Left: %1").arg(area_.Rect.Left));
  info_[1]->setText(QStringLiteral("Top: %1").arg(area_.Rect.Top));
  info_[2]->setText(QStringLiteral("Width: %1").arg(area_.Rect.Width()));
  info_[3]->setText(QStringLiteral("Height: %1").arg(area_.Rect.Height()));
  emit AreaChanged();
}

bool SelectionScreen::Execute(qm::Rect&, uint64_t&, bool, bool, bool, QWidget*) {
  return true;
}

}  // namespace qm
