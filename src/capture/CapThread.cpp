#include "capture/CapThread.h"

#include <QMetaObject>

#include <algorithm>
#include <optional>

#include "capture/Grabber.h"
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

CapThread::CapThread(TickClock& clock, CapThreadOptions options)
    : clock_(clock), options_(options) {}

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
  thread_ = std::thread([this] { Execute(); });
}

void CapThread::Pause() {
  paused_ = true;
  // A worker waiting for the writer gives the frame up and pauses at once.
  std::lock_guard lock(writerThreadMutex_);
  if (writerThread_) writerThread_->Nudge();
}

void CapThread::Continue() {
  std::lock_guard lock(pauseMutex_);
  if (!paused_) return;
  paused_ = false;
  // Only a worker that has stopped its schedule gets a new segment; a pause it never saw
  // leaves the running segment as it is.
  if (pause_.Waiting) {
    own_.SegmentStart = clock_.Now();
    own_.NowTick = own_.SegmentStart;
    // The segment's first frame is taken a period from now, where the file goes on.
    if (pause_.Sound)
      pause_.Sound->Begin(SoundInput::NowMicroseconds(),
                          int64_t(own_.ActiveTime) * 1000 - PeriodMicroseconds());
  }
  pauseWake_.notify_all();
}

void CapThread::Stop() {
  stopRequested_ = true;
  {
    std::lock_guard lock(pauseMutex_);
    if (pause_.Waiting) paused_ = false;
    pauseWake_.notify_all();
  }
  ownerStop_ = true;
  // A worker waiting for the writer gives the frame up: the file is completed after the frame
  // being written.
  std::lock_guard lock(writerThreadMutex_);
  if (writerThread_) writerThread_->Nudge();
}

bool CapThread::IsWaiting() const {
  std::lock_guard lock(pauseMutex_);
  return pause_.Waiting;
}

RecordingFigures CapThread::Figures() const {
  RecordingFigures figures;
  figures.CaughtUp = figures_.CaughtUp;
  figures.Paused = paused_;
  figures.MonitorsChanged = figures_.MonitorsChanged;
  {
    std::lock_guard lock(pauseMutex_);
    figures.ActiveMs = figures_.Active;
    if (figures_.Live) figures.ActiveMs += clock_.Now() - figures_.LiveSince;
    if (pause_.Sound) figures.SoundPeak = pause_.Sound->TakePeak();
  }
  std::lock_guard lock(writerThreadMutex_);
  figures.Frames = writerThread_ ? writerThread_->FramesWritten() : figures_.FramesDone.load();
  figures.Bytes = writerThread_ ? writerThread_->BytesWritten() : figures_.BytesDone.load();
  return figures;
}

bool CapThread::WriterIdle() const {
  std::lock_guard lock(writerThreadMutex_);
  return !writerThread_ || writerThread_->Idle();
}

void CapThread::SetWriterThread(WriterThread* writerThread) {
  std::lock_guard lock(writerThreadMutex_);
  if (!writerThread && writerThread_) {
    figures_.FramesDone = writerThread_->FramesWritten();
    figures_.BytesDone = writerThread_->BytesWritten();
  }
  writerThread_ = writerThread;
}

void CapThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void CapThread::Execute() {
  LowerCurrentThreadPriority();
  QString reason = QString::fromLatin1(kUnknownReason);
  bool succeeded = false;
  try {
    grabber_ = std::make_unique<Grabber>(options_.DamageReports, options_.PartialCopies);
    if (info_.Source) grabber_->UseSource(info_.Source);
    succeeded = Record(reason);
  } catch (...) {
    succeeded = false;
  }
  grabber_.reset();
  if (!succeeded) {
    end_ = CaptureEnd::Failed;
    endReason_ = reason;
  }
  Announce(end_, endReason_);
  finished_ = true;
}

AviSettings CapThread::Settings() const {
  AviSettings settings;
  settings.HasAudio = false;
  settings.FrameRate = info_.FramesPerSecond;
  settings.Width = info_.Area.Width();
  settings.Height = info_.Area.Height();
  settings.AudioLead = 0;
  settings.FrameCountHint = kFrameCountHint;
  settings.WideFrames = true;
  return settings;
}

std::shared_ptr<SoundTrack> CapThread::StartSound(MovieWriter& writer, SoundInput& input) {
  // A recording without its sound (no server, no device, no encoder) goes on with its
  // pictures alone, and says so once.
  if (info_.Sound == SoundChoice::Off) return nullptr;
  auto track = std::make_shared<SoundTrack>(info_.Sound == SoundChoice::Both ? 2 : 1);
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
    return nullptr;
  }
  if (!writer.WantSound(info_.SoundFormat)) {
    ShowMessage(QStringLiteral("No sound: the MP3 encoder is not available"));
    input.Stop();
    return nullptr;
  }
  return track;
}

