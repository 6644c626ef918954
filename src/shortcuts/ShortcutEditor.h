#pragma once

#include <QHash>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qm {

class ShortcutWatcher;

// The "Short-cut" page: the list of actions, the selected action's combination, "Change"
// (the recording dialog) and "Default" (all four restored after a question). Changes reach
// the watcher at once and take effect at its next tick. Says once, on the page, when the
// keyboard cannot be read. User-interface thread only.
class ShortcutEditor : public QWidget {
  Q_OBJECT

 public:
  // The watcher must outlive the page.
  explicit ShortcutEditor(ShortcutWatcher& watcher, QWidget* parent = nullptr);

  // Replaces the watcher's shortcuts by the four defaults and refills the page.
  void BuildShortKeyList();
  // Refills the list from the watcher's shortcuts (after the settings were loaded), selects
  // the first and shows its combination.
  void Refill();

  // Says on the page that the desktop watches the keys, with the keys it reports by shortcut
  // name, in place of the watcher's notice; until ShowWatcherNotice.
  void ShowDesktopKeys(const QHash<QString, QString>& triggers);
  void ShowWatcherNotice();

 signals:
  // The user changed a combination ("Change" or "Default").
  void KeysEdited();

 private:
  void ShowNotice(const QString& text);
  void KeysChanged();     // the list's selection changed
  void EditKeyClicked();  // "Change"
  void DefaultClicked();  // "Default"

  ShortcutWatcher& watcher_;
  QComboBox* keys_;
  QLineEdit* key_;
  QPushButton* editKey_;
  QLabel* notice_;
  bool desktopKeys_ = false;
};

}  // namespace qm
