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
class TickClock;
class UiHandoff;

// The worker of one video recording. It opens the file through the movie writer, keeps the
// frame schedule, hands the grab and the frame step of every due frame to the user-interface
// thread through the hand-off, and closes the file with the rate really achieved; then it
// posts kWmCapDone to the owner, or reports the reason of a failure through OnError (also on
// the user-interface thread). A thread serves one recording.
//
// Every member function runs on the user-interface thread (the one the hand-off belongs to).
// Pause and Stop may also be called on the worker itself, from inside a step or the clock.
class CapThread {
 public:
  explicit CapThread(UiHandoff& handoff, TickClock& clock);
  explicit CapThread(UiHandoff& handoff);
  // Requests the stop, wakes a paused worker and waits until the file is complete, running
  // the steps the worker still hands over meanwhile.
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
  // Requests the stop; a paused worker is woken. The file is completed in the background.
  void Stop();

  // Waits until the worker has ended, running the steps it hands over meanwhile. It does not
  // request the stop.
  void WaitFor();

  bool IsStarted() const { return worker_.joinable() || finished_; }
  bool IsFinished() const { return finished_; }
  bool IsPaused() const { return paused_; }
  // True while the worker is blocked in a pause. The worker wakes the hand-off when it
  // blocks, so the hand-off's WaitUntil can wait for this.
  bool IsWaiting() const;

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
  void RunLoop();
  // Hands the grab and the frame step over; requests the stop when either fails.
  void TakeFrame();
  // Records the first reason of an end that the owner did not ask for.
  void EndBy(CaptureEnd end);
  void ReportError(const QString& reason);
  void PostCapDone();

  UiHandoff& handoff_;
  TickClock& clock_;
  std::thread worker_;

  CapInfo info_;
  std::unique_ptr<CaptureLib> grabber_;

  std::atomic<bool> paused_{false};
  std::atomic<bool> stopRequested_{false};
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
};

}  // namespace qm
