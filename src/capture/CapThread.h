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

class CaptureLib;
class SoundTrack;
class TickClock;
class WriterThread;

// The worker of one video recording. It opens the file through the movie writer, keeps the
// frame schedule, grabs every due frame on its own connection to the screen and hands it to a
// writer thread that compresses and writes it meanwhile (WriterThread), and closes the file
// with the rate really achieved; then it posts kWmCapDone to the owner, or posts the reason of
// a failure to OnError, which runs on the owner's thread. It never waits for its owner. A
// thread serves one recording.
//
// The member functions run on the owner's thread; Pause and Stop may also be called on the
// worker itself (from the clock), and Figures from any thread.
class CapThread {
 public:
  explicit CapThread(TickClock& clock);
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

  bool IsStarted() const { return worker_.joinable() || finished_; }
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
  uint32_t FramesTaken() const { return taken_; }

  // Figures of the recording, for reading after WaitFor.
  uint32_t GetActiveTime() const { return activeTime_; }
  // Frames in the file; with the active time it gives the rate the file is closed with.
  uint32_t GetFrameTally() const { return frameTally_; }
  long double GetActualFrameRate() const { return actualFrameRate_; }
  // Why the recording ended; Stopped until it has.
  CaptureEnd GetEnd() const { return end_; }

 private:
  void Execute();
  // Returns true when the file was opened, run and closed successfully; else reason says why.
  bool Record(QString& reason);
  // The frame loop. Throws what a step threw.
  void RunLoop(WriterThread& pipe);
  // Grabs a frame and queues it for the writer; requests the stop when the grab fails.
  void TakeFrame(WriterThread& pipe);
  // The writer of the running recording, for the calls of other threads; null before and after.
  void SetPipe(WriterThread* pipe);
  // Records the first reason of an end that the owner did not ask for.
  void EndBy(CaptureEnd end);
  void ReportError(const QString& reason);
  void PostCapDone();
  // The frame period in microseconds.
  int64_t PeriodMicroseconds() const;

  TickClock& clock_;
  std::thread worker_;

  CapInfo info_;
  std::unique_ptr<CaptureLib> grabber_;

  std::atomic<bool> paused_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> ownerStop_{false};  // the stop came from Stop, not from a failed step
  std::atomic<bool> finished_{false};
  std::atomic<CaptureEnd> end_{CaptureEnd::Stopped};

  // Guards the pause wait: waiting_, and the segment clock while Continue writes it.
  mutable std::mutex pauseMutex_;
  std::condition_variable pauseWake_;
  bool waiting_ = false;

  // Worker-owned, except that Continue restarts the segment while the worker waits.
  uint32_t nowTick_ = 0;
  uint32_t segmentStart_ = 0;
  uint32_t activeTime_ = 0;
  uint32_t frameTally_ = 0;
  uint32_t lastCheckpoint_ = 0;  // worker-owned
  bool checkpointed_ = false;    // worker-owned
  long double actualFrameRate_ = 0;

  // The figures as the worker last published them.
  std::atomic<uint32_t> active_{0};
  std::atomic<uint32_t> taken_{0};
  std::atomic<uint32_t> caughtUp_{0};
  std::atomic<uint32_t> framesDone_{0};  // written, once the writer has ended
  std::atomic<int64_t> bytesDone_{0};

  mutable std::mutex pipeMutex_;  // guards pipe_
  WriterThread* pipe_ = nullptr;

  // The sound of the running recording, when it has one; guarded by pauseMutex_.
  std::shared_ptr<SoundTrack> sound_;
};

}  // namespace qm
