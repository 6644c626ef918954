#include "ui/AboutBox.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QStyle>

#include <cmath>

#include "common/ErrorReport.h"
#include "common/Product.h"
#include "platform/desktop/Desktop.h"
#include "ui/AppIcon.h"

namespace qm {

namespace {

// The box's panel colour, red 0, green 128, blue 192.
const QColor kPanel(0, 128, 192);

QFont Font(const char* family, int pixels, bool bold) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QLabel* AddLabel(QWidget* parent, const QString& text, const QFont& font, const QColor& colour,
                 QPoint at) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  label->move(at);
  label->adjustSize();
  return label;
}

// A caption in white over a red copy of itself 2 pixels further left and 1 pixel higher.
void AddShadowedCaption(QWidget* parent, const QString& text, int pixels, QPoint at) {
  const QFont font = Font("Comic Sans MS", pixels, true);
  AddLabel(parent, text, font, Qt::red, at - QPoint(2, 1));
  AddLabel(parent, text, font, Qt::white, at);
}

}  // namespace

QString CpuSpeedText(const QString& cpuinfoPath) {
  QFile file(cpuinfoPath);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return QString();
  // The first processor's lines come first; a sane file says it within a few kilobytes.
  // Files under /proc have no size, so the end is where no line is left, not atEnd().
  for (int lines = 0; lines < 10000; ++lines) {
    const QByteArray line = file.readLine(4096);
    if (line.isEmpty()) break;
    if (!line.startsWith("cpu MHz")) continue;
    const qsizetype colon = line.indexOf(':');
    if (colon < 0) return QString();
    bool ok = false;
    const double mhz = line.mid(colon + 1).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(mhz) || mhz < 0 || mhz > 1e9) return QString();
    return QString::number(std::llround(mhz)) + QStringLiteral(" MHz");
  }
  return QString();
}

AboutBox::AboutBox(QWidget* parent, const QString& cpuinfoPath, AddressOpener openAddress)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      cpuinfoPath_(cpuinfoPath),
      openAddress_(std::move(openAddress)) {
  if (!openAddress_) openAddress_ = [](const QString& address) { OpenWithShell(address); };
  setFixedSize(332, 239);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, kPanel);
  setPalette(palette);

  AddShadowedCaption(this, QStringLiteral("Quillmark"), 32, {60, 8});
  AddShadowedCaption(this, QStringLiteral("Image and video screen capture"), 19, {20, 56});
  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(32, 32));
  icon->setGeometry(16, 12, 32, 32);

  version_ = AddLabel(this, QString(), Font("Arial", 13, true), Qt::black, {20, 92});
  version_->setObjectName(QStringLiteral("lbVersion"));
  QFont link = Font("Arial", 11, false);
  link.setUnderline(true);
  email_ = AddLabel(this, QStringLiteral("Email: ") + QLatin1String(kSupportEmail), link, Qt::white,
                    {20, 120});
  email_->setObjectName(QStringLiteral("lbEmail"));
  website_ = AddLabel(this, QStringLiteral("Website: ") + QLatin1String(kWebsite), link, Qt::white,
                      {20, 138});
  website_->setObjectName(QStringLiteral("lbWebsite"));
  for (QLabel* label : {email_, website_}) label->setCursor(Qt::PointingHandCursor);
  const QFont notice = Font("Arial", 11, false);
  AddLabel(this, QStringLiteral("Copyright (c) Zorvek. All rights reserved."), notice, Qt::white,
           {20, 164});
  AddLabel(this, QStringLiteral("Quillmark is free for personal and business use."), notice,
           Qt::white, {20, 182});
  cpuSpeed_ = AddLabel(this, QString(), notice, Qt::white, {20, 212});
  cpuSpeed_->setObjectName(QStringLiteral("lbCPUSpeed"));

  // A press anywhere on the box closes it, the labels included.
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

void AboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  version_->setText(QStringLiteral("Version ") + QLatin1String(kVersion));
  version_->adjustSize();
  repaint();
  cpuSpeed_->setText(QStringLiteral("CPU speed: ") + CpuSpeedText(cpuinfoPath_));
  cpuSpeed_->adjustSize();
}

void AboutBox::keyPressEvent(QKeyEvent* event) {
  event->accept();
  accept();
}

void AboutBox::mousePressEvent(QMouseEvent* event) {
  event->accept();
  accept();
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::MouseButtonPress) return QDialog::eventFilter(watched, event);
  if (watched == email_)
    openAddress_(QStringLiteral("mailto:") + QLatin1String(kSupportEmail));
  else if (watched == website_)
    openAddress_(QLatin1String(kWebsite));
  accept();
  return true;
}

}  // namespace qm
