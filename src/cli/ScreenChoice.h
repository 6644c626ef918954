#pragma once

#include <memory>

#include "cli/CliOptions.h"
#include "common/ScreenSource.h"

namespace qm::cli {

// The screen a capturing command reads, as the options choose it. ok false, after telling
// why, when the desktop's screen sharing was asked for and did not start (refused, cancelled,
// or missing); else source is null for the X screen or the running screen-cast stream, whose
// session lasts as long as the pointer.
struct ChosenScreen {
  bool Ok = false;
  std::shared_ptr<ScreenSource> Source;
};
ChosenScreen OpenScreen(const CaptureOptions& options);

}  // namespace qm::cli
