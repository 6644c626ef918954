#include "support/XKeys.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>

namespace qm::test {

void XKeys::Closer::operator()(_XDisplay* display) const {
  if (display) XCloseDisplay(display);
}

XKeys::XKeys() : display_(XOpenDisplay(nullptr)) {
  if (display_) numLockWas_ = NumLockOn();
}

XKeys::~XKeys() {
  if (!display_) return;
  ReleaseAll();
  if (numLockChanged_) SetNumLock(numLockWas_);
  if (repeatChanged_)
    XkbSetAutoRepeatRate(display_.get(), XkbUseCoreKbd, repeatDelayWas_, repeatIntervalWas_);
  for (int keycode : remapped_) Remap(keycode, NoSymbol);
  XSync(display_.get(), False);
}

int XKeys::Keycode(unsigned long keysym) const {
  return XKeysymToKeycode(display_.get(), KeySym(keysym));
}

void XKeys::PressKeycode(int keycode, bool down) {
  XTestFakeKeyEvent(display_.get(), unsigned(keycode), down ? True : False, CurrentTime);
  XSync(display_.get(), False);
  if (down) {
    held_.push_back(keycode);
  } else {
    held_.erase(std::remove(held_.begin(), held_.end(), keycode), held_.end());
  }
}

void XKeys::Press(const std::vector<unsigned long>& keysyms) {
  for (unsigned long keysym : keysyms) PressKeycode(Keycode(keysym), true);
}

void XKeys::Release(const std::vector<unsigned long>& keysyms) {
  for (unsigned long keysym : keysyms) PressKeycode(Keycode(keysym), false);
}

void XKeys::SetAutoRepeat(unsigned delayMs, unsigned intervalMs) {
  if (!repeatChanged_ &&
      XkbGetAutoRepeatRate(display_.get(), XkbUseCoreKbd, &repeatDelayWas_, &repeatIntervalWas_))
    repeatChanged_ = true;
  XkbSetAutoRepeatRate(display_.get(), XkbUseCoreKbd, delayMs, intervalMs);
  XSync(display_.get(), False);
}

void XKeys::Tap(unsigned long keysym) {
  Press({keysym});
  Release({keysym});
}

void XKeys::ReleaseAll() {
  while (!held_.empty()) PressKeycode(held_.back(), false);
}

bool XKeys::NumLockOn() const {
  XkbStateRec state{};
  XkbGetState(display_.get(), XkbUseCoreKbd, &state);
  return (state.locked_mods & XkbKeysymToModifiers(display_.get(), XK_Num_Lock)) != 0;
}

void XKeys::SetNumLock(bool on) {
  if (NumLockOn() == on) return;
  numLockChanged_ = true;
  const int keycode = Keycode(XK_Num_Lock);
  PressKeycode(keycode, true);
  PressKeycode(keycode, false);
}

int XKeys::FreeKeycode() {
  Display* d = display_.get();
  int minCode = 0, maxCode = 0;
  XDisplayKeycodes(d, &minCode, &maxCode);
  for (int keycode = maxCode; keycode >= minCode; --keycode) {
    int perCode = 0;
    KeySym* syms = XGetKeyboardMapping(d, KeyCode(keycode), 1, &perCode);
    bool empty = true;
    for (int i = 0; i < perCode; ++i) empty = empty && syms[i] == NoSymbol;
    XFree(syms);
    if (empty && std::find(remapped_.begin(), remapped_.end(), keycode) == remapped_.end()) {
      return keycode;
    }
  }
  return 0;
}

int XKeys::Remap(int keycode, unsigned long keysym) {
  KeySym syms[2] = {KeySym(keysym), KeySym(keysym)};
  XChangeKeyboardMapping(display_.get(), keycode, 2, syms, 1);
  XSync(display_.get(), False);
  if (keysym != NoSymbol &&
      std::find(remapped_.begin(), remapped_.end(), keycode) == remapped_.end()) {
    remapped_.push_back(keycode);
  }
  return keycode;
}

}  // namespace qm::test
