#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

#include "capture/CapInfo.h"
#include "capture/RecordingProgress.h"
#include "common/Rect.h"
#include "common/ScreenSource.h"

namespace qm {

// What a recording reads from the window at its start.
struct RecordingJob {
  Rect Area;
  bool ShowCursor = true;
  bool FollowCursor = true;  // already false in object mode
  int FramesPerSecond = 15;
  QString OutputFolder;  // ends in "/"
  SoundChoice Sound = SoundChoice::Off;
  SoundCodec SoundFormat = SoundCodec::Pcm;
  bool WholeSource = false;  // a shared window is recorded whole ("Selected object")
};

// What the controller asks of the window. User-interface thread only.
class RecordingView {
 public:
  virtual ~RecordingView() = default;
  virtual RecordingJob Job() = 0;
  virtual int StartDelaySeconds() = 0;
  virtual bool PlayResult() = 0;
  virtual void HideToTray() = 0;
  virtual void ShowFromTray() = 0;
  virtual void Beep() = 0;
  // The status bar names the file of the stopped recording.
  virtual void ShowOutput(const QString& file) = 0;
  // What the status adds to the stopped recording's file, once it is complete ("kept 9 of 240
  // frames: ...").
  virtual void ShowOutputNote(const QString& note) { (void)note; }
  // How the running recording goes, or the seconds left of a start delay, about once a second
  // (tray hint and status bar); empty when a delay was cancelled before any recording.
  virtual void ShowProgress(const QString& line) { (void)line; }
  virtual void ShowError(const QString& text) = 0;
  virtual void PlayVideo(const QString& file) = 0;
  // A recording's file is complete and may be read (not after a failed start, nor while the
  // application ends).
  virtual void RecordingComplete(const QString& file) { (void)file; }
  // The screen to read: source stays null for the X screen, or receives the desktop's shared
  // screen. False when the desktop's sharing did not start; the user has been told why.
  virtual bool OpenScreen(std::shared_ptr<ScreenSource>& source) {
    (void)source;
    return true;
  }
};

// The start delay: a one-shot timer that tests replace by a fake clock.
class DelayTimer {
 public:
  virtual ~DelayTimer() = default;
  virtual void Start(int milliseconds) = 0;
  virtual void Stop() = 0;
  virtual bool IsActive() const = 0;
  // The milliseconds until it fires, while active.
  virtual int RemainingMs() const = 0;
  std::function<void()> Fired;
};

// One recording's worker. Its destructor waits until the file is complete.
class Recorder {
 public:
  virtual ~Recorder() = default;
  virtual void Pause() = 0;
  virtual void Continue() = 0;
  virtual void Stop() = 0;
  // The worker has ended: destroying it no longer waits for anything.
  virtual bool IsFinished() const = 0;
  // How the recording goes so far.
  virtual RecordingFigures Figures() const { return {}; }
};

// How a recorder reports, once, on a later pass of the event loop: how the recording ended
// and why (empty after the user's stop); the file is complete, or could not be made.
using RecorderFinished = std::function<void(CaptureEnd end, const QString& why)>;

using RecorderFactory =
    std::function<std::unique_ptr<Recorder>(const CapInfo& info, RecorderFinished finished)>;

// The life of recordings: the start delay, the file name, start, pause, continue, stop, the
// report of the result. The window, the tray menu and the shortcuts call the same commands;
// they follow StateChanged. User-interface thread only.
//
// A recorder is destroyed only once it has finished: a start while the previous recording
// still completes its file waits for it on the event loop. Each recording's end carries its
// own file, and it is handled on a later pass of the event loop, so the worker never waits
// for a message box.
class RecordingController : public QObject {
  Q_OBJECT

 public:
  enum class State { Idle, Waiting, Running, Paused };

  RecordingController(RecordingView& view, RecorderFactory factory,
                      std::unique_ptr<DelayTimer> timer = nullptr,
                      std::function<QString()> stamp = nullptr, QObject* parent = nullptr);
  ~RecordingController() override;

  // "Capture video": hide, then start after the delay.
  void CaptureVideo();
  // Tray "Start"/"Continue": arms the start timer with its current interval (the "Delay
  // before capture" until a "Capture video" has set one); a running timer goes on as it is.
  void RecordFromTray();
  // The start shortcut: starts at once unless a recording exists.
  void StartNow();
  // Tray "Pause".
  void Pause();
  // The pause shortcut: pause or continue at once, only while recording.
  void TogglePause();
  // Tray "Stop", the finish shortcut, the window's end.
  void Stop();
  // The window is shown again before the delay ended: the start that was to come is dropped.
  void CancelStart();
  // The application ends: stops and waits until the file is complete.
  void Finish();

  State GetState() const;
  bool IsRecording() const { return recording_; }
  // From "Capture video" (or a start) until the file is complete: what shapes a recording
  // (area, rate, compressor) must not change meanwhile.
  bool IsBusy() const;
  bool IsPaused() const { return paused_; }
  // A start (or a continue) waits: for its delay, or for the previous file to be complete.
  // Stop cancels it.
  bool IsDelaying() const { return timer_->IsActive() || startPending_; }
  const QString& OutputFile() const { return outputFile_; }
  int StartInterval() const { return interval_; }

  // The output file of a recording started at stamp in folder: "C" + stamp + ".avi", or the
  // next stamp whose name is free.
  static QString FreeName(const QString& folder, const QString& stamp);

 signals:
  void StateChanged();

 private:
  void TimerFired();
  void Toggle();
  void StartRecording();
  void RecorderFinished(int id, const QString& file, CaptureEnd end, const QString& why);
  void ArmTimer(int milliseconds);
  void DisarmTimer();
  // Once a second while a recorder exists or a delay runs: the progress line, and the end of
  // the busy time.
  void ProgressTick();
  // The progress line of now: the seconds left of a delay, else the recording's figures.
  void ShowFigures();

  RecordingView& view_;
  RecorderFactory factory_;
  std::unique_ptr<DelayTimer> timer_;
  std::function<QString()> stamp_;
  std::unique_ptr<Recorder> recorder_;
  int recorderId_ = 0;
  bool recording_ = false;
  bool paused_ = false;
  bool startPending_ = false;  // a start waits for the previous recorder to finish
  bool ending_ = false;        // the application ends: late ends are not shown any more
  QTimer retry_;
  QTimer progressTimer_;
  std::unique_ptr<RecordingProgress> progress_;
  int interval_ = -1;  // set by "Capture video"; none before the first
  int fps_ = 0;        // the running recording's rate
  QString outputFile_;
};

// The start timer on the event loop.
class QtDelayTimer : public DelayTimer {
 public:
  QtDelayTimer();
  void Start(int milliseconds) override;
  void Stop() override;
  bool IsActive() const override;
  int RemainingMs() const override;

 private:
  QTimer timer_;
};

}  // namespace qm
