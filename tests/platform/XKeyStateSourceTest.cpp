#include <gtest/gtest.h>

#include <set>

#include "platform/keyboard/XKeyStateSource.h"
#include "support/XKeys.h"

// Last, and with the macros that clash with the test framework removed.
#include <X11/keysym.h>

namespace qm {
namespace {

std::set<int> Codes(const KeysDown& down) {
  std::set<int> codes;
  for (size_t i = 0; i < down.size(); ++i) {
    if (down.test(i)) codes.insert(int(i));
  }
  return codes;
}

TEST(XKeyStateSource, HeldKeysGiveTheirVirtualKeyCodes) {
  test::XKeys keys;
  ASSERT_TRUE(keys.Ok());
  XKeyStateSource source;
  struct Case {
    std::vector<unsigned long> held;
    bool numLock;
    std::set<int> codes;
  };
  const Case cases[] = {
      {{}, false, {}},
      {{XK_Control_L, XK_Alt_L, XK_s}, false, {17, 18, 'S'}},
      {{XK_Control_R, XK_Shift_R, XK_1}, false, {16, 17, '1'}},
      {{XK_Escape, XK_F1, XK_F12, XK_Prior, XK_Delete}, false, {27, 112, 123, 33, 46}},
      {{XK_Return, XK_space, XK_Tab}, false, {13, 32, 9}},
      {{XK_KP_Add, XK_KP_Multiply, XK_KP_Divide}, false, {107, 106, 111}},
      // The keypad follows NumLock: keypad 7 is Home without it.
      {{XK_KP_Home, XK_KP_Delete}, false, {36, 46}},
      {{XK_KP_Home, XK_KP_Delete}, true, {103, 110}},
      // AltGr is Ctrl and Alt.
      {{XK_ISO_Level3_Shift}, false, {17, 18}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.codes));
    keys.SetNumLock(c.numLock);
    source.Read();  // NumLock's own press
    keys.Press(c.held);
    const std::optional<KeysDown> down = source.Read();
    keys.ReleaseAll();
    ASSERT_TRUE(down.has_value());
    // NumLock's own key is up again; what it locked is not a held key.
    EXPECT_EQ(Codes(*down), c.codes);
  }
  keys.SetNumLock(false);
}

// Keys pressed and released between two reads count in the next read, once.
TEST(XKeyStateSource, ATapBetweenTwoReadsCounts) {
  test::XKeys keys;
  ASSERT_TRUE(keys.Ok());
  XKeyStateSource source;
  struct Case {
    std::vector<unsigned long> held, tapped;
    std::set<int> next, after;
  };
  const Case cases[] = {
      {{}, {XK_Control_L, XK_Alt_L, XK_s}, {17, 18, 'S'}, {}},
      {{XK_Control_L}, {XK_x}, {17, 'X'}, {17}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.next));
    keys.Press(c.held);
    source.Read();
    keys.Press(c.tapped);
    keys.Release(c.tapped);
    const std::optional<KeysDown> next = source.Read();
    const std::optional<KeysDown> after = source.Read();
    keys.ReleaseAll();
    ASSERT_TRUE(next.has_value() && after.has_value());
    EXPECT_EQ(Codes(*next), c.next);
    EXPECT_EQ(Codes(*after), c.after);
  }
}

TEST(XKeyStateSource, AChangedMappingIsReadAgain) {
  test::XKeys keys;
  ASSERT_TRUE(keys.Ok());
  XKeyStateSource source;
  const int keycode = keys.FreeKeycode();
  ASSERT_NE(keycode, 0);
  for (const auto& [keysym, code] : {std::pair{XK_F5, 116}, std::pair{XK_a, int('A')}}) {
    keys.Remap(keycode, keysym);
    source.Read();  // notices the change
    keys.PressKeycode(keycode, true);
    const std::optional<KeysDown> down = source.Read();
    keys.ReleaseAll();
    ASSERT_TRUE(down.has_value());
    EXPECT_EQ(Codes(*down), std::set<int>{code});
  }
}

}  // namespace
}  // namespace qm
