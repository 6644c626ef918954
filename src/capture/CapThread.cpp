#include "capture/CapThread.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <optional>

#include "capture/CaptureLib.h"
#include "capture/SoundTrack.h"
#include "capture/WriterThread.h"
#include "common/UserMessages.h"
#include "platform/audio/SoundInput.h"
#include "platform/clock/TickClock.h"
#include "video/AviWriter.h"
#include "video/MovieWriter.h"

namespace qm {

namespace {

constexpr uint32_t kLoopSleep = 10;  // milliseconds between two passes of the frame loop
// How often the file's sizes and counts are refreshed, so a crash leaves a playable file.
constexpr uint32_t kCheckpointMs = 1000;
constexpr int32_t kFrameCountHint = 1000000;

const char* const kUnknownReason = "With unknown reason";
const char* const kCannotCreate = "Can not create file ";

}  // namespace

CapThread::CapThread(TickClock& clock) : clock_(clock) {}

CapThread::CapThread() : CapThread(TickClock::System()) {}

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
  // A worker waiting for the writer gives the frame up and pauses at once.
  std::lock_guard lock(pipeMutex_);
  if (pipe_) pipe_->Nudge();
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
    // The segment's first frame is taken a period from now, where the file goes on.
    if (sound_)
      sound_->Begin(SoundInput::NowMicroseconds(),
                    int64_t(activeTime_) * 1000 - PeriodMicroseconds());
  }
  pauseWake_.notify_all();
}

void CapThread::Stop() {
  stopRequested_ = true;
  {
    std::lock_guard lock(pauseMutex_);
    if (waiting_) paused_ = false;
    pauseWake_.notify_all();
  }
  ownerStop_ = true;
  // A worker waiting for the writer gives the frame up: the file is completed after the frame
  // being written.
  std::lock_guard lock(pipeMutex_);
  if (pipe_) pipe_->Nudge();
}

bool CapThread::IsWaiting() const {
  std::lock_guard lock(pauseMutex_);
  return waiting_;
}

RecordingFigures CapThread::Figures() const {
  RecordingFigures figures;
  figures.ActiveMs = active_;
  figures.CaughtUp = caughtUp_;
  {
    std::lock_guard lock(pauseMutex_);
    if (sound_) figures.SoundPeak = sound_->TakePeak();
  }
  std::lock_guard lock(pipeMutex_);
  figures.Frames = pipe_ ? pipe_->FramesWritten() : framesDone_.load();
  figures.Bytes = pipe_ ? pipe_->BytesWritten() : bytesDone_.load();
  return figures;
}

bool CapThread::WriterIdle() const {
  std::lock_guard lock(pipeMutex_);
  return !pipe_ || pipe_->Idle();
}

void CapThread::SetPipe(WriterThread* pipe) {
  std::lock_guard lock(pipeMutex_);
  if (!pipe && pipe_) {
    framesDone_ = pipe_->FramesWritten();
    bytesDone_ = pipe_->BytesWritten();
  }
  pipe_ = pipe;
}

void CapThread::WaitFor() {
  if (worker_.joinable()) worker_.join();
}

