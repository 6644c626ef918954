#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "capture/CapInfo.h"
#include "common/DIBBitmap.h"

namespace qm {

class MovieWriter;

// Lowers the calling thread's priority a little: the recording's workers yield to the
// user-interface thread.
void LowerCurrentThreadPriority();

// How a recording ends when writer refused a chunk: at the file's size limit, or a failed
// write.
CaptureEnd RefusedWriteEnd(const MovieWriter& writer);

// Compresses and writes the frames of one recording on a thread of its own, so that the
// capture thread grabs the next picture while this one is compressed. One frame at most waits
// between the two: a capture thread that is ahead waits for the writer (and then catches up
// by its schedule); it never queues a second frame.
//
// Compressed recordings swap pictures: the capture thread draws into a spare bitmap, and the
// writer exchanges it for the compressor's own when it takes the frame. Uncompressed ones are
// drawn in place, where the file writer writes them from, and so only while the writer is idle.
//
// One capture thread calls GrabTarget, Submit, Checkpoint and Finish; Interrupt and Abandon may
// be called from any thread; the figures from any thread.
class WriterThread {
 public:
  // What a frame step writes.
  enum class Step {
    Picture,  // the picture drawn into GrabTarget
    Same,     // nothing changed: the previous picture repeats (an empty chunk)
    Again,    // the previous picture once more, whole (the grab failed)
  };

  // writer must be open; the thread starts at once. interrupted tells the capture thread's
  // waits to give up (a pause or a stop came); Nudge makes them ask it again.
  // sound, when given, runs on the writer's thread after each frame step and at each
  // refresh: it adds the sound that came meanwhile, and returns false when the file refused it.
  // minimumStepMs makes every frame step take at least that long: tests play a compressor far
  // slower than the frame rate with it.
  WriterThread(MovieWriter& writer, std::function<bool()> interrupted,
               std::function<bool()> sound = {}, uint32_t minimumStepMs = 0);
  // Abandons the queue and ends the thread.
  ~WriterThread();
  WriterThread(const WriterThread&) = delete;
  WriterThread& operator=(const WriterThread&) = delete;

  // Where the next picture is drawn; waits while the writer still needs that place. nullptr
  // when the wait was interrupted, abandoned, or the writer has failed.
  DIBBitmap* GrabTarget();
  // Queues a frame step, waiting while another frame still waits. False when the step was not
  // queued (interrupted, abandoned, or the writer has failed).
  bool Submit(Step step);
  // Asks for the file's sizes and counts to be refreshed after the frames queued so far, with
  // the active time so far; a request not yet served is replaced.
  void Checkpoint(uint32_t activeMilliseconds);

  // Makes the waits of GrabTarget and Submit test interrupted again. Any thread.
  void Nudge();
  // Drops the frame that waits; the step being written completes. Waits end, and no step is
  // taken any more. Any thread.
  void Abandon();
  // Waits until every queued step is written and ends the thread; with dropWaiting a frame
  // that waits behind the one being written is dropped instead (the user asked for the stop:
  // the file completes after the frame in hand). It rethrows what a step threw. After it the
  // movie writer is the caller's again.
  void Finish(bool dropWaiting);

  // Nothing waits to be written and nothing is being written: the writer has caught up, or it
  // has ended. Any thread.
  bool Idle() const;
  // Why the writer stopped taking frames, once it failed: SizeLimit or WriteFailed.
  std::optional<CaptureEnd> Failure() const;
  // A step threw: the writer takes nothing more, and Finish rethrows it.
  bool Threw() const;
  // Frames in the file, and its length in bytes, as far as written.
  uint32_t FramesWritten() const { return frames_; }
  int64_t BytesWritten() const { return bytes_; }

 private:
  void Run();
  // Writes one frame step; written false when the movie writer refused it.
  void RunStep(Step step, bool& written);
  // Waits until ready() or the wait ends otherwise; true when ready. Lock held.
  bool WaitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready);

  MovieWriter& movie_;
  const bool inPlace_;
  const std::function<bool()> interrupted_;
  const std::function<bool()> sound_;
  const uint32_t minimumStepMs_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_.
  std::optional<Step> queued_;
  bool spareQueued_ = false;  // the spare bitmap travels with the queued step
  bool busy_ = false;         // a step is being written
  std::optional<uint32_t> checkpoint_;
  bool abandoned_ = false;
  bool finishing_ = false;
  std::optional<CaptureEnd> failure_;
  std::exception_ptr error_;

  DIBBitmap spare_;  // the capture thread's, except while it travels with a step
  std::atomic<uint32_t> frames_{0};
  std::atomic<int64_t> bytes_{0};
  std::thread thread_;
};

}  // namespace qm
