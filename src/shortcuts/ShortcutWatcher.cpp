#include "shortcuts/ShortcutWatcher.h"

#include <stdexcept>

namespace qm {

namespace {

// The keys that take part in a combination by name, by virtual-key code, with the name of
// their key symbol in the desktop's shortcut triggers.
struct NamedKey {
  int code;
  const char* name;
  const char* keysym;
};

// clang-format off
constexpr NamedKey kNamedKeys[] = {
  {27, "ESC", "Escape"},        {33, "PGUP", "Page_Up"},        {34, "PGDN", "Page_Down"},
  {35, "END", "End"},           {36, "HOME", "Home"},           {37, "LEFT", "Left"},
  {38, "UP", "Up"},             {39, "RIGHT", "Right"},         {40, "DOWN", "Down"},
  {44, "PRSCR", "Print"},       {45, "INSERT", "Insert"},       {46, "DELETE", "Delete"},
  {96, "0 Num", "KP_0"},        {97, "1 Num", "KP_1"},          {98, "2 Num", "KP_2"},
  {99, "3 Num", "KP_3"},        {100, "4 Num", "KP_4"},         {101, "5 Num", "KP_5"},
  {102, "6 Num", "KP_6"},       {103, "7 Num", "KP_7"},         {104, "8 Num", "KP_8"},
  {105, "9 Num", "KP_9"},       {106, "* Num", "KP_Multiply"},  {107, "+ Num", "KP_Add"},
  {109, "- Num", "KP_Subtract"}, {110, ". Num", "KP_Decimal"},  {111, "/ Num", "KP_Divide"},
  {112, "F1", "F1"},            {113, "F2", "F2"},              {114, "F3", "F3"},
  {115, "F4", "F4"},            {116, "F5", "F5"},              {117, "F6", "F6"},
  {118, "F7", "F7"},            {119, "F8", "F8"},              {120, "F9", "F9"},
  {121, "F10", "F10"},          {122, "F11", "F11"},            {123, "F12", "F12"},
};
// clang-format on

void PrependKey(QString& text, const QString& name) {
  text = text.isEmpty() ? name : name + QLatin1Char('+') + text;
}

// Turns a timer back on when the step ends, also when a callback throws.
class Rearm {
 public:
  explicit Rearm(QTimer& timer) : timer_(timer) {}
  ~Rearm() { timer_.start(); }
  Rearm(const Rearm&) = delete;
  Rearm& operator=(const Rearm&) = delete;

