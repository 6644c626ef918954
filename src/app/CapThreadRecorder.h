#pragma once

#include <QObject>

#include <memory>

#include "app/RecordingController.h"

namespace qm {

class CapThread;
class MovieWriter;

// A recording on a real capture thread. The thread's end goes to a receiver of this recording
// alone, so it names this recording's file. User-interface thread only.
class CapThreadRecorder : public Recorder {
 public:
  CapThreadRecorder(MovieWriter& writer, const CapInfo& info, RecorderFinished finished);
  // Waits until the file is complete; an end still queued is delivered first.
  ~CapThreadRecorder() override;

  void Pause() override;
  void Continue() override;
  void Stop() override;
  bool IsFinished() const override;
  RecordingFigures Figures() const override;

  // The factory the main window gives its controller.
  static RecorderFactory Factory(MovieWriter& writer);

 private:
  std::unique_ptr<QObject> receiver_;
  std::unique_ptr<CapThread> thread_;
};

}  // namespace qm
