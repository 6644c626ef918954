#pragma once

#include <optional>

#include "cli/CliOptions.h"
#include "common/Rect.h"

namespace qm::cli {

// Lets the user choose the area on the selection screen: a custom rectangle (--select) or the
// window under the pointer (--window), starting from --area or from 320 x 240 centred on the
// screen. Prints the area chosen on standard error; nullopt after printing "cancelled" when
// the user cancelled, or after the reason when the screen could not be copied.
std::optional<Rect> ChooseArea(const CaptureOptions& options, const Rect& screen);

}  // namespace qm::cli
