#include "ui/ErrorReportDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qm {

ErrorReportDialog::ErrorReportDialog(const QString& message, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Error encountered"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  setFont(font);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel(QStringLiteral("Congratulation. You have spot an error in this program")));
  layout->addWidget(new QLabel(QStringLiteral("Error:")));
  auto* errorMessage = new QLabel(message);
  errorMessage->setObjectName(QStringLiteral("lbErrorMsg"));
  errorMessage->setWordWrap(true);
  errorMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(errorMessage);
  sendMail_ = new QCheckBox(QStringLiteral("Send email report to the author"));
  sendMail_->setObjectName(QStringLiteral("cbSendMail"));
  layout->addWidget(sendMail_);
  auto* ok = new QPushButton(QStringLiteral("OK"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignHCenter);

  // A fixed dialog border: the designed size at least, or what the message needs.
  setSizeGripEnabled(false);
  setFixedSize(layout->totalSizeHint().expandedTo(QSize(317, 131)));
}

bool ErrorReportDialog::SendMail() const {
  return sendMail_->isChecked();
}

}  // namespace qm
