#include "common/FrmExcept.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qm {

TFrmExcept::TFrmExcept(const QString& message, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Error encountered"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  setFont(font);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Congratulation. You have spot an error in this program")));
  layout->addWidget(new QLabel(QStringLiteral("Error:")));
  lbErrorMsg = new QLabel(message);
  lbErrorMsg->setWordWrap(true);
  lbErrorMsg->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(lbErrorMsg);
  cbSendMail = new QCheckBox(QStringLiteral("Send email report to the author"));
  layout->addWidget(cbSendMail);
  auto* ok = new QPushButton(QStringLiteral("OK"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignHCenter);

  setMinimumSize(317, 131);
  setSizeGripEnabled(false);
}

bool TFrmExcept::SendMail() const { return cbSendMail->isChecked(); }

}  // namespace qm
