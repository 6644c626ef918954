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
  Info = info;
}

void CapThread::Start() {
  if (IsStarted()) return;
  worker_ = std::thread([this] { Execute(); });
}

void CapThread::Pause() {
  Paused = true;
}

void CapThread::Continue() {
  std::lock_guard lock(pauseMutex_);
  if (!Paused) return;
  Paused = false;
  // Only a worker that has stopped its schedule gets a new segment; a pause it never saw
  // leaves the running segment as it is.
  if (waiting_) {
    SegmentStart = clock_.Now();
    NowTick = SegmentStart;
  }
  pauseWake_.notify_all();
}

void CapThread::Stop() {
  stopRequested_ = true;
  std::lock_guard lock(pauseMutex_);
  if (waiting_) Paused = false;
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
    Grabber = std::make_unique<CaptureLib>();
    succeeded = Record(reason);
  } catch (...) {
    succeeded = false;
  }
  Grabber.reset();
  if (succeeded)
    PostCapDone();
  else
    ReportError(reason);
  finished_ = true;
  handoff_.Wake();
}

bool CapThread::Record(QString& reason) {
  ActiveTime = 0;
  reason = QString::fromLatin1(kUnknownReason);

  AviSettings settings;
  settings.HasAudio = false;
  settings.FrameRate = Info.FramesPerSecond;
  settings.Width = Info.Area.Width();
  settings.Height = Info.Area.Height();
  settings.AudioLead = 0;
  settings.FrameCountHint = kFrameCountHint;

  if (!Info.Writer) return false;
  MovieWriter& writer = *Info.Writer;
  if (!writer.Open(Info.FileName, settings)) {
    reason = QString::fromLatin1(kCannotCreate) + Info.FileName;
    return false;
  }

  bool stepFailed = false;
  try {
    RunLoop();
  } catch (...) {
    // A step ended with an exception (the error report's silent abort): the recording has
    // failed, but the frames written so far stay playable, so the file is still completed.
    stepFailed = true;
  }

  actualFrameRate_ = ActiveTime == 0 ? 0.0L : (long double)FrameTally * 1000.0L / ActiveTime;
  const bool closed = writer.Close(actualFrameRate_);
  return closed && !stepFailed;
}

void CapThread::RunLoop() {
  uint32_t NextFrame = 1;
  FrameTally = 1;
  SegmentStart = clock_.Now();
  NowTick = SegmentStart;

  // A step that throws leaves the loop at once; the segment is counted as far as it went.
  struct SegmentCount {
    CapThread& Thread;
    uint32_t& NextFrame;
    bool Counted = false;
    ~SegmentCount() {
      if (Counted) return;
      Thread.FrameTally += NextFrame;
      Thread.ActiveTime += Thread.NowTick - Thread.SegmentStart;
    }
  } segment{*this, NextFrame};

  while (!stopRequested_) {
    NowTick = clock_.Now();
    clock_.Sleep(kLoopSleep);

    if (Paused) {
      std::unique_lock lock(pauseMutex_);
      if (Paused) {
        ActiveTime += NowTick - SegmentStart;
        FrameTally += NextFrame;
        NextFrame = 1;
        waiting_ = true;
        // Tell a user-interface thread that waits on the hand-off for this state. The pause
        // lock is not held meanwhile (the hand-off's lock is taken before it elsewhere); a
        // Continue or a stop in between is seen by the wait's condition.
        lock.unlock();
        handoff_.Wake();
        lock.lock();
        pauseWake_.wait(lock, [this] { return !Paused || stopRequested_; });
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
    const uint64_t elapsed = uint32_t(NowTick - SegmentStart);
    if (elapsed * Info.FramesPerSecond >= uint64_t(NextFrame) * 1000u) {
      ++NextFrame;
      TakeFrame();
    }
  }
}

void CapThread::TakeFrame() {
  MovieWriter& writer = *Info.Writer;
  bool grabbed = false;
  handoff_.Run([&] {
    Rect captured;
    grabbed = Grabber->Grab(writer.Bitmap(), Point{Info.Area.Left, Info.Area.Top}, captured,
                            Info.FollowCursor, Info.ShowCursor);
  });
  // A failed grab ends the recording; the frame step still appends what the bitmap holds.
  if (!grabbed) stopRequested_ = true;
  bool added = false;
  handoff_.Run([&] { added = writer.AddFrame(); });
  if (!added) stopRequested_ = true;
}

void CapThread::ReportError(const QString& reason) {
  if (!Info.OnError) return;
  try {
    handoff_.Run([&] { Info.OnError(reason); });
  } catch (...) {
    // The receiver's own failure changes nothing about this recording's end.
  }
}

void CapThread::PostCapDone() {
  if (Info.OwnerWindow)
    QCoreApplication::postEvent(Info.OwnerWindow, new QEvent(QEvent::Type(kWmCapDone)));
}

}  // namespace qm
