#include "capture/WriterThread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include "video/AviCompress.h"
#include "video/AviWriter.h"
#include "video/MovieWriter.h"

namespace qm {

namespace {}  // namespace

// The recording's workers yield to the user-interface thread, which must answer at once.
// Raising a thread's nice value needs no privilege.
void LowerCurrentThreadPriority() {
  const pid_t tid = gettid();
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, id_t(tid));
  if (errno != 0) return;
  setpriority(PRIO_PROCESS, id_t(tid), std::min(nice + 5, 19));
}

CaptureEnd RefusedWriteEnd(const MovieWriter& writer) {
  return writer.SizeLimitReached() ? CaptureEnd::SizeLimit : CaptureEnd::WriteFailed;
}

WriterThread::WriterThread(MovieWriter& writer, std::function<bool()> interrupted,
                           std::function<bool()> sound, uint32_t minimumStepMs)
    : movie_(writer),
      inPlace_(writer.Compressor().CurrentCode() == 0),
      interrupted_(std::move(interrupted)),
      sound_(std::move(sound)),
      minimumStepMs_(minimumStepMs) {
  // The spare has the shape of the compressor's bitmap; it never lies in the file's stage.
  if (!inPlace_) spare_ = writer.Bitmap();
  frames_ = writer.Frame().FrameNumber;
  bytes_ = writer.Writer().BytesWritten();
  thread_ = std::thread([this] { Run(); });
}

WriterThread::~WriterThread() {
  Abandon();
  if (thread_.joinable()) thread_.join();
}

bool WriterThread::WaitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready) {
  // A place that is free at once is taken even after a pause or a stop was asked for: the pass
  // that saw neither goes on as it would have. Only a wait gives up for them.
  const auto ended = [&] { return abandoned_ || failure_ || error_; };
  changed_.wait(lock, [&] { return ended() || ready() || (interrupted_ && interrupted_()); });
  return !ended() && ready();
}

DIBBitmap* WriterThread::GrabTarget() {
  std::unique_lock lock(mutex_);
  if (inPlace_) {
    // The picture is drawn where the file writer appends it next: only while it writes nothing.
    if (!WaitFor(lock, [this] { return !queued_ && !busy_; })) return nullptr;
    return &movie_.Bitmap();
  }
  if (!WaitFor(lock, [this] { return !spareQueued_; })) return nullptr;
  return &spare_;
}

bool WriterThread::Submit(Step step) {
  std::unique_lock lock(mutex_);
  if (!WaitFor(lock, [this] { return !queued_; })) return false;
  queued_ = step;
  spareQueued_ = step == Step::Picture && !inPlace_;
  changed_.notify_all();
  return true;
}

void WriterThread::Checkpoint(uint32_t activeMilliseconds) {
  std::lock_guard lock(mutex_);
  checkpoint_ = activeMilliseconds;
  changed_.notify_all();
}

void WriterThread::Nudge() {
  // Taking the lock orders the change the waits test before their wake-up.
  { std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

void WriterThread::Abandon() {
  std::lock_guard lock(mutex_);
  abandoned_ = true;
  queued_.reset();
  spareQueued_ = false;
  checkpoint_.reset();
  changed_.notify_all();
}

void WriterThread::Finish(bool dropWaiting) {
  {
    std::lock_guard lock(mutex_);
    // A frame waits only behind one being written; one the idle writer is about to take is
    // as good as written.
    if (dropWaiting && busy_ && queued_) {
      queued_.reset();
      spareQueued_ = false;
    }
    finishing_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

bool WriterThread::Idle() const {
  std::lock_guard lock(mutex_);
  return (!queued_ && !busy_ && !checkpoint_) || abandoned_ || failure_ || error_;
}

bool WriterThread::Threw() const {
  std::lock_guard lock(mutex_);
  return error_ != nullptr;
}

std::optional<CaptureEnd> WriterThread::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void WriterThread::Run() {
  LowerCurrentThreadPriority();
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return abandoned_ || queued_ || checkpoint_ || finishing_; });
    if (abandoned_ || failure_ || error_) break;
    if (queued_) {
      const Step step = *std::exchange(queued_, std::nullopt);
      if (spareQueued_) {
        // The new picture becomes the compressor's; the one it had (already written) is the
        // capture thread's next place to draw.
        std::swap(spare_, movie_.Bitmap());
        spareQueued_ = false;
      }
      busy_ = true;
      changed_.notify_all();
      lock.unlock();
      std::exception_ptr error;
      bool written = false;
      try {
        RunStep(step, written);
        // The sound that came meanwhile follows the frame.
        if (written && sound_) written = sound_();
      } catch (...) {
        error = std::current_exception();
      }
      frames_ = movie_.Frame().FrameNumber;
      bytes_ = movie_.Writer().BytesWritten();
      lock.lock();
      busy_ = false;
      if (error) {
        error_ = error;
      } else if (!written) {
        failure_ = RefusedWriteEnd(movie_);
      }
      changed_.notify_all();
      continue;
    }
    if (checkpoint_) {
      const uint32_t active = *std::exchange(checkpoint_, std::nullopt);
      busy_ = true;
      lock.unlock();
      // The rate so far, as the end computes it, once a second of active time makes it
      // meaningful; 0 keeps the requested rate.
      const uint32_t frames = movie_.Frame().FrameNumber;
      // A recording whose pictures stand still still gets its sound.
      const bool soundOk = !sound_ || sound_();
      // A checkpoint that fails says why only when the recording cannot go on (a deleted
      // file that could not be kept).
      const bool kept =
          movie_.Checkpoint(active < 1000 || frames == 0
                                ? 0.0L
                                : (long double)frames * 1000.0L / (long double)active) ||
          movie_.Failure().isEmpty();
      bytes_ = movie_.Writer().BytesWritten();
      lock.lock();
      busy_ = false;
      if (!soundOk || !kept) failure_ = RefusedWriteEnd(movie_);
      changed_.notify_all();
      continue;
    }
    break;  // finishing, with nothing left to write
  }
  changed_.notify_all();
}

void WriterThread::RunStep(Step step, bool& written) {
  if (minimumStepMs_ > 0 && step != Step::Same)
    std::this_thread::sleep_for(std::chrono::milliseconds(minimumStepMs_));
  switch (step) {
    case Step::Picture:
    case Step::Again:
      written = movie_.AddFrame();
      break;
    case Step::Same:
      written = movie_.AddSameFrame();
      break;
  }
}

}  // namespace qm
