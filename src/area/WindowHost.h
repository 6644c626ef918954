#pragma once

namespace qm {

// What the capture area and the photo path need of the main window.
class WindowHost {
 public:
  virtual ~WindowHost() = default;
  virtual void HideForSnapshot() = 0;    // hide the main window (not a move off screen)
  virtual void ShowAfterSnapshot() = 0;  // show it again at its place
};

}  // namespace qm
