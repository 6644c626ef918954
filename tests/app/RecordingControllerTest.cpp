#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/RecordingController.h"
#include "capture/Grabber.h"
#include "common/PictureArea.h"

namespace qm {
namespace {

using State = RecordingController::State;

// The start delay on a clock the test moves.
class FakeTimer : public DelayTimer {
 public:
  void Start(int milliseconds) override {
    due_ = now_ + milliseconds;
    active_ = true;
  }
  void Stop() override { active_ = false; }
  bool IsActive() const override { return active_; }
  int RemainingMs() const override { return due_ - now_; }
  void Advance(int milliseconds) {
    now_ += milliseconds;
    if (active_ && now_ >= due_) Fired();
  }

 private:
  int now_ = 0;
  int due_ = 0;
  bool active_ = false;
};

struct FakeRecorder : Recorder {
  QString File;
  RecorderFinished OnFinished;
  std::string* Log;
  bool Finished = false;
  Rect Area;
  FakeRecorder(const CapInfo& info, RecorderFinished finished, std::string* log)
      : File(info.FileName), OnFinished(std::move(finished)), Log(log), Area(info.Area) {}
  // As the capture thread says its end: queued to the user-interface thread.
  void End(CaptureEnd end, const QString& why = QString()) {
    QMetaObject::invokeMethod(
        qApp, [finished = OnFinished, end, why] { finished(end, why); }, Qt::QueuedConnection);
  }
  ~FakeRecorder() override { *Log += "destroy " + File.toStdString() + ";"; }
  void Pause() override { *Log += "pause;"; }
  void Continue() override { *Log += "continue;"; }
  void Stop() override { *Log += "stop;"; }
  bool IsFinished() const override { return Finished; }
  RecordingFigures Figures() const override { return Figures_; }
  RecordingFigures Figures_;
};

struct FakeView : RecordingView {
  std::string Log;
  bool Play = true;
  int Delay = 3;
  RecordingJob Given{.Area = {0, 0, 64, 48}, .OutputFolder = "/out/"};
  RecordingJob Job() override { return Given; }
  int StartDelaySeconds() override { return Delay; }
  bool PlayResult() override { return Play; }
  void HideToTray() override { Log += "hide;"; }
  void ShowFromTray() override { Log += "show;"; }
  void Beep() override { Log += "beep;"; }
  void ShowOutput(const QString& file) override { Log += "output " + file.toStdString() + ";"; }
  void ShowOutputNote(const QString& note) override { Log += note.toStdString() + ";"; }
  QString Line;  // the last progress line
  void ShowProgress(const QString& line) override { Line = line; }
  void ShowError(const QString& text) override { Log += text.toStdString() + ";"; }
  void PlayVideo(const QString& file) override { Log += "play " + file.toStdString() + ";"; }
  bool Shared = true;                    // the desktop's sharing dialog is accepted
  std::shared_ptr<ScreenSource> Source;  // what it shares; null: the X screen
  bool OpenScreen(std::shared_ptr<ScreenSource>& source) override {
    if (!Shared) Log += "not shared;";
    source = Source;
    return Shared;
  }
};

class RecordingControllerTest : public ::testing::Test {
 protected:
  RecordingControllerTest() {
    auto timer = std::make_unique<FakeTimer>();
    timer_ = timer.get();
    controller_ = std::make_unique<RecordingController>(
        view_,
        [this](const CapInfo& info, RecorderFinished finished) {
          auto recorder = std::make_unique<FakeRecorder>(info, std::move(finished), &view_.Log);
          recorders_.push_back(recorder.get());
          view_.Log += "start " + info.FileName.toStdString() + ";";
          return recorder;
        },
        std::move(timer), [this] { return QString::number(++stamp_); });
  }
  std::string TakeLog() { return std::exchange(view_.Log, {}); }
  // Runs what the controller handed to the event loop.
  static void Settle() { QCoreApplication::sendPostedEvents(); }

