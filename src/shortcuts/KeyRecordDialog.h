#pragma once

#include <QDialog>

class QLabel;

namespace qm {

class ShortcutWatcher;

// "Changing short-key": records a new combination through the watcher while it is shown (no
// shortcut fires meanwhile) and shows the newest one taken. User-interface thread only.
class KeyRecordDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows the dialog modally for the shortcut described; true when closed with OK, and then
  // *newKey holds the combination shown (the old one when none was pressed).
  static bool Execute(const QString& description, const QString& oldKey, ShortcutWatcher& watcher,
                      QWidget* parent, QString* newKey);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  KeyRecordDialog(ShortcutWatcher& watcher, QWidget* parent);
  void ShowNewKey(const QString& text);

  ShortcutWatcher& watcher_;
  QLabel* title_;
  QLabel* oldKey_;
  QLabel* newKey_;
};

}  // namespace qm
