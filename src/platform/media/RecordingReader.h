#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "platform/media/MediaTypes.h"

namespace qm {

// Reads the pictures of an AVI recording decoded and scaled to one size, as red, green, blue.
// The file is outside input: whatever it holds ends in MediaError or in fewer pictures,
// never in a crash. One thread at a time.
class RecordingReader {
 public:
  // Opens path; MediaError when it is no AVI file with pictures that can be decoded.
  explicit RecordingReader(const QString& path);
  ~RecordingReader();
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;

  const RecordingInfo& Info() const;

  // Every picture from the key frame at or before from up to to that schedule keeps, at
  // width x height, in order, to sink. A repeated picture (an empty chunk) makes no picture
  // of its own: the one before shows longer. progress hears how far it came; when it
  // answers false, MediaCancelled ends the reading.
  void Read(FrameSchedule& schedule, double from, double to, int width, int height,
            const std::function<void(const RgbPicture&)>& sink, const MediaProgress& progress);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