void CapThread::Execute() {
  LowerCurrentThreadPriority();
  QString reason = QString::fromLatin1(kUnknownReason);
  bool succeeded = false;
  try {
    grabber_ = std::make_unique<CaptureLib>();
    if (info_.Source) grabber_->UseSource(info_.Source);
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
  settings.WideFrames = true;

  if (!info_.Writer) return false;
  MovieWriter& writer = *info_.Writer;

  // The sound, when asked for: a recording without it (no server, no device, no encoder)
  // goes on with its pictures alone, and says so once.
  std::shared_ptr<SoundTrack> track;
  SoundInput input;
  if (info_.Sound != SoundChoice::Off) {
    track = std::make_shared<SoundTrack>(info_.Sound == SoundChoice::Both ? 2 : 1);
    const bool started = input.Start(
        info_.Sound,
        [track](int in, const int16_t* samples, size_t frames, int64_t first) {
          track->Push(in, samples, frames, first);
        },
        [track](int in, const QString& why) {
          track->Lose(in);
          ShowMessage(QStringLiteral("No sound: ") + why);
        });
    if (!started) {
      ShowMessage(QStringLiteral("No sound: ") + input.Failure());
      track.reset();
    } else if (!writer.WantSound(info_.SoundFormat)) {
      ShowMessage(QStringLiteral("No sound: the MP3 encoder is not available"));
      input.Stop();
      track.reset();
    }
  }

  if (!writer.Open(info_.FileName, settings)) {
    // The writer names the cause (a size the compressor refuses, a spool it cannot make).
    reason = writer.OpenFailure().isEmpty() ? QString::fromLatin1(kCannotCreate) + info_.FileName
                                            : writer.OpenFailure();
    return false;
  }

  bool stepFailed = false;
  std::function<bool()> pump;
  if (track) {
    // One buffer serves every step: the writer's thread alone runs the pump.
    pump = [&writer, track, samples = std::vector<int16_t>()]() mutable {
      samples.clear();
      const size_t frames = track->Take(samples, SoundInput::NowMicroseconds());
      return frames == 0 || writer.AddSound(samples.data(), frames);
    };
    std::lock_guard lock(pauseMutex_);
    sound_ = track;
  }
  {
    WriterThread pipe(
        writer, [this] { return paused_ || stopRequested_; }, pump);
    SetPipe(&pipe);
    try {
      RunLoop(pipe);
      pipe.Finish(ownerStop_);
    } catch (...) {
      // A step ended with an exception (the error report's silent abort): the recording has
      // failed, but the frames written so far stay playable, so the file is still completed.
      stepFailed = true;
    }
    SetPipe(nullptr);
  }
  // A last frame held back as a repeat is written whole, so the file decodes to its end;
  // when it cannot be, the recording has failed as with any other frame.
  if (!stepFailed) {
    try {
      if (!writer.EndRepeats()) EndBy(RefusedWriteEnd(writer));
    } catch (...) {
      stepFailed = true;
    }
  }

  // The sound lasts as long as the pictures: the rest of it, silence where none came.
  if (track) {
    input.Stop();
    {
      std::lock_guard lock(pauseMutex_);
      sound_.reset();
    }
    if (!stepFailed) {
      try {
        std::vector<int16_t> samples;
        const size_t frames = track->Finish(samples, uint64_t(activeTime_) * 48);
        if ((frames > 0 && !writer.AddSound(samples.data(), frames)) || !writer.EndSound())
          EndBy(RefusedWriteEnd(writer));
      } catch (...) {
        stepFailed = true;
      }
    }
  }

  // The file lasts exactly as long as the recording was active: its frames spread over the
  // active time. Without a frame (or without active time) 0 keeps the requested rate.
  frameTally_ = writer.Frame().FrameNumber;
  actualFrameRate_ = activeTime_ == 0 || frameTally_ == 0
                         ? 0.0L
                         : (long double)frameTally_ * 1000.0L / activeTime_;
  const bool closed = writer.Close(actualFrameRate_);
  if (!closed && !writer.CloseFailure().isEmpty()) reason = writer.CloseFailure();
  framesDone_ = frameTally_;
  bytesDone_ = writer.Writer().BytesWritten();
  active_ = activeTime_;
  return closed && !stepFailed;
}

void CapThread::RunLoop(WriterThread& pipe) {
  uint32_t NextFrame = 1;
  segmentStart_ = clock_.Now();
  nowTick_ = segmentStart_;
  {
    // The first frame, taken a period from now, is the start of the file and of its sound.
    std::lock_guard lock(pauseMutex_);
    if (sound_) sound_->Begin(SoundInput::NowMicroseconds(), -PeriodMicroseconds());
  }
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
        if (sound_) sound_->Pause(SoundInput::NowMicroseconds());
        activeTime_ += nowTick_ - segmentStart_;
        active_ = activeTime_;
        NextFrame = 1;
        waiting_ = true;
        pauseWake_.wait(lock, [this] { return !paused_ || stopRequested_; });
        waiting_ = false;
        // A stop while paused ends the recording here; the segment was counted at the pause.
        if (stopRequested_) {
          segment.Counted = true;
          return;
        }
      }
    }
    // The writer refused a frame (a full disk, the size limit): the recording ends.
    if (const std::optional<CaptureEnd> failure = pipe.Failure()) {
      EndBy(*failure);
      break;
    }
    // A step threw (the error report's silent abort): Finish brings it back at once.
    if (pipe.Threw()) break;

    // Frame k of the segment is due once k frame periods have passed since its start. The
    // product is formed in 64 bits, so it stays exact for any segment length.
    const uint64_t elapsed = uint32_t(nowTick_ - segmentStart_);
    const uint64_t due = elapsed * info_.FramesPerSecond;
    if (due >= uint64_t(NextFrame) * 1000u) {
      // A frame whose successor is due already comes late: the grab or the writer was slower
      // than the schedule, and the frames catch up one per pass.
      if (due >= uint64_t(NextFrame + 1) * 1000u) ++caughtUp_;
      ++NextFrame;
      TakeFrame(pipe);
    }
    active_ = activeTime_ + uint32_t(nowTick_ - segmentStart_);
    // The file's sizes and counts follow the recording: at its first frame and then about
    // once a second, so a file cut off at any moment reads whole.
    const uint32_t frames = pipe.FramesWritten();
    if ((frames > 0 && !checkpointed_) || nowTick_ - lastCheckpoint_ >= kCheckpointMs) {
      checkpointed_ = frames > 0;
      lastCheckpoint_ = nowTick_;
      const uint64_t active = uint64_t(activeTime_) + uint32_t(nowTick_ - segmentStart_);
      pipe.Checkpoint(uint32_t(std::min<uint64_t>(active, UINT32_MAX)));
    }
  }
}