  FakeView view_;
  FakeTimer* timer_ = nullptr;
  std::vector<FakeRecorder*> recorders_;
  int stamp_ = 0;
  std::unique_ptr<RecordingController> controller_;
};

TEST_F(RecordingControllerTest, DelayPauseContinueStopAndPlay) {
  EXPECT_FALSE(controller_->IsBusy());
  controller_->CaptureVideo();
  EXPECT_EQ(controller_->GetState(), State::Waiting);
  EXPECT_TRUE(controller_->IsBusy());
  EXPECT_EQ(view_.Line, "Starting in 3 s");
  timer_->Advance(2999);
  EXPECT_EQ(TakeLog(), "hide;");
  timer_->Advance(1);
  EXPECT_EQ(TakeLog(), "beep;hide;start /out/C1.avi;");
  EXPECT_EQ(controller_->GetState(), State::Running);

  recorders_[0]->Figures_ = {.ActiveMs = 16'000, .Frames = 9, .Bytes = 2'500'000};  // at 15 fps
  controller_->Pause();
  EXPECT_EQ(controller_->GetState(), State::Paused);
  EXPECT_EQ(view_.Line, "Paused 0:00:16 - 2.5 MB");
  controller_->RecordFromTray();  // "Continue" waits the same delay again, with its beep
  EXPECT_TRUE(controller_->IsDelaying());
  EXPECT_EQ(view_.Line, "Continuing in 3 s");
  timer_->Advance(3000);
  EXPECT_EQ(TakeLog(), "pause;beep;continue;");
  controller_->TogglePause();
  controller_->TogglePause();
  EXPECT_EQ(TakeLog(), "pause;continue;");

  controller_->Stop();
  EXPECT_EQ(controller_->GetState(), State::Idle);
  EXPECT_EQ(TakeLog(), "stop;show;output /out/C1.avi;");
  // Until the file is complete, what shapes the recording stays locked.
  EXPECT_TRUE(controller_->IsBusy());
  recorders_[0]->Finished = true;
  EXPECT_FALSE(controller_->IsBusy());
  recorders_[0]->End(CaptureEnd::Stopped);
  Settle();
  // The complete file's figures: far fewer frames than the time asked for.
  EXPECT_EQ(TakeLog(),
            "kept 9 of 240 frames: the compressor is too slow for this size;play /out/C1.avi;");
}

TEST_F(RecordingControllerTest, CommandsThatDoNothingInTheirState) {
  controller_->TogglePause();
  controller_->Pause();
  EXPECT_EQ(controller_->GetState(), State::Idle);
  controller_->StartNow();
  controller_->StartNow();
  controller_->CaptureVideo();
  EXPECT_EQ(TakeLog(), "hide;start /out/C1.avi;");
  EXPECT_EQ(recorders_.size(), 1u);
}

// Faults of the recording's own end: it stops as if the user had, and an error names the
// attempted file with "Error" run straight into the reason.
TEST_F(RecordingControllerTest, RecordingThatEndsByItselfReturnsToIdle) {
  for (bool failed : {false, true}) {
    SCOPED_TRACE(failed);
    controller_->StartNow();
    FakeRecorder* recorder = recorders_.back();
    recorder->Finished = true;
    TakeLog();
    if (failed)
      recorder->End(CaptureEnd::Failed, "Can not create file " + recorder->File);
    else
      recorder->End(CaptureEnd::ScreenUnreadable);
    EXPECT_EQ(controller_->GetState(), State::Running);  // handled on the next pass only
    Settle();
    EXPECT_EQ(controller_->GetState(), State::Idle);
    const std::string file = recorder->File.toStdString();
    EXPECT_EQ(TakeLog(),
              failed ? "ErrorCan not create file " + file + ";stop;show;output " + file + ";"
                     : "stop;show;output " + file + ";play " + file + ";");
  }
}

// Tray "Start" waits the user's delay also before any "Capture video", and choosing it again
// while the delay runs does not begin the wait anew.
TEST_F(RecordingControllerTest, TrayStartWaitsTheDelayOnce) {
  for (const int again : {-1, 1500}) {
    SCOPED_TRACE(again);
    controller_->Stop();
    for (FakeRecorder* recorder : recorders_) recorder->Finished = true;
    controller_->RecordFromTray();
    if (again >= 0) {
      timer_->Advance(again);
      controller_->RecordFromTray();
      timer_->Advance(2999 - again);
    } else {
      timer_->Advance(2999);
    }
    EXPECT_EQ(controller_->GetState(), State::Waiting);
    timer_->Advance(1);
    EXPECT_EQ(controller_->GetState(), State::Running);
  }
}

// A refused screen-sharing dialog starts nothing and brings the window back.
TEST_F(RecordingControllerTest, RefusedSharingStartsNothing) {
  view_.Shared = false;
  controller_->StartNow();
  EXPECT_EQ(controller_->GetState(), State::Idle);
  EXPECT_TRUE(recorders_.empty());
  EXPECT_EQ(TakeLog(), "hide;not shared;show;");
}

// A shared window ("Selected object") is recorded whole, and so is what the desktop shares when
// the area is the whole X screen; other areas are parts of it, a preset still centred on the X
// screen centred on the shared picture.
TEST_F(RecordingControllerTest, SharedScreenAreas) {
  struct SharedWindow : ScreenSource {
    bool Read(const std::function<void(const SourcePicture&)>&) override { return false; }
    Rect Bounds() override { return {0, 0, 200, 100}; }
  };
  const Rect part{0, 0, 64, 48}, shared{0, 0, 200, 100};
  struct Case {
    Rect Area;
    bool Whole;
    bool Shared;
    Rect Recorded;
  };
  for (const Case& c :
       {Case{part, false, true, part}, Case{part, true, true, shared},
        Case{Grabber::ScreenBounds(), false, true, shared}, Case{part, true, false, part},
        Case{CentredArea(64, 48, Grabber::ScreenBounds()), false, true, {68, 26, 132, 74}}}) {
    view_.Given.Area = c.Area;
    view_.Given.WholeSource = c.Whole;
    view_.Source = c.Shared ? std::make_shared<SharedWindow>() : nullptr;
    controller_->Stop();
    if (!recorders_.empty()) recorders_.back()->Finished = true;  // the others are gone
    controller_->StartNow();
    ASSERT_EQ(controller_->GetState(), State::Running);
    EXPECT_EQ(recorders_.back()->Area, c.Recorded) << c.Whole << c.Shared;
  }
}

// Stop cancels the start to come, and so does the window shown again; the countdown goes.
TEST_F(RecordingControllerTest, StopDuringTheDelayCancelsTheStart) {
  for (const auto cancel : {&RecordingController::Stop, &RecordingController::CancelStart}) {
    controller_->CaptureVideo();
    timer_->Advance(1500);
    EXPECT_EQ(view_.Line, "Starting in 3 s");  // shown at the start; the ticks count down
    EXPECT_TRUE(controller_->IsDelaying());
    (controller_.get()->*cancel)();
    timer_->Advance(10000);
    EXPECT_EQ(controller_->GetState(), State::Idle);
    EXPECT_FALSE(controller_->IsDelaying());
    EXPECT_EQ(view_.Line, QString());
    EXPECT_TRUE(recorders_.empty());
    EXPECT_EQ(TakeLog().find("output"), std::string::npos);
  }
}

// The second recording waits for the first to finish its file; the first one's end
// then plays its own file and leaves the second running.
TEST_F(RecordingControllerTest, BackToBackRecordingsKeepTheirOwnFiles) {
  controller_->StartNow();
  controller_->Stop();
  FakeRecorder* first = recorders_[0];
  TakeLog();
  controller_->StartNow();
  EXPECT_EQ(controller_->GetState(), State::Waiting);
  EXPECT_EQ(recorders_.size(), 1u);
  first->Finished = true;
  first->End(CaptureEnd::Stopped);
  QEventLoop loop;
  QObject::connect(controller_.get(), &RecordingController::StateChanged, &loop, [&] {
    if (controller_->GetState() == State::Running) loop.quit();
  });
  loop.exec();
  Settle();
  EXPECT_EQ(TakeLog(), "hide;stop;play /out/C1.avi;destroy /out/C1.avi;start /out/C2.avi;");
  EXPECT_EQ(controller_->GetState(), State::Running);
  EXPECT_EQ(controller_->OutputFile(), "/out/C2.avi");
}

// A name that something already has (an earlier recording of the same 86.4 ms, one that
// another recorder is writing, even a dangling link) is never taken over: the next free stamp
// names the recording, and what stood there stays.
TEST(RecordingControllerNames, ANameInUseIsPassedOverNeverRemoved) {
  QTemporaryDir dir;
  const QString folder = dir.path() + QLatin1Char('/');
  {
    QFile file(folder + "C7.avi");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("being recorded");
  }
  ASSERT_TRUE(QFile::link(folder + "nowhere", folder + "C8.avi"));
  struct Case {
    const char* Stamp;
    const char* Name;
  };
  for (const Case& c : {Case{"6", "C6.avi"}, Case{"7", "C9.avi"}, Case{"8", "C9.avi"}}) {
    EXPECT_EQ(RecordingController::FreeName(folder, c.Stamp), folder + c.Name) << c.Stamp;
  }
  QFile file(folder + "C7.avi");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "being recorded");
  EXPECT_TRUE(QFileInfo(folder + "C8.avi").isSymLink());
}

}  // namespace
}  // namespace qm