bool CapThread::RunFrames(MovieWriter& writer, const std::shared_ptr<SoundTrack>& track,
                          SoundInput& input) {
  std::function<bool()> pump;
  if (track) {
    // One buffer serves every step: the writer's thread alone runs the pump.
    pump = [&writer, track, samples = std::vector<int16_t>()]() mutable {
      samples.clear();
      const size_t frames = track->Take(samples, SoundInput::NowMicroseconds());
      return frames == 0 || writer.AddSound(samples.data(), frames);
    };
    std::lock_guard lock(pauseMutex_);
    pause_.Sound = track;
  }
  bool stepFailed = false;
  WriterThread writerThread(
      writer, [this] { return paused_ || stopRequested_; }, pump, options_.WriterStepMs);
  SetWriterThread(&writerThread);
  try {
    RunLoop(writerThread);
    // The sound ends with the recording, not when a slow writer has caught up with it: no
    // more comes in, and the time line stands still while the writer catches up.
    input.Stop();
    if (track) track->Pause(SoundInput::NowMicroseconds());
    writerThread.Finish(ownerStop_);
  } catch (...) {
    // A step ended with an exception (the error report's silent abort): the recording has
    // failed, but the frames written so far stay playable, so the file is still completed.
    stepFailed = true;
  }
  SetWriterThread(nullptr);
  // A last frame held back as a repeat is written whole, so the file decodes to its end;
  // when it cannot be, the recording has failed as with any other frame.
  if (!stepFailed) {
    try {
      if (!writer.EndRepeats()) EndBy(RefusedWriteEnd(writer), writer.Failure());
    } catch (...) {
      stepFailed = true;
    }
  }
  return !stepFailed;
}

bool CapThread::EndSound(MovieWriter& writer, SoundTrack& track, SoundInput& input, bool write) {
  // The sound lasts as long as the pictures: the rest of it, silence where none came.
  input.Stop();
  {
    std::lock_guard lock(pauseMutex_);
    pause_.Sound.reset();
  }
  if (!write) return true;
  try {
    std::vector<int16_t> samples;
    const size_t frames = track.Finish(samples, uint64_t(own_.ActiveTime) * 48);
    if ((frames > 0 && !writer.AddSound(samples.data(), frames)) || !writer.EndSound())
      EndBy(RefusedWriteEnd(writer), writer.Failure());
  } catch (...) {
    return false;
  }
  return true;
}

bool CapThread::Record(QString& reason) {
  own_.ActiveTime = 0;
  reason = QString::fromLatin1(kUnknownReason);
  if (!info_.Writer) return false;
  MovieWriter& writer = *info_.Writer;

  SoundInput input;
  const std::shared_ptr<SoundTrack> track = StartSound(writer, input);
  if (!writer.Open(info_.FileName, Settings())) {
    // The writer names the cause (a size the compressor refuses, a spool it cannot make).
    reason = writer.Failure().isEmpty() ? QString::fromLatin1(kCannotCreate) + info_.FileName
                                        : writer.Failure();
    return false;
  }
  bool ok = RunFrames(writer, track, input);
  if (track) ok = EndSound(writer, *track, input, ok) && ok;

  // The file lasts exactly as long as the recording was active: its frames spread over the
  // active time. Without a frame (or without active time) 0 keeps the requested rate.
  own_.FrameTally = writer.Frame().FrameNumber;
  own_.ActualFrameRate = own_.ActiveTime == 0 || own_.FrameTally == 0
                             ? 0.0L
                             : (long double)own_.FrameTally * 1000.0L / own_.ActiveTime;
  const bool closed = writer.Close(own_.ActualFrameRate);
  if (!closed && !writer.Failure().isEmpty()) reason = writer.Failure();
  // A recording that went on despite something (its folder deleted) says so with its end.
  if (closed && !writer.Notice().isEmpty())
    endReason_ += (endReason_.isEmpty() ? QString() : QStringLiteral("\n")) + writer.Notice();
  figures_.FramesDone = own_.FrameTally;
  figures_.BytesDone = writer.Writer().BytesWritten();
  PublishSegment(false);
  return closed && ok;
}

