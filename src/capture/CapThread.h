#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "capture/CapInfo.h"

namespace qm {

class Grabber;
class MovieWriter;
class SoundInput;
struct AviSettings;
class SoundTrack;
class TickClock;
class WriterThread;

// What tests change in a capture thread: a writer slower than any compressor (each frame step
// takes at least this long), the grabber's road without the server's damage reports, and
// changed frames copied whole instead of only their changed rows.
struct CapThreadOptions {
  uint32_t WriterStepMs = 0;
  bool DamageReports = true;
  bool PartialCopies = true;
};

// The worker of one video recording. It opens the file through the movie writer, keeps the
// frame schedule, grabs every due frame on its own connection to the screen and hands it to a
// writer thread that compresses and writes it meanwhile (WriterThread), and closes the file
// with the rate really achieved; then it says how the recording ended, once, through
// CapInfo::Finished. It never waits for its owner. A thread serves one recording.
//
// The member functions run on the owner's thread; Pause and Stop may also be called on the
// worker itself (from the clock), and Figures from any thread.
class CapThread {
 public:
  explicit CapThread(TickClock& clock, CapThreadOptions options = {});
  CapThread();
  // Requests the stop, wakes a paused worker and waits until the file is complete: after the
  // frame being written at most.
  ~CapThread();
  CapThread(const CapThread&) = delete;
  CapThread& operator=(const CapThread&) = delete;

  // Copies the job record; once, before Start.
  void SetInfo(const CapInfo& info);
  // Starts the worker at below-normal priority. Once.
  void Start();

  void Pause();
  // Ends a pause: the schedule starts again from its first frame, one period from now.
  void Continue();
  // Requests the stop; a paused worker is woken, and a frame that waits for the writer is
  // dropped. The file is completed in the background, after the frame being written.
  void Stop();

  // Waits until the worker has ended. It does not request the stop.
  void WaitFor();

  bool IsStarted() const { return thread_.joinable() || finished_; }
  bool IsFinished() const { return finished_; }
  bool IsPaused() const { return paused_; }
  // True while the worker is blocked in a pause.
  bool IsWaiting() const;

  // How the recording goes so far. Any thread.
  RecordingFigures Figures() const;
  // The writer has written what it was given (or there is no writer). For callers that keep
  // time themselves and want each frame in the file before the clock moves on. Any thread.
  bool WriterIdle() const;
  // Frames handed to the writer so far (written, or waiting to be). Any thread.
  uint32_t FramesTaken() const { return figures_.Taken; }

  // Figures of the recording, for reading after WaitFor.
  uint32_t GetActiveTime() const { return own_.ActiveTime; }
  // Frames in the file; with the active time it gives the rate the file is closed with.
  uint32_t GetFrameTally() const { return own_.FrameTally; }
  long double GetActualFrameRate() const { return own_.ActualFrameRate; }

 private:
  void Execute();
  // Returns true when the file was opened, run and closed successfully; else reason says why.
  bool Record(QString& reason);
  // The steps of Record: the file's settings; the sound, when asked for and to be had; the
  // frames with their writer thread (false when a step failed); the sound's end.
  AviSettings Settings() const;
  std::shared_ptr<SoundTrack> StartSound(MovieWriter& writer, SoundInput& input);
  bool RunFrames(MovieWriter& writer, const std::shared_ptr<SoundTrack>& track, SoundInput& input);
  bool EndSound(MovieWriter& writer, SoundTrack& track, SoundInput& input, bool write);
  // The frame loop. Throws what a step threw.
  void RunLoop(WriterThread& writerThread);
  // Grabs a frame and queues it for the writer; requests the stop when the grab fails.
  void TakeFrame(WriterThread& writerThread);
  // The writer thread of the running recording, for the calls of other threads; null before
  // and after.
  void SetWriterThread(WriterThread* writerThread);
  // Records the first end that the owner did not ask for, with what the user is to be told.
  void EndBy(CaptureEnd end, const QString& why = QString());
  // The running segment's time counts in the figures as it passes (live), or no longer (its
  // time is in own_.ActiveTime).
  void PublishSegment(bool live);
  // Says once how the recording ended.
  void Announce(CaptureEnd end, const QString& why);
  // The frame period in microseconds.
  int64_t PeriodMicroseconds() const;

  TickClock& clock_;
  const CapThreadOptions options_;
  std::thread thread_;
  CapInfo info_;
  std::unique_ptr<Grabber> grabber_;  // the worker's

  // Requests and states that any thread reads.
  std::atomic<bool> paused_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> ownerStop_{false};  // the stop came from Stop, not from a failed step
  std::atomic<bool> finished_{false};
  std::atomic<CaptureEnd> end_{CaptureEnd::Stopped};
  QString endReason_;  // the worker's: why end_ came, for the user

  // The worker's own. Continue alone writes the segment's start, and only while the worker
  // waits in the pause (under pauseMutex_).
  struct WorkerOwned {
    uint32_t NowTick = 0;
    uint32_t SegmentStart = 0;
    uint32_t ActiveTime = 0;
    uint32_t FrameTally = 0;
    uint32_t LastCheckpoint = 0;
    bool Checkpointed = false;
    long double ActualFrameRate = 0;
  } own_;

  // Shared under pauseMutex_: the pause wait, and the sound of the running recording.
  struct PauseShared {
    bool Waiting = false;
    std::shared_ptr<SoundTrack> Sound;
  };
  mutable std::mutex pauseMutex_;
  std::condition_variable pauseWake_;
  PauseShared pause_;

  // The figures as the worker last published them, for any thread. The running segment's
  // time is counted on reading, once its first frame is grabbed, so it moves on while the
  // worker waits for a slow writer. Active, Live and LiveSince are guarded by pauseMutex_.
  struct Published {
    uint32_t Active = 0;     // the segments before the running one
    bool Live = false;       // the running segment has had its first grab
    uint32_t LiveSince = 0;  // that segment's start
    std::atomic<uint32_t> Taken{0};
    std::atomic<uint32_t> CaughtUp{0};
    std::atomic<uint32_t> FramesDone{0};  // written, once the writer thread has ended
    std::atomic<int64_t> BytesDone{0};
    std::atomic<bool> MonitorsChanged{false};
  } figures_;

  // The running recording's writer thread, under writerThreadMutex_.
  mutable std::mutex writerThreadMutex_;
  WriterThread* writerThread_ = nullptr;
};

}  // namespace qm
