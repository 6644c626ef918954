#pragma once

#include <bitset>
#include <optional>

namespace qm {

// The keys held down at one moment, indexed by virtual-key code: the codes the shortcut
// tables use (16 Shift, 17 Ctrl, 18 Alt, 27 Esc, 33-46 the navigation keys, 48-57 the digits,
// 65-90 the letters, 96-111 the keypad, 112-123 F1-F12, ...).
using KeysDown = std::bitset<256>;

// Where the shortcut watcher reads the keyboard. The X keyboard in the application, a
// scripted one in tests. User-interface thread only.
class KeyStateSource {
 public:
  virtual ~KeyStateSource() = default;

  // The keys held now; nothing when no keyboard state can be read at all.
  virtual std::optional<KeysDown> Read() = 0;

  // False where keys may be held without Read seeing them (an X client under Wayland sees
  // the keyboard only while one of the X programs has the focus).
  virtual bool SeesAllKeys() const { return true; }
};

// Virtual-key codes the watcher reads by name.
inline constexpr int kVkShift = 16;
inline constexpr int kVkControl = 17;
inline constexpr int kVkAlt = 18;

}  // namespace qm
