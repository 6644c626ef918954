#pragma once

#include <memory>
#include <optional>

#include "cli/CliOptions.h"
#include "common/Rect.h"
#include "common/ScreenSource.h"

namespace qm::cli {

// Lets the user choose the area on the selection screen: a custom rectangle (--select) or the
// window under the pointer (--window), starting from --area or from 320 x 240 centred on the
// screen. Prints the area chosen on standard error; nullopt after printing "cancelled" when
// the user cancelled, or after the reason when the screen could not be copied. With a source
// the selection screen shows its picture (screen is its bounds), and the area is in its pixels,
// starting inside it.
std::optional<Rect> ChooseArea(const CaptureOptions& options, const Rect& screen,
                               const std::shared_ptr<ScreenSource>& source = nullptr);

}  // namespace qm::cli
