#include "app/RecordingController.h"

#include <QFileInfo>

#include <algorithm>

#include "capture/Grabber.h"
#include "common/Stamps.h"

namespace qm {

namespace {

// How often a start that waits for the previous recording to complete its file looks again.
constexpr int kRetryMilliseconds = 50;
// How often the progress line is refreshed.
constexpr int kProgressMilliseconds = 1000;

// Something, a link included, stands at path.
bool Taken(const QString& path) {
  const QFileInfo info(path);
  return info.exists() || info.isSymLink();
}

}  // namespace

QString RecordingController::FreeName(const QString& folder, const QString& stamp) {
  // An existing file is never removed to make room for the name: it may be an earlier
  // recording of the same 86.4 ms, or one that another recorder is writing. The next stamp
  // that names nothing is taken instead.
  bool numeric = false;
  qlonglong next = stamp.toLongLong(&numeric);
  QString name = stamp;
  for (int tries = 0;
       tries < 1000 && Taken(folder + QStringLiteral("C") + name + QStringLiteral(".avi")); ++tries)
    name =
        numeric ? QString::number(++next) : stamp + QLatin1Char('-') + QString::number(tries + 1);
  return folder + QStringLiteral("C") + name + QStringLiteral(".avi");
}

QtDelayTimer::QtDelayTimer() {
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (Fired) Fired();
  });
}

void QtDelayTimer::Start(int milliseconds) {
  timer_.start(milliseconds);
}

void QtDelayTimer::Stop() {
  timer_.stop();
}

bool QtDelayTimer::IsActive() const {
  return timer_.isActive();
}

int QtDelayTimer::RemainingMs() const {
  return std::max(timer_.remainingTime(), 0);
}

RecordingController::RecordingController(RecordingView& view, RecorderFactory factory,
                                         std::unique_ptr<DelayTimer> timer,
                                         std::function<QString()> stamp, QObject* parent)
    : QObject(parent),
      view_(view),
      factory_(std::move(factory)),
      timer_(timer ? std::move(timer) : std::make_unique<QtDelayTimer>()),
      stamp_(stamp ? std::move(stamp) : [] { return TimeStampDigits(); }) {
  timer_->Fired = [this] { TimerFired(); };
  retry_.setInterval(kRetryMilliseconds);
  connect(&retry_, &QTimer::timeout, this, [this] {
    if (recorder_ && !recorder_->IsFinished()) return;
    retry_.stop();
    startPending_ = false;
    StartRecording();
  });
  progressTimer_.setInterval(kProgressMilliseconds);
  connect(&progressTimer_, &QTimer::timeout, this, &RecordingController::ProgressTick);
}

RecordingController::~RecordingController() {
  ending_ = true;
  timer_->Fired = nullptr;
  if (recorder_) recorder_->Stop();
  recorder_.reset();
}

bool RecordingController::IsBusy() const {
  return GetState() != State::Idle || (recorder_ && !recorder_->IsFinished());
}

void RecordingController::ShowFigures() {
  if (timer_->IsActive()) {
    const int seconds = (timer_->RemainingMs() + 999) / 1000;
    view_.ShowProgress(
        (recording_ ? QStringLiteral("Continuing in %1 s") : QStringLiteral("Starting in %1 s"))
            .arg(seconds));
  } else if (recording_ && recorder_ && progress_) {
    RecordingFigures figures = recorder_->Figures();
    figures.Paused = paused_;
    view_.ShowProgress(progress_->Update(figures));
  }
}

void RecordingController::ProgressTick() {
  ShowFigures();
  if (IsBusy()) return;
  // The file is complete: what shapes a recording may change again.
  progressTimer_.stop();
  emit StateChanged();
}

RecordingController::State RecordingController::GetState() const {
  if (recording_) return paused_ ? State::Paused : State::Running;
  return timer_->IsActive() || startPending_ ? State::Waiting : State::Idle;
}

void RecordingController::CaptureVideo() {
  if (recording_ || startPending_) return;
  view_.HideToTray();
  paused_ = true;
  interval_ = view_.StartDelaySeconds() * 1000;
  ArmTimer(interval_);
}

void RecordingController::RecordFromTray() {
  if (startPending_ || timer_->IsActive()) return;
  ArmTimer(interval_ >= 0 ? interval_ : view_.StartDelaySeconds() * 1000);
}

void RecordingController::StartNow() {
  if (recording_ || startPending_) return;
  // A start now replaces a start that the delay would bring later.
  DisarmTimer();
  view_.HideToTray();
  paused_ = false;
  Toggle();
}

void RecordingController::Pause() {
  if (!recording_) return;
  paused_ = true;
  Toggle();
}

void RecordingController::TogglePause() {
  if (!recording_) return;
  paused_ = !paused_;
  Toggle();
}

