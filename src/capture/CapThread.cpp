#include "capture/CapThread.h"

#include <QCoreApplication>
#include <QEvent>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "capture/CaptureLib.h"
#include "capture/UiHandoff.h"
#include "platform/clock/TickClock.h"
#include "video/MovieWriter.h"

namespace qm {

namespace {

constexpr uint32_t kLoopSleep = 10;  // milliseconds between two passes of the frame loop
// How often the file's sizes and counts are refreshed, so a crash leaves a playable file.
constexpr uint32_t kCheckpointMs = 1000;
constexpr int32_t kFrameCountHint = 1000000;

const char* const kUnknownReason = "With unknown reason";
const char* const kCannotCreate = "Can not create file ";

// The worker only keeps time; the user-interface thread does the real work of every frame
// and must win the processor. Raising a thread's nice value needs no privilege.
void LowerCurrentThreadPriority() {
  const pid_t tid = gettid();
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, id_t(tid));
  if (errno != 0) return;
  setpriority(PRIO_PROCESS, id_t(tid), std::min(nice + 5, 19));
}

}  // namespace

CapThread::CapThread(UiHandoff& handoff, TickClock& clock) : handoff_(handoff), clock_(clock) {}

CapThread::CapThread(UiHandoff& handoff) : CapThread(handoff, TickClock::System()) {}

CapThread::~CapThread() {
  Stop();
  WaitFor();
}

void CapThread::SetInfo(const CapInfo& info) {
  info_ = info;
}

void CapThread::Start() {
  if (IsStarted()) return;
  worker_ = std::thread([this] { Execute(); });
}

void CapThread::Pause() {
  paused_ = true;
}

void CapThread::Continue() {
  std::lock_guard lock(pauseMutex_);
  if (!paused_) return;
  paused_ = false;
  // Only a worker that has stopped its schedule gets a new segment; a pause it never saw
  // leaves the running segment as it is.
  if (waiting_) {
    segmentStart_ = clock_.Now();
    nowTick_ = segmentStart_;
  }
  pauseWake_.notify_all();
}

void CapThread::Stop() {
  stopRequested_ = true;
  std::lock_guard lock(pauseMutex_);
  if (waiting_) paused_ = false;
  pauseWake_.notify_all();
}

bool CapThread::IsWaiting() const {
  std::lock_guard lock(pauseMutex_);
  return waiting_;
}

void CapThread::WaitFor() {
  if (!worker_.joinable()) return;
  handoff_.WaitUntil([this] { return finished_.load(); });
  worker_.join();
}

void CapThread::Execute() {
  LowerCurrentThreadPriority();
  QString reason = QString::fromLatin1(kUnknownReason);
  bool succeeded = false;
  try {
    grabber_ = std::make_unique<CaptureLib>();
    succeeded = Record(reason);
  } catch (...) {
    succeeded = false;
  }
  grabber_.reset();
  if (succeeded) {
    PostCapDone();
  } else {
    end_ = CaptureEnd::Failed;
    ReportError(reason);
  }
  finished_ = true;
  handoff_.Wake();
}

bool CapThread::Record(QString& reason) {
  activeTime_ = 0;
  reason = QString::fromLatin1(kUnknownReason);

  AviSettings settings;
  settings.HasAudio = false;
  settings.FrameRate = info_.FramesPerSecond;
  settings.Width = info_.Area.Width();
  settings.Height = info_.Area.Height();
  settings.AudioLead = 0;
  settings.FrameCountHint = kFrameCountHint;

  if (!info_.Writer) return false;
  MovieWriter& writer = *info_.Writer;
  if (!writer.Open(info_.FileName, settings)) {
    // The writer names the cause (a size the compressor refuses, a spool it cannot make).
    reason = writer.OpenFailure().isEmpty() ? QString::fromLatin1(kCannotCreate) + info_.FileName
                                            : writer.OpenFailure();
    return false;
  }

  bool stepFailed = false;
  try {
    RunLoop();
    // A last frame held back as a repeat is written whole, so the file decodes to its end;
    // when it cannot be, the recording has failed as with any other frame.
    handoff_.Run([&] {
      if (!writer.EndRepeats())
        EndBy(writer.SizeLimitReached() ? CaptureEnd::SizeLimit : CaptureEnd::WriteFailed);
    });
  } catch (...) {
    // A step ended with an exception (the error report's silent abort): the recording has
    // failed, but the frames written so far stay playable, so the file is still completed.
    stepFailed = true;
  }

  // The file lasts exactly as long as the recording was active: its frames spread over the
  // active time. Without a frame (or without active time) 0 keeps the requested rate.
  frameTally_ = writer.Frame().FrameNumber;
  actualFrameRate_ = activeTime_ == 0 || frameTally_ == 0
                         ? 0.0L
                         : (long double)frameTally_ * 1000.0L / activeTime_;
  const bool closed = writer.Close(actualFrameRate_);
  if (!closed && !writer.CloseFailure().isEmpty()) reason = writer.CloseFailure();
  return closed && !stepFailed;
}

