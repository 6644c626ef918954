#pragma once

#include <QString>

#include <memory>
#include <string>

#include "common/Rect.h"
#include "support/XScreen.h"

struct _XDisplay;

namespace qm::test {

// Drives another program's windows on the test display as a user would: finds its top-level
// windows by title, clicks through XTest, types keys, finds a coloured caption.
// Use on one thread.
class AppDriver {
 public:
  AppDriver();
  ~AppDriver();
  AppDriver(const AppDriver&) = delete;
  AppDriver& operator=(const AppDriver&) = delete;

  bool Ok() const { return display_ != nullptr; }

  // The bounds on the screen of the viewable window whose title is title, or an empty
  // rectangle. With exclude, a window at exactly those bounds is skipped.
  Rect FindWindow(const QString& title, const Rect& exclude = Rect()) const;
  // Clicks the left button at (x, y).
  void Click(int32_t x, int32_t y);
  // Presses and releases the key named by keysym (XStringToKeysym names: "Return", "Down",
  // "c"), with Control held when control is set.
  void Key(const char* keysym, bool control = false);
  // The centre of the pixels of area that have exactly colour; (-1, -1) when none has.
  Point FindColour(const Rect& area, Colour colour) const;

  XScreen& Screen() { return screen_; }

 private:
  struct Closer {
    void operator()(_XDisplay* display) const;
  };
  std::unique_ptr<_XDisplay, Closer> display_;
  XScreen screen_;
};

}  // namespace qm::test
