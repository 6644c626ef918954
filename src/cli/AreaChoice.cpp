#include "cli/AreaChoice.h"

#include <QString>

#include "area/SelectionScreen.h"
#include "common/PictureArea.h"
#include "common/SilentAbort.h"

namespace qm::cli {

std::optional<Rect> ChooseArea(const CaptureOptions& options, const Rect& screen,
                               const std::shared_ptr<ScreenSource>& source) {
  Rect rect = options.Area ? *options.Area : CentredArea(320, 240, screen);
  // A shared picture's selection starts inside it, as the area recorded from it would be.
  if (source) rect = AreaOnPicture(rect, screen, screen);
  uint64_t window = 0;
  bool accepted = false;
  try {
    accepted = SelectionScreen::Execute(rect, window, options.Window, options.Window, false,
                                        nullptr, source);
  } catch (const SilentAbort&) {
    return std::nullopt;  // the reason has been written already
  }
  if (!accepted) {
    // Also after a snapshot that failed, whose reason the grabber has written above.
    PrintError(QStringLiteral("cancelled"));
    return std::nullopt;
  }
  QString text = QStringLiteral("area: %1,%2,%3,%4")
                     .arg(rect.Left)
                     .arg(rect.Top)
                     .arg(rect.Width())
                     .arg(rect.Height());
  if (window != 0) text += QStringLiteral(" (window 0x%1)").arg(window, 0, 16);
  PrintError(text);
  return rect;
}

}  // namespace qm::cli
