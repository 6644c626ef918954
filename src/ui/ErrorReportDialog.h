#pragma once

#include <QDialog>

class QCheckBox;

namespace qm {

// The "Error encountered" dialog of the error report.
class ErrorReportDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ErrorReportDialog(const QString& message, QWidget* parent = nullptr);

  // Whether "Send email report to the author" is ticked.
  bool SendMail() const;

 private:
  QCheckBox* sendMail_;
};

}  // namespace qm
