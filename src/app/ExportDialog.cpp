#include "app/ExportDialog.h"

#include "export/ExportPlan.h"

#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <initializer_list>

namespace qm {

namespace {

constexpr std::array kKinds{ExportKind::Mp4, ExportKind::WebM, ExportKind::Matroska,
                            ExportKind::Gif};
constexpr double kMaxSeconds = 2000000.0;
constexpr int kMaxWidth = 16384;

QDoubleSpinBox* SecondsBox(const char* name, const char* zeroText) {
  auto* box = new QDoubleSpinBox;
  box->setObjectName(QLatin1String(name));
  box->setRange(0, kMaxSeconds);
  box->setDecimals(1);
  box->setSuffix(QStringLiteral(" s"));
  box->setSpecialValueText(QLatin1String(zeroText));
  return box;
}

}  // namespace

ExportKind ExportDialog::KindAt(int index) {
  return kKinds[size_t(std::clamp(index, 0, int(kKinds.size()) - 1))];
}

ExportDialog::ExportDialog(ExportController& exports, QWidget* parent)
    : QDialog(parent), exports_(exports) {
  setObjectName(QStringLiteral("ExportDialog"));
  setWindowTitle(QStringLiteral("Export"));

  recording_ = new QLineEdit;
  recording_->setObjectName(QStringLiteral("leRecording"));
  recording_->setMinimumWidth(320);
  browse_ = new QPushButton(QStringLiteral("Browse..."));
  browse_->setObjectName(QStringLiteral("bBrowse"));
  auto* recordingRow = new QHBoxLayout;
  recordingRow->addWidget(recording_, 1);
  recordingRow->addWidget(browse_);
  kind_ = new QComboBox;
  kind_->setObjectName(QStringLiteral("cbKind"));
  kind_->addItems({QStringLiteral("MP4"), QStringLiteral("WebM"), QStringLiteral("MKV"),
                   QStringLiteral("GIF")});
  from_ = SecondsBox("seFrom", "The start");
  to_ = SecondsBox("seTo", "The end");
  width_ = new QSpinBox;
  width_->setObjectName(QStringLiteral("seWidth"));
  width_->setRange(0, kMaxWidth);
  width_->setSingleStep(2);
  width_->setSpecialValueText(QStringLiteral("As recorded"));
  output_ = new QLineEdit;
  output_->setObjectName(QStringLiteral("leOutput"));

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Recording:"), recordingRow);
  form->addRow(QStringLiteral("Kind:"), kind_);
  form->addRow(QStringLiteral("From:"), from_);
  form->addRow(QStringLiteral("To:"), to_);
  form->addRow(QStringLiteral("Width:"), width_);
  form->addRow(QStringLiteral("Save as:"), output_);

  progress_ = new QProgressBar;
  progress_->setObjectName(QStringLiteral("pbExport"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  message_ = new QLabel;
  message_->setObjectName(QStringLiteral("lbExportMessage"));
  message_->setWordWrap(true);
  export_ = new QPushButton(QStringLiteral("Export"));
  export_->setObjectName(QStringLiteral("bExport"));
  export_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"));
  cancel_->setObjectName(QStringLiteral("bCancel"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(export_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(progress_);
  layout->addWidget(message_);
  layout->addLayout(buttons);
  // A fixed dialog border, as large as its contents ask.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(browse_, &QPushButton::clicked, this, &ExportDialog::BrowseClicked);
  connect(recording_, &QLineEdit::textEdited, this, &ExportDialog::SuggestOutput);
  connect(kind_, &QComboBox::currentIndexChanged, this, &ExportDialog::SuggestOutput);
  connect(export_, &QPushButton::clicked, this, &ExportDialog::ExportClicked);
  connect(cancel_, &QPushButton::clicked, this, &ExportDialog::CancelClicked);
  connect(&exports_, &ExportController::Progress, this, [this](int id, double done) {
    if (id == id_) progress_->setValue(int(done * 100));
  });
  connect(&exports_, &ExportController::Finished, this, &ExportDialog::ExportFinished);
}

void ExportDialog::Open(const QString& recording) {
  if (!IsExporting()) {
    recording_->setText(recording);
    SuggestOutput();
    message_->clear();
    progress_->setValue(0);
  }
  show();
  raise();
  activateWindow();
}

void ExportDialog::SuggestOutput() {
  const QString recording = recording_->text().trimmed();
  if (recording.isEmpty()) {
    output_->clear();
    return;
  }
  const QFileInfo info(recording);
  output_->setText(info.dir().filePath(info.completeBaseName() + QLatin1Char('.') +
                                       ExportPlan::ExtensionOf(KindAt(kind_->currentIndex()))));
}

void ExportDialog::BrowseClicked() {
  const QString chosen = QFileDialog::getOpenFileName(
      this, QStringLiteral("Choose a recording"), QFileInfo(recording_->text()).path(),
      QStringLiteral("Recordings (*.avi);;All files (*)"));
  if (chosen.isEmpty()) return;
  recording_->setText(chosen);
  SuggestOutput();
}

void ExportDialog::ExportClicked() {
  if (IsExporting()) return;
  ExportRequest request;
  request.Input = recording_->text().trimmed();
  if (request.Input.isEmpty()) {
    message_->setText(QStringLiteral("Choose a recording to export"));
    return;
  }
  const ExportKind kind = KindAt(kind_->currentIndex());
  QString output = output_->text().trimmed();
  if (output.isEmpty()) {
    SuggestOutput();
    output = output_->text();
  }
  // The list chooses the kind; the name only where it already says the same.
  if (ExportPlan::KindOf(output) != kind)
    output += QLatin1Char('.') + ExportPlan::ExtensionOf(kind);
  // A name without a folder goes beside the recording.
  if (QFileInfo(output).isRelative()) output = QFileInfo(request.Input).dir().filePath(output);
  output_->setText(output);
  request.Output = output;
  if (from_->value() > 0) request.From = from_->value();
  if (to_->value() > 0) request.To = to_->value();
  if (request.From && request.To && *request.From >= *request.To) {
    message_->setText(QStringLiteral("\"From\" must lie before \"To\""));
    return;
  }
  request.Width = width_->value() >= 2 ? width_->value() : 0;
  const QFileInfo existing(output);
  if (existing.exists() || existing.isSymLink()) {
    if (QMessageBox::question(
            this, windowTitle(),
            QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(output),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
      return;
    request.Force = true;
  }
  id_ = exports_.Start(request);
  SetExporting(true);
}

void ExportDialog::CancelClicked() {
  if (IsExporting())
    exports_.Cancel(id_);
  else
    reject();
}

void ExportDialog::SetExporting(bool exporting) {
  for (QWidget* field : std::initializer_list<QWidget*>{recording_, browse_, kind_, from_, to_,
                                                        width_, output_, export_})
    field->setEnabled(!exporting);
  if (exporting) {
    message_->setText(QStringLiteral("Exporting..."));
    progress_->setValue(0);
  }
}

void ExportDialog::ExportFinished(int id, ExportController::Outcome outcome,
                                  const QString& /*output*/, const QString& message) {
  if (id != id_ || id == 0) return;
  id_ = 0;
  SetExporting(false);
  if (outcome != ExportController::Outcome::Done) {
    message_->setText(message);
    progress_->setValue(0);
    return;
  }
  message_->clear();
  progress_->setValue(100);
  accept();
}

}  // namespace qm