void CapThread::TakeFrame(WriterThread& pipe) {
  // Waits while the writer still needs the place; a pause or a stop meanwhile drops the frame.
  DIBBitmap* target = pipe.GrabTarget();
  if (!target) return;
  // A frame in which nothing changed is the previous one again: it is neither copied nor
  // compressed, and goes into the file as an empty chunk, in its place in the schedule.
  bool changed = true;
  Rect captured;
  const Point origin{info_.Area.Left, info_.Area.Top};
  const bool grabbed =
      info_.EveryFrame
          ? grabber_->Grab(*target, origin, captured, info_.FollowCursor, info_.ShowCursor)
          : grabber_->GrabChanges(*target, origin, captured, info_.FollowCursor, info_.ShowCursor,
                                  changed);
  // A failed grab ends the recording; the last picture still goes into the file once more.
  const WriterThread::Step step = !grabbed  ? WriterThread::Step::Again
                                  : changed ? WriterThread::Step::Picture
                                            : WriterThread::Step::Same;
  if (pipe.Submit(step)) ++taken_;
  if (!grabbed)
    EndBy(grabber_->SharingEnded() ? CaptureEnd::SharingEnded : CaptureEnd::ScreenUnreadable);
}

int64_t CapThread::PeriodMicroseconds() const {
  return 1000000 / std::max<int64_t>(info_.FramesPerSecond, 1);
}

void CapThread::EndBy(CaptureEnd end) {
  CaptureEnd running = CaptureEnd::Stopped;
  end_.compare_exchange_strong(running, end);
  stopRequested_ = true;
}

void CapThread::ReportError(const QString& reason) {
  if (!info_.OnError) return;
  // The owner hears of it on its own thread, when it gets there; the worker does not wait.
  if (!info_.OwnerWindow) {
    info_.OnError(reason);
    return;
  }
  QMetaObject::invokeMethod(
      info_.OwnerWindow, [onError = info_.OnError, reason] { onError(reason); },
      Qt::QueuedConnection);
}

void CapThread::PostCapDone() {
  if (info_.OwnerWindow)
    QCoreApplication::postEvent(info_.OwnerWindow, new QEvent(QEvent::Type(kWmCapDone)));
}

}  // namespace qm
