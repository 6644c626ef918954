#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/Rect.h"

namespace qm {

class XConnection;

// Learns which parts of the screen were drawn on, through the X server's DAMAGE extension: a
// damage object on the root window reports every rectangle drawn, in any window. Lets a
// recorder leave out the frames in which nothing inside its area changed.
// One watch is used by one thread at a time; several watches may run at once.
class DamageWatch {
 public:
  // Starts watching at once; without the extension (or a display) Available() is false.
  DamageWatch();
  ~DamageWatch();
  DamageWatch(const DamageWatch&) = delete;
  DamageWatch& operator=(const DamageWatch&) = delete;

  bool Available() const { return damage_ != 0; }
  // The connection the watch was made on has broken: the server went away.
  bool Lost() const;

  // Whether anything was drawn inside area since the previous call (or since the watch
  // started). Also true whenever the answer cannot be known (no extension, the server went
  // away): the caller then reads the screen and learns what happened.
  // With drawn given, the rectangles drawn inside area are added to it, clipped to area.
  bool Changed(const Rect& area, std::vector<Rect>* drawn = nullptr);
  // Adds to drawn the rectangles drawn inside area (clipped to it) that have arrived since
  // Changed last asked, without a round trip to the server, and keeps them for the next
  // Changed. Right after a copy of the screen this covers everything drawn before the copy,
  // since the server sends its reports ahead of the copy's reply.
  void Peek(const Rect& area, std::vector<Rect>& drawn);

 private:
  std::shared_ptr<XConnection> connection_;
  // Sorts the reports that have arrived to their watches.
  void Collect();

  unsigned long damage_ = 0;  // the server's damage object; 0 when there is none
  int eventBase_ = 0;
};

}  // namespace qm
