#include "area/WindowFinder.h"

#include "platform/windows/DesktopWindows.h"

namespace qm {

bool WindowFinder::Node::GetRect(Rect& rect) const {
  if (handle_ == 0 || !boundsOk_) return false;
  rect = bounds_;
  return true;
}

WindowFinder::Node& WindowFinder::Node::AddChild(uint64_t handle, const Rect& bounds,
                                                 bool boundsOk) {
  children_.push_back(std::make_unique<Node>(handle, bounds, boundsOk));
  return *children_.back();
}

WindowFinder::Node* WindowFinder::Node::FindAt(Point point) {
  Rect r;
  if (!GetRect(r)) return nullptr;
  const int32_t dx = r.Width() / 8, dy = r.Height() / 8;
  r.Left += dx;
  r.Right -= dx;
  r.Top += dy;
  r.Bottom -= dy;
  Node* candidate = r.Contains(point) ? this : nullptr;
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
    if (Node* found = (*it)->FindAt(point)) candidate = found;
  }
  return candidate;
}

WindowFinder::WindowFinder() = default;

WindowFinder::~WindowFinder() = default;

void WindowFinder::Refresh() {
  root_.children_.clear();
  if (!windows_) windows_ = std::make_unique<DesktopWindows>();
  for (const WindowRecord& top : windows_->TopLevelWindows()) {
    if (top.Visible) root_.AddChild(top.Handle, top.Bounds, top.BoundsOk);
  }
  for (const std::unique_ptr<Node>& top : root_.children_) {
    for (const WindowRecord& child : windows_->Descendants(top->handle_))
      top->AddChild(child.Handle, child.Bounds, child.BoundsOk);
  }
}

WindowFinder::Node* WindowFinder::FindUnderCursor() {
  if (!windows_) windows_ = std::make_unique<DesktopWindows>();
  Point pointer;
  if (!windows_->PointerPosition(pointer)) return nullptr;
  return FindAt(pointer);
}

WindowFinder::Node* WindowFinder::FindInTree(Point point) {
  Node* answer = nullptr;
  for (auto it = root_.children_.rbegin(); it != root_.children_.rend(); ++it) {
    if (Node* found = (*it)->FindAt(point)) answer = found;
  }
  return answer;
}

WindowFinder::Node* WindowFinder::FindAt(Point point) {
  if (!windows_) windows_ = std::make_unique<DesktopWindows>();
  // Each pass either confirms its answer or rules one more node out, so this ends.
  while (Node* found = FindInTree(point)) {
    Rect now;
    if (windows_->CurrentRect(found->handle_, now)) return found;
    found->boundsOk_ = false;  // closed since the tree was built
  }
  return nullptr;
}

}  // namespace qm
