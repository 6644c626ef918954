#pragma once

#include <QString>

#include "export/ExportPlan.h"
#include "platform/media/MediaTypes.h"

namespace qm {

// Exports a recording to a shareable file: the plan for it, the recording read (a cut-off
// one through a repaired private copy), the file written under a temporary name and named
// at the end. Throws ExportError with the reason (a full disk, a cancel, a damaged
// recording); nothing of the output is left then.
class Exporter {
 public:
  // The line that tells what was written: "OUT: MP4, 1280x720, 12.0 s, 1.2 MB".
  static QString Run(const ExportRequest& request, const MediaProgress& progress);
};

}  // namespace qm
