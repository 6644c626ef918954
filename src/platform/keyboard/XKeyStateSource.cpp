#include "platform/keyboard/XKeyStateSource.h"

#include <QByteArray>
#include <QtGlobal>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <algorithm>

namespace qm {

namespace {

// Named keysyms and their virtual-key codes.
struct NamedKeysym {
  KeySym keysym;
  uint8_t code;
};

// clang-format off
constexpr NamedKeysym kNamed[] = {
  {XK_BackSpace, 8},   {XK_Tab, 9},           {XK_Return, 13},      {XK_Pause, 19},
  {XK_Caps_Lock, 20},  {XK_Escape, 27},       {XK_space, 32},       {XK_Prior, 33},
  {XK_Next, 34},       {XK_End, 35},          {XK_Home, 36},        {XK_Left, 37},
  {XK_Up, 38},         {XK_Right, 39},        {XK_Down, 40},        {XK_Print, 44},
  {XK_Insert, 45},     {XK_Delete, 46},       {XK_Super_L, 91},     {XK_Super_R, 92},
  {XK_Menu, 93},       {XK_Num_Lock, 144},    {XK_Scroll_Lock, 145},
  {XK_Shift_L, 16},    {XK_Shift_R, 16},      {XK_Control_L, 17},   {XK_Control_R, 17},
  {XK_Alt_L, 18},      {XK_Alt_R, 18},        {XK_Meta_L, 18},      {XK_Meta_R, 18},
  // The keypad with NumLock off, and the keys it has either way.
  {XK_KP_Insert, 45},  {XK_KP_End, 35},       {XK_KP_Down, 40},     {XK_KP_Next, 34},
  {XK_KP_Left, 37},    {XK_KP_Begin, 12},     {XK_KP_Right, 39},    {XK_KP_Home, 36},
  {XK_KP_Up, 38},      {XK_KP_Prior, 33},     {XK_KP_Delete, 46},   {XK_KP_Enter, 13},
  {XK_KP_Multiply, 106}, {XK_KP_Add, 107},    {XK_KP_Separator, 108}, {XK_KP_Subtract, 109},
  {XK_KP_Decimal, 110}, {XK_KP_Divide, 111},
};
// clang-format on

void Add(uint8_t code, std::array<uint8_t, 4>& codes) {
  if (code == 0) return;
  for (uint8_t& slot : codes) {
    if (slot == code) return;
    if (slot == 0) {
      slot = code;
      return;
    }
  }
}

// The virtual-key codes of one keysym: one for most, Ctrl and Alt for AltGr, none for keys
// that no code names.
void AddKeysym(KeySym keysym, std::array<uint8_t, 4>& codes) {
  if (keysym >= XK_a && keysym <= XK_z) return Add(uint8_t('A' + (keysym - XK_a)), codes);
  if (keysym >= XK_A && keysym <= XK_Z) return Add(uint8_t(keysym), codes);
  if (keysym >= XK_0 && keysym <= XK_9) return Add(uint8_t(keysym), codes);
  if (keysym >= XK_KP_0 && keysym <= XK_KP_9) {
    return Add(uint8_t(96 + (keysym - XK_KP_0)), codes);
  }
  if (keysym >= XK_F1 && keysym <= XK_F24) return Add(uint8_t(112 + (keysym - XK_F1)), codes);
  // Windows reports the AltGr key as Ctrl and Alt held together.
  if (keysym == XK_ISO_Level3_Shift || keysym == XK_Mode_switch) {
    Add(17, codes);
    return Add(18, codes);
  }
  for (const NamedKeysym& named : kNamed) {
    if (named.keysym == keysym) return Add(named.code, codes);
  }
}

// Keypad digit keys: level 1 is the digit, which NumLock selects.
bool IsKeypadDigitKey(KeySym level1) {
  return (level1 >= XK_KP_0 && level1 <= XK_KP_9) || level1 == XK_KP_Decimal;
}

}  // namespace

void XKeyStateSource::Closer::operator()(_XDisplay* display) const {
  if (display) XCloseDisplay(display);
}

XKeyStateSource::XKeyStateSource() : display_(XOpenDisplay(nullptr)) {
  if (!display_) return;
  ReadMapping();
  if (!SelectRawKeys()) inputOpcode_ = -1;
}

bool XKeyStateSource::SelectRawKeys() {
  Display* display = display_.get();
  int event = 0, error = 0;
  if (!XQueryExtension(display, "XInputExtension", &inputOpcode_, &event, &error)) return false;
  // Raw events reach every client that asks for them only from version 2.1 on.
  int major = 2, minor = 1;
  if (XIQueryVersion(display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 1))
    return false;
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
  XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
  XSync(display, False);
  return true;
}

XKeyStateSource::~XKeyStateSource() = default;

bool XKeyStateSource::SeesAllKeys() const {
  return qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
         qgetenv("XDG_SESSION_TYPE").toLower() != "wayland";
}

void XKeyStateSource::ReadMapping() {
  Display* display = display_.get();
  int minCode = 0, maxCode = 0;
  XDisplayKeycodes(display, &minCode, &maxCode);
  numLockOff_.assign(256, Codes{});
  numLockOn_.assign(256, Codes{});
  int perCode = 0;
  const int count = maxCode - minCode + 1;
  std::unique_ptr<KeySym, int (*)(void*)> map(
      XGetKeyboardMapping(display, KeyCode(minCode), count, &perCode), XFree);
  if (map && perCode > 0) {
    for (int i = 0; i < count; ++i) {
      const KeySym* syms = map.get() + size_t(i) * size_t(perCode);
      const KeySym level0 = syms[0];
      const KeySym level1 = perCode > 1 ? syms[1] : NoSymbol;
      Codes& off = numLockOff_[size_t(minCode + i)];
      Codes& on = numLockOn_[size_t(minCode + i)];
      if (IsKeypadDigitKey(level1)) {
        AddKeysym(level0, off);
        AddKeysym(level1, on);
        continue;
      }
      // Both levels, so that digits count on keyboards that have them shifted (AZERTY).
      for (KeySym keysym : {level0, level1}) {
        AddKeysym(keysym, off);
        AddKeysym(keysym, on);
      }
    }
  }

  // The modifier bit that NumLock locks.
  numLockMask_ = 0;
  const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
  if (XModifierKeymap* modifiers = XGetModifierMapping(display)) {
    for (int mod = 0; mod < 8 && numLock != 0; ++mod) {
      for (int k = 0; k < modifiers->max_keypermod; ++k) {
        if (modifiers->modifiermap[mod * modifiers->max_keypermod + k] == numLock) {
          numLockMask_ = 1u << mod;
        }
      }
    }
    XFreeModifiermap(modifiers);
  }
}

bool XKeyStateSource::NumLockOn() {
  if (numLockMask_ == 0) return false;
  Display* display = display_.get();
  Window root = 0, child = 0;
  int rootX = 0, rootY = 0, x = 0, y = 0;
  unsigned mask = 0;
  XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &x, &y, &mask);
  return (mask & numLockMask_) != 0;
}

