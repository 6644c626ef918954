#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/Rect.h"

namespace qm {

class DesktopWindows;

// A picture of the desktop's windows taken once, and the window under the pointer in it. The
// tree has two levels below the root: the visible top-level windows, topmost first, and under
// each of them all of its descendants side by side, in the order the desktop lists them.
// Rectangles are read while the tree is built, so a pointer movement costs no more than the
// pointer query and one check that the window found still exists.
// Use on the user-interface thread.
class WindowFinder {
 public:
  class Node {
   public:
    Node(uint64_t handle, const Rect& bounds, bool boundsOk)
        : handle_(handle), bounds_(bounds), boundsOk_(boundsOk) {}
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // The window this node stands for; 0 for the root.
    uint64_t Handle() const { return handle_; }

    // The window's rectangle in screen pixels; false for the root and for a window that was
    // gone when the tree was built or has been found closed since.
    bool GetRect(Rect& rect) const;

    // Appends a node for the window and returns it.
    Node& AddChild(uint64_t handle, const Rect& bounds, bool boundsOk);

    // The node of this subtree that the point selects: a matching descendant beats the node
    // itself, the earliest of several matching children wins; a node matches when the point
    // lies in its rectangle shrunk by an eighth of its width and height on each side.
    // nullptr when nothing matches.
    Node* FindAt(Point point);

    const std::vector<std::unique_ptr<Node>>& Children() const { return children_; }

   private:
    friend class WindowFinder;
    uint64_t handle_;
    Rect bounds_;
    bool boundsOk_;
    std::vector<std::unique_ptr<Node>> children_;
  };

  WindowFinder();
  ~WindowFinder();
  WindowFinder(const WindowFinder&) = delete;
  WindowFinder& operator=(const WindowFinder&) = delete;

  // Reads the desktop's windows anew; hidden top-level windows are left out.
  void Refresh();

  // The node under the pointer, from the topmost top-level window that has a match; nullptr
  // when there is none or the pointer cannot be read.
  Node* FindUnderCursor();

  // The same for a given point. A window found closed since the tree was built is never
  // answered: it is marked gone and the search goes on without it.
  Node* FindAt(Point point);

  // The root (handle 0) with the top-level nodes as its children.
  const Node& Root() const { return root_; }

 private:
  Node* FindInTree(Point point);

  std::unique_ptr<DesktopWindows> windows_;
  Node root_{0, Rect(), false};
};

}  // namespace qm
