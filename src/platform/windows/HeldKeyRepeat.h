#pragma once

namespace qm {

// While it lives, the toolkit's own X connection learns of a held key as repeated presses
// with a single release at the end (XKB's detectable auto-repeat), instead of release and
// press pairs that the toolkit must tell from real ones by peeking at its queue, which it
// gets wrong when the press has not arrived yet. The earlier setting comes back at the end.
// Does nothing without an X11 toolkit connection. Use on the user-interface thread.
class HeldKeyRepeat {
 public:
  HeldKeyRepeat();
  ~HeldKeyRepeat();
  HeldKeyRepeat(const HeldKeyRepeat&) = delete;
  HeldKeyRepeat& operator=(const HeldKeyRepeat&) = delete;

 private:
  void* display_ = nullptr;  // the toolkit's Display, not owned
  bool wasDetectable_ = false;
};

}  // namespace qm