 private:
  QTimer& timer_;
};

}  // namespace

QString WaylandKeyboardNotice() {
  return QStringLiteral("This desktop does not let programs watch the keyboard: use the tray menu");
}

QString NoKeyboardNotice() {
  return QStringLiteral(
      "The keyboard cannot be read here: the short-cut keys do not work. Use the menu on the "
      "tray icon.");
}

QString PartialKeyboardNotice() {
  return QStringLiteral(
      "In a Wayland session the short-cut keys work only while a window of an X11 program has "
      "the keyboard focus. Use the menu on the tray icon.");
}

ShortcutWatcher::ShortcutWatcher(KeyStateSource& source, QObject* parent)
    : QObject(parent), source_(source) {
  for (QTimer* timer : {&watchTimer_, &recordTimer_}) {
    timer->setInterval(kTickMs);
    timer->setSingleShot(true);  // each step turns it on again when done
  }
  connect(&watchTimer_, &QTimer::timeout, this, &ShortcutWatcher::WatchTick);
  connect(&recordTimer_, &QTimer::timeout, this, &ShortcutWatcher::RecordTick);
}

void ShortcutWatcher::AddShortKey(const QString& name, const QString& description,
                                  const QString& key) {
  shortKeys_.push_back({name, description, key});
}

void ShortcutWatcher::AddDefaultShortKeys() {
  shortKeys_.clear();
  AddShortKey(QStringLiteral("Photo"), QStringLiteral("To take an image"),
              QStringLiteral("CTRL+ALT+X"));
  AddShortKey(QStringLiteral("StartMovie"), QStringLiteral("To start taking movie"),
              QStringLiteral("CTRL+ALT+S"));
  AddShortKey(QStringLiteral("PauseMovie"), QStringLiteral("To pause/continue movie"),
              QStringLiteral("CTRL+ALT+P"));
  AddShortKey(QStringLiteral("FinishMovie"), QStringLiteral("To stop taking movie"),
              QStringLiteral("CTRL+ALT+F"));
}

QStringList ShortcutWatcher::FillList() const {
  if (shortKeys_.empty()) throw std::logic_error("TPeekKey.FillList. No Shortkey has been added");
  QStringList descriptions;
  for (const ShortKey& shortKey : shortKeys_) descriptions << shortKey.description;
  return descriptions;
}

void ShortcutWatcher::StayOff(const QString& notice) {
  off_ = true;
  watchTimer_.stop();
  notice_ = notice;
  emit keyboardUnavailable(notice_);
}

void ShortcutWatcher::StartWatching(std::function<void(int)> onShortKey) {
  if (off_) return;
  lastKeys_.clear();
  armed_ = true;
  onShortKey_ = std::move(onShortKey);
  watchTimer_.start();
}

void ShortcutWatcher::StartKeyRecording(std::function<void(const QString&)> onRecord) {
  recordStopped_ = false;
  lastKeys_.clear();
  armed_ = true;
  onRecord_ = std::move(onRecord);
  recordTimer_.start();
}

void ShortcutWatcher::StopKeyRecording() {
  recordStopped_ = true;
  // Whoever gave the callback may be gone before the record step notices the stop.
  onRecord_ = nullptr;
}

QString ShortcutWatcher::KeysText(const KeysDown& down) {
  QString text;
  for (int code = '0'; code <= '9'; ++code) {
    if (down.test(size_t(code))) PrependKey(text, QString(QLatin1Char(char(code))));
  }
  for (int code = 'A'; code <= 'Z'; ++code) {
    if (down.test(size_t(code))) PrependKey(text, QString(QLatin1Char(char(code))));
  }
  for (const NamedKey& key : kNamedKeys) {
    if (down.test(size_t(key.code))) PrependKey(text, QLatin1String(key.name));
  }
  if (down.test(kVkShift)) PrependKey(text, QStringLiteral("SHIFT"));
  if (down.test(kVkAlt)) PrependKey(text, QStringLiteral("ALT"));
  if (down.test(kVkControl)) PrependKey(text, QStringLiteral("CTRL"));
  return text;
}

QString ShortcutWatcher::TriggerText(const QString& key) {
  // The modifiers lead, in the order KeysText writes them.
  static const char* const kModifiers[] = {"CTRL", "ALT", "SHIFT"};
  QString rest = key;
  QString trigger;
  for (const char* modifier : kModifiers) {
    const QString prefix = QLatin1String(modifier) + QLatin1Char('+');
    if (!rest.startsWith(prefix)) continue;
    trigger += prefix;
    rest = rest.mid(prefix.size());
  }
  // One key follows: a letter (its unshifted symbol), a digit or a named key.
  const auto within = [&rest](char first, char last) {
    return rest.size() == 1 && rest[0] >= QLatin1Char(first) && rest[0] <= QLatin1Char(last);
  };
  if (within('0', '9') || within('A', 'Z')) return trigger + rest.toLower();
  for (const NamedKey& named : kNamedKeys) {
    if (rest == QLatin1String(named.name)) return trigger + QLatin1String(named.keysym);
  }
  return {};
}

QString ShortcutWatcher::ReadKeys() {
  const std::optional<KeysDown> down = source_.Read();
  if (notice_.isEmpty() && (!down || !source_.SeesAllKeys())) {
    notice_ = down ? PartialKeyboardNotice() : NoKeyboardNotice();
    emit keyboardUnavailable(notice_);
  }
  return down ? KeysText(*down) : QString();
}

QString ShortcutWatcher::TakeKeys() {
  const QString text = ReadKeys();
  if (text.isEmpty()) {
    armed_ = true;
    return {};
  }
  // Once every key was up, the next combination is a new press even when it is the one taken
  // last: pressed again within one tick, its release was never seen.
  if (!armed_ && text == lastKeys_) return {};
  // Keys being released one by one give shorter combinations; those are not new presses.
  if (!armed_ && text.size() < lastKeys_.size()) return {};
  lastKeys_ = text;
  armed_ = false;
  return text;
}

void ShortcutWatcher::WatchTick() {
  watchTimer_.stop();
  if (off_) return;
  Rearm rearm(watchTimer_);
  // The editor is recording (or has just stopped and the record step has not yet noticed).
  if (recordTimer_.isActive()) return;
  const QString text = TakeKeys();
  if (text.isEmpty()) return;
  for (size_t i = 0; i < shortKeys_.size(); ++i) {
    if (shortKeys_[i].key == text) {
      if (onShortKey_) onShortKey_(int(i));
      return;
    }
  }
}

void ShortcutWatcher::RecordTick() {
  recordTimer_.stop();
  if (recordStopped_) return;
  Rearm rearm(recordTimer_);
  const QString text = TakeKeys();
  if (text.isEmpty() || !onRecord_) return;
  const std::function<void(const QString&)> onRecord = onRecord_;  // it may stop the recording
  onRecord(text);
}

}  // namespace qm