void CapThread::RunLoop() {
  uint32_t NextFrame = 1;
  segmentStart_ = clock_.Now();
  nowTick_ = segmentStart_;
  lastCheckpoint_ = segmentStart_;
  checkpointed_ = false;

  // A step that throws leaves the loop at once; the segment is counted as far as it went.
  struct SegmentCount {
    CapThread& Thread;
    bool Counted = false;
    ~SegmentCount() {
      if (Counted) return;
      Thread.activeTime_ += Thread.nowTick_ - Thread.segmentStart_;
    }
  } segment{*this};

  while (!stopRequested_) {
    nowTick_ = clock_.Now();
    clock_.Sleep(kLoopSleep);

    if (paused_) {
      // A pause may last hours: the server's reports of what changed meanwhile are not
      // collected; the first frame after it is taken whole.
      grabber_->ForgetChanges();
      std::unique_lock lock(pauseMutex_);
      if (paused_) {
        activeTime_ += nowTick_ - segmentStart_;
        NextFrame = 1;
        waiting_ = true;
        // Tell a user-interface thread that waits on the hand-off for this state. The pause
        // lock is not held meanwhile (the hand-off's lock is taken before it elsewhere); a
        // Continue or a stop in between is seen by the wait's condition.
        lock.unlock();
        handoff_.Wake();
        lock.lock();
        pauseWake_.wait(lock, [this] { return !paused_ || stopRequested_; });
        waiting_ = false;
        // A stop while paused ends the recording here; the segment was counted at the pause.
        if (stopRequested_) {
          segment.Counted = true;
          return;
        }
      }
    }

    // Frame k of the segment is due once k frame periods have passed since its start. The
    // product is formed in 64 bits, so it stays exact for any segment length.
    const uint64_t elapsed = uint32_t(nowTick_ - segmentStart_);
    if (elapsed * info_.FramesPerSecond >= uint64_t(NextFrame) * 1000u) {
      ++NextFrame;
      TakeFrame();
    }
    // The file's sizes and counts follow the recording: at its first frame and then about
    // once a second, so a file cut off at any moment reads whole. The rate so far is computed
    // as Close computes it, once a second of active time makes it meaningful.
    const uint32_t frames = info_.Writer->Frame().FrameNumber;
    if ((frames > 0 && !checkpointed_) || nowTick_ - lastCheckpoint_ >= kCheckpointMs) {
      checkpointed_ = frames > 0;
      lastCheckpoint_ = nowTick_;
      const uint64_t active = uint64_t(activeTime_) + uint32_t(nowTick_ - segmentStart_);
      info_.Writer->Checkpoint(active < kCheckpointMs || frames == 0
                                   ? 0.0L
                                   : (long double)frames * 1000.0L / (long double)active);
    }
  }
}

void CapThread::TakeFrame() {
  MovieWriter& writer = *info_.Writer;
  bool grabbed = false;
  // A frame in which nothing changed is the previous one again: it is neither copied nor
  // compressed, and goes into the file as an empty chunk, in its place in the schedule.
  bool changed = true;
  handoff_.Run([&] {
    Rect captured;
    const Point origin{info_.Area.Left, info_.Area.Top};
    grabbed = info_.EveryFrame
                  ? grabber_->Grab(writer.Bitmap(), origin, captured, info_.FollowCursor,
                                   info_.ShowCursor)
                  : grabber_->GrabChanges(writer.Bitmap(), origin, captured, info_.FollowCursor,
                                          info_.ShowCursor, changed);
  });
  // A failed grab ends the recording; the frame step still appends what the bitmap holds.
  if (!grabbed) EndBy(CaptureEnd::ScreenUnreadable);
  bool added = false;
  handoff_.Run([&] { added = changed || !grabbed ? writer.AddFrame() : writer.AddSameFrame(); });
  if (!added) EndBy(writer.SizeLimitReached() ? CaptureEnd::SizeLimit : CaptureEnd::WriteFailed);
}

void CapThread::EndBy(CaptureEnd end) {
  CaptureEnd running = CaptureEnd::Stopped;
  end_.compare_exchange_strong(running, end);
  stopRequested_ = true;
}

void CapThread::ReportError(const QString& reason) {
  if (!info_.OnError) return;
  try {
    handoff_.Run([&] { info_.OnError(reason); });
  } catch (...) {
    // The receiver's own failure changes nothing about this recording's end.
  }
}

void CapThread::PostCapDone() {
  if (info_.OwnerWindow)
    QCoreApplication::postEvent(info_.OwnerWindow, new QEvent(QEvent::Type(kWmCapDone)));
}

}  // namespace qm
