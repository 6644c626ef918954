#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <vector>

#include "platform/keyboard/KeyStateSource.h"

namespace qm {

// One keyboard shortcut: its settings name, what the user reads, and its combination text.
struct ShortKey {
  QString name;
  QString description;
  QString key;  // "CTRL+ALT+S"
};

// Watches the keyboard for the configured shortcuts without grabbing any key: every 100 ms it
// turns the keys held into a combination text ("CTRL+ALT+S", "CTRL++ Num") and compares it
// with the shortcuts' texts. A second 100 ms step records combinations for the editor; while
// it runs, no shortcut fires. User-interface thread only.
class ShortcutWatcher : public QObject {
  Q_OBJECT

 public:
  static constexpr int kTickMs = 100;

  // The source must outlive the watcher.
  explicit ShortcutWatcher(KeyStateSource& source, QObject* parent = nullptr);

  // The shortcuts in the order they were added; an index is a position in this list.
  void AddShortKey(const QString& name, const QString& description, const QString& key);
  void ClearShortKeys() { shortKeys_.clear(); }
  // The four shortcuts with their default combinations: "Photo", "StartMovie", "PauseMovie",
  // "FinishMovie" (indexes 0 to 3), replacing any there were.
  void AddDefaultShortKeys();
  const std::vector<ShortKey>& ShortKeys() const { return shortKeys_; }
  // Takes effect at the next tick.
  void SetKey(size_t index, const QString& key) { shortKeys_.at(index).key = key; }
  // The descriptions in list order. Throws std::logic_error when no shortcut was added.
  QStringList FillList() const;

  // Fires onShortKey with the index of a matching shortcut from now on, for good.
  void StartWatching(std::function<void(int)> onShortKey);
  // Keeps the watcher off for good, with notice as the reason (keyboardUnavailable): the
  // desktop lets no program watch the keyboard. StartWatching then does nothing.
  void StayOff(const QString& notice);
  // Hands each newly taken combination to onRecord until StopKeyRecording; the watch step
  // stays idle meanwhile, and until the record step has noticed the stop.
  void StartKeyRecording(std::function<void(const QString&)> onRecord);
  void StopKeyRecording();
  bool IsRecording() const { return recordTimer_.isActive(); }

  // The combination text of the keys held now; empty when none (or none can be read).
  QString ReadKeys();
  // The combination text of a set of held keys.
  static QString KeysText(const KeysDown& down);
  // A combination text in the form the desktop's shortcut portal takes ("CTRL+ALT+s"); empty
  // for a combination it cannot express (two keys besides the modifiers, no key at all).
  static QString TriggerText(const QString& key);

  // The notice keyboardUnavailable gave; empty while none was given.
  const QString& Notice() const { return notice_; }

  // Runs one step at once, as its timer would (for tests that script the keyboard).
  void WatchTick();
  void RecordTick();

 signals:
  // Once, the first time the keyboard cannot be read or the source says it misses keys.
  void keyboardUnavailable(const QString& notice);

 private:
  // Steps 2 to 6 of both steps: the combination to act on, or empty.
  QString TakeKeys();

  KeyStateSource& source_;
  QTimer watchTimer_;
  QTimer recordTimer_;
  bool recordStopped_ = false;
  std::function<void(int)> onShortKey_;
  std::function<void(const QString&)> onRecord_;
  QString lastKeys_;
  bool armed_ = true;  // all keys were up since lastKeys_ was taken
  QString notice_;
  bool off_ = false;
  std::vector<ShortKey> shortKeys_;
};

// The notices keyboardUnavailable gives.
QString NoKeyboardNotice();
QString PartialKeyboardNotice();
// The notice of a desktop where no program sees the keys another one receives (Wayland).
QString WaylandKeyboardNotice();

}  // namespace qm