void CapThread::RunLoop(WriterThread& writerThread) {
  uint32_t NextFrame = 1;
  own_.SegmentStart = clock_.Now();
  own_.NowTick = own_.SegmentStart;
  {
    // The first frame, taken a period from now, is the start of the file and of its sound.
    std::lock_guard lock(pauseMutex_);
    if (pause_.Sound) pause_.Sound->Begin(SoundInput::NowMicroseconds(), -PeriodMicroseconds());
  }
  own_.LastCheckpoint = own_.SegmentStart;
  own_.Checkpointed = false;

  // A step that throws leaves the loop at once; the segment is counted as far as it went.
  struct SegmentCount {
    CapThread& Thread;
    bool Counted = false;
    ~SegmentCount() {
      if (Counted) return;
      Thread.own_.ActiveTime += Thread.own_.NowTick - Thread.own_.SegmentStart;
      Thread.PublishSegment(false);
    }
  } segment{*this};

  while (!stopRequested_) {
    own_.NowTick = clock_.Now();
    clock_.Sleep(kLoopSleep);

    if (paused_) {
      // A pause may last hours: the server's reports of what changed meanwhile are not
      // collected; the first frame after it is taken whole.
      grabber_->ForgetChanges();
      std::unique_lock lock(pauseMutex_);
      if (paused_) {
        if (pause_.Sound) pause_.Sound->Pause(SoundInput::NowMicroseconds());
        own_.ActiveTime += own_.NowTick - own_.SegmentStart;
        figures_.Active = own_.ActiveTime;
        figures_.Live = false;
        NextFrame = 1;
        pause_.Waiting = true;
        pauseWake_.wait(lock, [this] { return !paused_ || stopRequested_; });
        pause_.Waiting = false;
        // A stop while paused ends the recording here; the segment was counted at the pause.
        if (stopRequested_) {
          segment.Counted = true;
          return;
        }
      }
    }
    // The writer refused a frame (a full disk, the size limit): the recording ends.
    if (const std::optional<CaptureEnd> failure = writerThread.Failure()) {
      EndBy(*failure, info_.Writer->Failure());
      break;
    }
    // A step threw (the error report's silent abort): Finish brings it back at once.
    if (writerThread.Threw()) break;

    // Frame k of the segment is due once k frame periods have passed since its start. The
    // product is formed in 64 bits, so it stays exact for any segment length.
    const uint64_t elapsed = uint32_t(own_.NowTick - own_.SegmentStart);
    const uint64_t due = elapsed * info_.FramesPerSecond;
    if (due >= uint64_t(NextFrame) * 1000u) {
      // A frame whose successor is due already comes late: the grab or the writer was slower
      // than the schedule, and the frames catch up one per pass.
      if (due >= uint64_t(NextFrame + 1) * 1000u) ++figures_.CaughtUp;
      ++NextFrame;
      const uint32_t before = clock_.Now();
      // From the segment's first grab on, its time counts in the figures as it passes: a
      // wait for a slow compressor shows as time without frames, never as time standing still.
      if (NextFrame == 2) PublishSegment(true);
      TakeFrame(writerThread);
      // A wait for a busy writer is recording time too: a slow compressor or disk makes fewer
      // frames, never a shorter video.
      own_.NowTick += clock_.Now() - before;
    }
    // The file's sizes and counts follow the recording: at its first frame and then about
    // once a second, so a file cut off at any moment reads whole.
    const uint32_t frames = writerThread.FramesWritten();
    if ((frames > 0 && !own_.Checkpointed) || own_.NowTick - own_.LastCheckpoint >= kCheckpointMs) {
      own_.Checkpointed = frames > 0;
      own_.LastCheckpoint = own_.NowTick;
      const uint64_t active =
          uint64_t(own_.ActiveTime) + uint32_t(own_.NowTick - own_.SegmentStart);
      writerThread.Checkpoint(uint32_t(std::min<uint64_t>(active, UINT32_MAX)));
    }
  }
}

void CapThread::TakeFrame(WriterThread& writerThread) {
  // Waits while the writer still needs the place; a pause or a stop meanwhile drops the frame.
  DIBBitmap* target = writerThread.GrabTarget();
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
  if (writerThread.Submit(step)) ++figures_.Taken;
  if (grabber_->MonitorsChanged()) figures_.MonitorsChanged = true;
  if (!grabbed)
    EndBy(grabber_->SharingEnded() ? CaptureEnd::SharingEnded : CaptureEnd::ScreenUnreadable,
          grabber_->Failure());
}

int64_t CapThread::PeriodMicroseconds() const {
  return 1000000 / std::max<int64_t>(info_.FramesPerSecond, 1);
}

void CapThread::PublishSegment(bool live) {
  std::lock_guard lock(pauseMutex_);
  figures_.Active = own_.ActiveTime;
  figures_.LiveSince = own_.SegmentStart;
  figures_.Live = live;
}

void CapThread::EndBy(CaptureEnd end, const QString& why) {
  CaptureEnd running = CaptureEnd::Stopped;
  if (end_.compare_exchange_strong(running, end)) endReason_ = why;
  stopRequested_ = true;
}

void CapThread::Announce(CaptureEnd end, const QString& why) {
  if (!info_.Finished) return;
  if (!info_.Receiver) {
    info_.Finished(end, why);
    return;
  }
  QMetaObject::invokeMethod(
      info_.Receiver, [finished = info_.Finished, end, why] { finished(end, why); },
      Qt::QueuedConnection);
}

}  // namespace qm
