#pragma once

#include <QDialog>
#include <QString>

#include "app/ExportController.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace qm {

// "Export": a recording, the kind of copy, the span and the width; then the copy's progress
// with Cancel. The exports run on the controller, whose reports the window follows too; the
// dialog asks before replacing a file and shows why an export failed. Closed while an export
// runs, it only hides: the export goes on. User-interface thread only.
class ExportDialog : public QDialog {
  Q_OBJECT

 public:
  ExportDialog(ExportController& exports, QWidget* parent = nullptr);

  // Shows the dialog with recording chosen, unless an export of it still runs (then it shows
  // that one's progress).
  void Open(const QString& recording);
  bool IsExporting() const { return id_ != 0; }

  // The kinds in the order of the list: MP4, WebM, MKV, GIF.
  static ExportKind KindAt(int index);

 private:
  void ExportClicked();
  void CancelClicked();
  void BrowseClicked();
  // The copy is named after the recording, with the kind's extension, beside it.
  void SuggestOutput();
  void SetExporting(bool exporting);
  void ExportFinished(int id, ExportController::Outcome outcome, const QString& output,
                      const QString& message);

  ExportController& exports_;
  int id_ = 0;  // the export under way; 0 none
  QLineEdit* recording_ = nullptr;
  QPushButton* browse_ = nullptr;
  QComboBox* kind_ = nullptr;
  QDoubleSpinBox* from_ = nullptr;
  QDoubleSpinBox* to_ = nullptr;
  QSpinBox* width_ = nullptr;
  QLineEdit* output_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* message_ = nullptr;
  QPushButton* export_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace qm
