#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/keyboard/KeyStateSource.h"

// Xlib's display type, named without including Xlib.
struct _XDisplay;

namespace qm {

// The X keyboard, read without grabbing anything: one XQueryKeymap per Read gives the keycodes
// held, joined with the keys pressed since the previous Read as the XInput 2 raw key events
// on the root window report them (a quick tap between two reads still counts; without
// XInput 2.1 the held keys alone), and the keyboard mapping (group 1, levels 0 and 1) turns
// them into virtual-key codes.
// Shift, Ctrl and Alt on either side give the generic code, AltGr gives Ctrl and Alt, and the
// keypad follows NumLock (off: keypad 7 is Home). The mapping is read again whenever the
// server announces a change. Uses a connection of its own. User-interface thread only.
class XKeyStateSource : public KeyStateSource {
 public:
  // Connects to the display named by DISPLAY; Read answers nothing when that fails.
  XKeyStateSource();
  ~XKeyStateSource() override;
  XKeyStateSource(const XKeyStateSource&) = delete;
  XKeyStateSource& operator=(const XKeyStateSource&) = delete;

  std::optional<KeysDown> Read() override;
  bool SeesAllKeys() const override;

 private:
  struct Closer {
    void operator()(_XDisplay* display) const;
  };
  // The virtual-key codes of one keycode; 0 ends the list.
  using Codes = std::array<uint8_t, 4>;

  void ReadMapping();
  bool NumLockOn();
  // Asks for the raw key presses of every keyboard; false when the server cannot send them.
  bool SelectRawKeys();

  std::unique_ptr<_XDisplay, Closer> display_;
  std::vector<Codes> numLockOff_;  // by keycode
  std::vector<Codes> numLockOn_;
  unsigned numLockMask_ = 0;  // the modifier bit NumLock locks; 0 when it has none
  int inputOpcode_ = -1;      // the XInput extension's major opcode; -1 without raw events
};

}  // namespace qm
