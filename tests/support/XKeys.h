#pragma once

#include <memory>
#include <vector>

struct _XDisplay;

namespace qm::test {

// Presses keys on the test X server through XTest, over a connection of its own, finding the
// keycode of each keysym in the server's keymap. Whatever it holds, locks or remaps is undone
// when it goes away. Use on one thread.
class XKeys {
 public:
  XKeys();
  ~XKeys();
  XKeys(const XKeys&) = delete;
  XKeys& operator=(const XKeys&) = delete;

  bool Ok() const { return display_ != nullptr; }

  // Presses (and holds) or releases the keys with these keysyms (XK_...), in order; returns
  // once the server has them.
  void Press(const std::vector<unsigned long>& keysyms);
  void Release(const std::vector<unsigned long>& keysyms);
  void ReleaseAll();
  // Presses and releases the key with this keysym.
  void Tap(unsigned long keysym);

  // Sets when a held key starts repeating and how often it repeats then; the server's own
  // rate comes back at the end.
  void SetAutoRepeat(unsigned delayMs, unsigned intervalMs);

  // Switches NumLock on or off.
  void SetNumLock(bool on);

  // Gives a keycode that has no keysym the keysym given; 0 when there is none free. The
  // keycode is emptied again at the end.
  int Remap(int keycode, unsigned long keysym);
  int FreeKeycode();

  // Presses or releases a keycode directly.
  void PressKeycode(int keycode, bool down);

 private:
  struct Closer {
    void operator()(_XDisplay* display) const;
  };
  int Keycode(unsigned long keysym) const;
  bool NumLockOn() const;

  std::unique_ptr<_XDisplay, Closer> display_;
  std::vector<int> held_;
  std::vector<int> remapped_;
  bool repeatChanged_ = false;
  unsigned repeatDelayWas_ = 0, repeatIntervalWas_ = 0;
  bool numLockChanged_ = false;
  bool numLockWas_ = false;
};

}  // namespace qm::test
