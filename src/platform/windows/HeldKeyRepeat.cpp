#include "platform/windows/HeldKeyRepeat.h"

#include <QGuiApplication>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace qm {

HeldKeyRepeat::HeldKeyRepeat() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (!display) return;
  // The toolkit's Xlib display shares its connection, so the flag holds for its events.
  const unsigned int flags = XkbPCF_DetectableAutoRepeatMask;
  unsigned int value = 0;
  if (!XkbGetPerClientControls(display, &value)) return;
  wasDetectable_ = (value & flags) != 0;
  Bool supported = False;
  XkbSetDetectableAutoRepeat(display, True, &supported);
  if (supported) display_ = display;
}

HeldKeyRepeat::~HeldKeyRepeat() {
  if (!display_ || wasDetectable_) return;
  Bool supported = False;
  XkbSetDetectableAutoRepeat(static_cast<Display*>(display_), False, &supported);
}

}  // namespace qm
