#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "platform/keyboard/XKeyStateSource.h"
#include "shortcuts/ShortcutWatcher.h"
#include "support/XKeys.h"

// Last, and with the macros that clash with the test framework removed.
#include <X11/keysym.h>

namespace qm {
namespace {

KeysDown Held(std::initializer_list<int> codes) {
  KeysDown down;
  for (int code : codes) down.set(size_t(code));
  return down;
}

// A keyboard that holds what the test says; nothing readable when told so.
class ScriptedKeys : public KeyStateSource {
 public:
  std::optional<KeysDown> Read() override { return down; }
  bool SeesAllKeys() const override { return seesAll; }
  std::optional<KeysDown> down = KeysDown();
  bool seesAll = true;
};

// Runs the event loop until done() or a generous bound; true when done.
bool Until(const std::function<bool()>& done) {
  QElapsedTimer waited;
  waited.start();
  while (!done() && waited.elapsed() < 20000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

void Spin(int ms) {
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

constexpr int C = kVkControl, A = kVkAlt, S = kVkShift;

// Each combination text, and the same in the desktop's shortcut trigger form: one key only.
TEST(ShortcutWatcher, CombinationTextsInTheirOrder) {
  struct Case {
    KeysDown down;
    const char* text;
    const char* trigger;
  };
  const Case cases[] = {
      {Held({}), "", ""},
      {Held({'S', A, C}), "CTRL+ALT+S", "CTRL+ALT+s"},
      {Held({S, 116}), "SHIFT+F5", "SHIFT+F5"},
      {Held({S, '7'}), "SHIFT+7", "SHIFT+7"},
      {Held({C, A, S, 34}), "CTRL+ALT+SHIFT+PGDN", "CTRL+ALT+SHIFT+Page_Down"},
      {Held({C, 'A', '1'}), "CTRL+A+1", ""},
      {Held({C, 107}), "CTRL++ Num", "CTRL+KP_Add"},
      {Held({C, 13}), "CTRL", ""},  // Enter takes no part
      {Held({'0', '9', 'A', 'Z', 27, 123, 36, 96}), "F12+0 Num+HOME+ESC+Z+A+9+0", ""},
      {Held({32, 8, 9, 20, 144, 124, 108, 91}), "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShortcutWatcher::KeysText(c.down), c.text);
    EXPECT_EQ(ShortcutWatcher::TriggerText(QLatin1String(c.text)), c.trigger) << c.text;
  }
}

TEST(ShortcutWatcher, EachPressFiresOnceTickByTick) {
  const KeysDown none, ctrl = Held({C}), ctrlAlt = Held({C, A}), start = Held({C, A, 'S'});
  struct Case {
    const char* what;
    std::vector<KeysDown> ticks;
    std::vector<int> fired;
  };
  const Case cases[] = {
      {"held long", std::vector<KeysDown>(10, start), {1}},
      {"pressed in turn", {ctrl, ctrlAlt, start, start}, {1}},
      {"S again while Ctrl+Alt held", {start, ctrlAlt, start, ctrlAlt}, {1}},
      {"again after a full release", {start, none, ctrl, ctrlAlt, start}, {1, 1}},
      // Released and pressed again within one tick after the release was seen.
      {"again within one tick", {start, none, start}, {1, 1}},
      {"released key by key", {start, ctrlAlt, ctrl, none}, {1}},
      {"photo", {Held({C, A, 'X'}), none, Held({C, A, 'X'})}, {0, 0}},
      {"no shortcut", {Held({C, 'Q'}), Held({S, 'X'})}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedKeys keys;
    ShortcutWatcher watcher(keys);
    watcher.AddDefaultShortKeys();
    std::vector<int> fired;
    watcher.StartWatching([&](int index) { fired.push_back(index); });
    for (const KeysDown& tick : c.ticks) {
      keys.down = tick;
      watcher.WatchTick();
    }
    EXPECT_EQ(fired, c.fired);
  }
}

TEST(ShortcutWatcher, FirstOfEqualKeysFiresAndUnreachableKeysNever) {
  ScriptedKeys keys;
  ShortcutWatcher watcher(keys);
  watcher.AddShortKey(QStringLiteral("One"), QStringLiteral("1"), QStringLiteral("S+CTRL"));
  watcher.AddShortKey(QStringLiteral("Two"), QStringLiteral("2"), QStringLiteral("A"));
  watcher.AddShortKey(QStringLiteral("Three"), QStringLiteral("3"), QStringLiteral("A"));
  std::vector<int> fired;
  watcher.StartWatching([&](int index) { fired.push_back(index); });
  for (const KeysDown& tick : {Held({C, 'S'}), KeysDown(), Held({'A'})}) {
    keys.down = tick;
    watcher.WatchTick();
  }
  EXPECT_EQ(fired, std::vector<int>{1});
  EXPECT_EQ(watcher.FillList(), (QStringList{"1", "2", "3"}));
  watcher.ClearShortKeys();
  EXPECT_THROW(watcher.FillList(), std::logic_error);
}

TEST(ShortcutWatcher, RecordingTakesGrowingCombinationsAndSilencesTheWatch) {
  ScriptedKeys keys;
  ShortcutWatcher watcher(keys);
  watcher.AddDefaultShortKeys();
  std::vector<int> fired;
  QStringList recorded;
  watcher.StartWatching([&](int index) { fired.push_back(index); });
  watcher.StartKeyRecording([&](const QString& text) { recorded << text; });
  for (const KeysDown& tick : {Held({C}), Held({C, A}), Held({C, A, 'P'}), Held({C}), KeysDown()}) {
    keys.down = tick;
    watcher.WatchTick();
    watcher.RecordTick();
  }
  EXPECT_EQ(recorded, (QStringList{"CTRL", "CTRL+ALT", "CTRL+ALT+P"}));
  // Stopped: the watch stays idle until the record step has noticed.
  watcher.StopKeyRecording();
  keys.down = Held({C, A, 'P'});
  watcher.WatchTick();
  EXPECT_TRUE(fired.empty());
  watcher.RecordTick();
  EXPECT_FALSE(watcher.IsRecording());
  watcher.WatchTick();
  EXPECT_EQ(fired, std::vector<int>{2});
  EXPECT_EQ(recorded.size(), 3);
}

TEST(ShortcutWatcher, AThrowingCallbackLeavesTheWatchRunning) {
  ScriptedKeys keys;
  ShortcutWatcher watcher(keys);
  watcher.AddDefaultShortKeys();
  watcher.StartWatching([](int) { throw std::runtime_error("photo failed"); });
  keys.down = Held({C, A, 'X'});
  EXPECT_THROW(watcher.WatchTick(), std::runtime_error);
  bool ticked = false;
  QObject::connect(&watcher, &ShortcutWatcher::keyboardUnavailable, [&] { ticked = true; });
  keys.down = std::nullopt;  // the next tick reads again, and says so
  EXPECT_TRUE(Until([&] { return ticked; }));
}

TEST(ShortcutWatcher, SaysOnceWhenTheKeyboardCannotBeRead) {
  struct Case {
    bool readable;
    bool seesAll;
    QString notice;  // empty: none
  };
  const Case cases[] = {
      {true, true, {}},
      {false, true, NoKeyboardNotice()},
      {true, false, PartialKeyboardNotice()},
  };
  for (const Case& c : cases) {
    ScriptedKeys keys;
    if (!c.readable) keys.down = std::nullopt;
    keys.seesAll = c.seesAll;
    ShortcutWatcher watcher(keys);
    watcher.AddDefaultShortKeys();
    QStringList notices;
    QObject::connect(&watcher, &ShortcutWatcher::keyboardUnavailable,
                     [&](const QString& notice) { notices << notice; });
    watcher.StartWatching([](int) {});
    for (int i = 0; i < 5; ++i) watcher.WatchTick();
    EXPECT_EQ(notices, c.notice.isEmpty() ? QStringList() : QStringList{c.notice});
  }
}

// A desktop that lets no program watch the keyboard: the watcher says so once and never fires.
TEST(ShortcutWatcher, StaysOffWhereTheDesktopHidesTheKeyboard) {
  ScriptedKeys keys;
  keys.down = Held({C, A, 'S'});
  ShortcutWatcher watcher(keys);
  watcher.AddDefaultShortKeys();
  QStringList notices;
  QObject::connect(&watcher, &ShortcutWatcher::keyboardUnavailable,
                   [&](const QString& notice) { notices << notice; });
  watcher.StayOff(WaylandKeyboardNotice());
  std::vector<int> fired;
  watcher.StartWatching([&](int index) { fired.push_back(index); });
  for (int i = 0; i < 3; ++i) watcher.WatchTick();
  EXPECT_TRUE(fired.empty());
  EXPECT_EQ(notices,
            QStringList{QStringLiteral(
                "This desktop does not let programs watch the keyboard: use the tray menu")});
  EXPECT_EQ(watcher.Notice(), notices.value(0));
}

// The X keyboard through the real 100 ms timer.
TEST(ShortcutWatcher, XKeysFireOncePerPress) {
  test::XKeys keys;
  ASSERT_TRUE(keys.Ok());
  XKeyStateSource source;
  ShortcutWatcher watcher(source);
  watcher.AddDefaultShortKeys();
  watcher.AddShortKey(QStringLiteral("Later"), QStringLiteral("same keys"),
                      QStringLiteral("CTRL+ALT+S"));
  watcher.AddShortKey(QStringLiteral("Keypad"), QStringLiteral("keypad"),
                      QStringLiteral("CTRL+7 Num"));
  watcher.AddShortKey(QStringLiteral("Home"), QStringLiteral("home"), QStringLiteral("CTRL+HOME"));
  std::vector<int> fired;
  watcher.StartWatching([&](int index) { fired.push_back(index); });

  // Held for a second, then pressed again: once each time, and only the earlier of the two.
  for (int press = 1; press <= 2; ++press) {
    keys.Press({XK_Control_L, XK_Alt_L, XK_s});
    ASSERT_TRUE(Until([&] { return fired.size() == size_t(press); }));
    Spin(1000);
    keys.ReleaseAll();
    Spin(300);
  }
  EXPECT_EQ(fired, (std::vector<int>{1, 1}));

  fired.clear();
  for (bool numLock : {false, true}) {
    keys.SetNumLock(numLock);
    keys.Press({XK_Control_L, XK_KP_Home});
    ASSERT_TRUE(Until([&] { return !fired.empty(); }));
    keys.ReleaseAll();
    Spin(300);
    EXPECT_EQ(fired, std::vector<int>{numLock ? 5 : 6});
    fired.clear();
  }
  keys.SetNumLock(false);
}

}  // namespace
}  // namespace qm
