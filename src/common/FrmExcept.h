#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;

namespace qm {

// The "Error encountered" dialog of the error report.
class TFrmExcept : public QDialog {
  Q_OBJECT

 public:
  explicit TFrmExcept(const QString& message, QWidget* parent = nullptr);

  bool SendMail() const;

 private:
  QLabel* lbErrorMsg;
  QCheckBox* cbSendMail;
};

}  // namespace qm
