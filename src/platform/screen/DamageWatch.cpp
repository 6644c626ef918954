#include "platform/screen/DamageWatch.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <algorithm>
#include <map>
#include <vector>

#include "platform/screen/XConnection.h"

namespace qm {

namespace {

// Rectangles drawn since a watch last asked. Past this many they are joined into one box, so
// that a watch nobody asks (a paused recording) never grows without bound.
constexpr size_t kMaxPending = 256;

struct Pending {
  std::vector<Rect> Rects;

  void Add(const Rect& rect) {
    if (Rects.size() < kMaxPending) {
      Rects.push_back(rect);
      return;
    }
    Rect box = rect;
    for (const Rect& r : Rects) {
      box.Left = std::min(box.Left, r.Left);
      box.Top = std::min(box.Top, r.Top);
      box.Right = std::max(box.Right, r.Right);
      box.Bottom = std::max(box.Bottom, r.Bottom);
    }
    Rects.assign(1, box);
  }
};

// The events of every watch arrive on the one shared connection; whoever drains the queue
// sorts them to their watches. Used under the connection's lock only.
std::map<unsigned long, Pending> gPending;

}  // namespace

DamageWatch::DamageWatch() : connection_(XConnection::Shared()) {
  if (!connection_) return;
  XConnection::Lock lock(*connection_);
  Display* display = connection_->Display();
  int errorBase = 0;
  if (!XDamageQueryExtension(display, &eventBase_, &errorBase)) return;
  int major = 1, minor = 1;
  if (!XDamageQueryVersion(display, &major, &minor)) return;
  const uint64_t errors = connection_->ErrorCount();
  const Damage damage =
      XDamageCreate(display, DefaultRootWindow(display), XDamageReportRawRectangles);
  XSync(display, False);
  if (connection_->ErrorCount() != errors || damage == 0) return;
  damage_ = damage;
  gPending[damage_];
}

DamageWatch::~DamageWatch() {
  if (damage_ == 0) return;
  XConnection::Lock lock(*connection_);
  gPending.erase(damage_);
  if (!connection_->Broken()) {
    XDamageDestroy(connection_->Display(), damage_);
    XFlush(connection_->Display());
  }
}

bool DamageWatch::Lost() const {
  return connection_ && connection_->Broken();
}

void DamageWatch::Collect() {
  Display* display = connection_->Display();
  XEvent event;
  while (XCheckTypedEvent(display, eventBase_ + XDamageNotify, &event)) {
    const auto& notify = reinterpret_cast<const XDamageNotifyEvent&>(event);
    const auto found = gPending.find(notify.damage);
    if (found == gPending.end()) continue;  // a watch that has ended
    const XRectangle& r = notify.area;
    found->second.Add(Rect{r.x, r.y, r.x + int32_t(r.width), r.y + int32_t(r.height)});
  }
}

bool DamageWatch::Changed(const Rect& area, std::vector<Rect>* drawn) {
  if (damage_ == 0 || connection_->Broken()) return true;
  XConnection::Lock lock(*connection_);
  // The round trip brings in everything drawn before it.
  XSync(connection_->Display(), False);
  if (connection_->Broken()) return true;
  Collect();
  std::vector<Rect>& rects = gPending[damage_].Rects;
  bool changed = false;
  for (const Rect& r : rects) {
    if (!r.Overlaps(area)) continue;
    changed = true;
    if (drawn) drawn->push_back(r.Intersected(area));
  }
  rects.clear();
  return changed;
}

void DamageWatch::Peek(const Rect& area, std::vector<Rect>& drawn) {
  if (damage_ == 0 || connection_->Broken()) return;
  XConnection::Lock lock(*connection_);
  Collect();
  for (const Rect& r : gPending[damage_].Rects)
    if (r.Overlaps(area)) drawn.push_back(r.Intersected(area));
}

}  // namespace qm