void RecordingController::Stop() {
  // A stop also cancels a start that is still to come (the delay, or a start that waits for
  // the previous file).
  const bool cancelled = !recording_ && IsDelaying();
  DisarmTimer();
  retry_.stop();
  startPending_ = false;
  paused_ = true;
  if (recorder_) recorder_->Stop();
  recording_ = false;
  emit StateChanged();
  view_.ShowFromTray();
  if (cancelled)
    view_.ShowProgress(QString());
  else
    view_.ShowOutput(outputFile_);
}

void RecordingController::CancelStart() {
  if (recording_) return;
  const bool cancelled = IsDelaying();
  retry_.stop();
  startPending_ = false;
  DisarmTimer();
  emit StateChanged();
  if (cancelled) view_.ShowProgress(QString());
}

void RecordingController::Finish() {
  Stop();
  ending_ = true;
  // Waits until the file is complete, running the steps the worker still hands over.
  recorder_.reset();
}

void RecordingController::TimerFired() {
  DisarmTimer();
  view_.Beep();
  if (!recording_) {
    StartNow();
  } else if (paused_) {
    paused_ = false;
    Toggle();
  }
}

void RecordingController::Toggle() {
  if (paused_) {
    if (recorder_) recorder_->Pause();
  } else if (recording_) {
    if (recorder_) recorder_->Continue();
  } else {
    StartRecording();
  }
  emit StateChanged();
  // A pause or a continue shows at once, not at the next tick.
  ShowFigures();
}

void RecordingController::StartRecording() {
  // The previous worker goes first, before anything of the new recording is set. One that is
  // still completing its file is waited for on the event loop, not here: this may run inside
  // a message box's loop, and the window must keep answering meanwhile.
  if (recorder_ && !recorder_->IsFinished()) {
    recorder_->Stop();
    startPending_ = true;
    retry_.start();
    emit StateChanged();
    return;
  }
  recorder_.reset();

  const RecordingJob job = view_.Job();
  // On a desktop that shares its screen through its own dialog, a refused dialog starts nothing.
  std::shared_ptr<ScreenSource> source;
  if (!view_.OpenScreen(source)) {
    view_.ShowFromTray();
    emit StateChanged();
    return;
  }
  recording_ = true;
  paused_ = false;
  outputFile_ = FreeName(job.OutputFolder, stamp_());

  CapInfo info;
  info.Area = job.Area;
  info.FileName = outputFile_;
  info.ShowCursor = job.ShowCursor;
  info.FollowCursor = job.FollowCursor;
  info.FramesPerSecond = uint16_t(std::clamp(job.FramesPerSecond, 1, 32));
  info.Source = source;
  // On a shared screen the area is placed on the monitor or window the desktop shares; a
  // shared window is recorded whole.
  if (source) info.Area = Grabber::AreaOnSource(job.Area, job.WholeSource, *source);
  info.Sound = job.Sound;
  info.SoundFormat = job.SoundFormat;

  const int id = ++recorderId_;
  const QString file = outputFile_;
  recorder_ = factory_(info, [this, id, file](CaptureEnd end, const QString& why) {
    RecorderFinished(id, file, end, why);
  });
  fps_ = info.FramesPerSecond;
  progress_ = std::make_unique<RecordingProgress>(fps_);
  progressTimer_.start();
  emit StateChanged();
}

void RecordingController::RecorderFinished(int id, const QString& file, CaptureEnd end,
                                           const QString& why) {
  if (ending_) return;
  if (end == CaptureEnd::Failed)
    view_.ShowError(QStringLiteral("Error") + why);
  else if (!why.isEmpty())
    view_.ShowError(why);
  // A recording that ended by itself (a lost screen, a full disk, the size limit) ends as if
  // the user had stopped it.
  if (id == recorderId_ && recording_) Stop();
  emit StateChanged();
  if (end == CaptureEnd::Failed) return;
  // The file is complete: its figures are final. A slow compressor's few frames are said
  // while the status still names this file.
  if (id == recorderId_ && !recording_ && !startPending_ && recorder_) {
    const RecordingFigures figures = recorder_->Figures();
    const QString note = RecordingProgress::KeptNote(figures.Frames, figures.ActiveMs, fps_);
    if (!note.isEmpty()) view_.ShowOutputNote(note);
    if (figures.MonitorsChanged) view_.ShowOutputNote(RecordingProgress::MonitorsNote());
  }
  view_.RecordingComplete(file);
  if (view_.PlayResult()) view_.PlayVideo(file);
}

void RecordingController::ArmTimer(int milliseconds) {
  timer_->Start(milliseconds);
  emit StateChanged();
  // The seconds left show at once and then with each tick.
  ShowFigures();
  progressTimer_.start();
}

void RecordingController::DisarmTimer() {
  if (!timer_->IsActive()) return;
  timer_->Stop();
  emit StateChanged();
}

}  // namespace qm
