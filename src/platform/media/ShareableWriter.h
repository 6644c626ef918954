#pragma once

#include <QString>

#include "platform/media/MediaTypes.h"

namespace qm {

// Writes a shareable copy of an AVI recording: MP4 (H264 + AAC, its index at the front for
// streaming), WebM (VP9 + Opus) or Matroska (H264 + the sound as PCM, or Opus). H264
// pictures can go in unchanged; others are encoded, each picture once, with the time it
// shows: a repeated picture of the recording lengthens the one before it. Throws MediaError
// (the message names the reason, a full disk included) or MediaCancelled when progress
// answers false; what was written by then is the caller's to remove.
class ShareableWriter {
 public:
  static void Write(const QString& recording, const ShareJob& job, const MediaProgress& progress);
};

}  // namespace qm