std::optional<KeysDown> XKeyStateSource::Read() {
  Display* display = display_.get();
  if (!display) return std::nullopt;
  char keys[32] = {};
  XQueryKeymap(display, keys);
  // A changed mapping is announced to every client, and the raw key presses come as they
  // happen; after the round trip above, every event sent before it is queued.
  bool changed = false;
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      changed = true;
    } else if (event.type == GenericEvent && event.xcookie.extension == inputOpcode_ &&
               XGetEventData(display, &event.xcookie)) {
      if (event.xcookie.evtype == XI_RawKeyPress) {
        const int keycode = static_cast<const XIRawEvent*>(event.xcookie.data)->detail;
        if (keycode > 0 && keycode < 256)
          keys[keycode / 8] = char(uint8_t(keys[keycode / 8]) | 1u << (keycode % 8));
      }
      XFreeEventData(display, &event.xcookie);
    }
  }
  if (changed) ReadMapping();

  const std::vector<Codes>& codes = NumLockOn() ? numLockOn_ : numLockOff_;
  KeysDown down;
  for (size_t keycode = 0; keycode < 256; ++keycode) {
    if ((uint8_t(keys[keycode / 8]) >> (keycode % 8) & 1) == 0) continue;
    for (uint8_t code : codes[keycode]) {
      if (code != 0) down.set(code);
    }
  }
  return down;
}

}  // namespace qm
