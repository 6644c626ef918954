#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "capture/CapInfo.h"
#include "capture/CapThread.h"
#include "capture/WriterThread.h"
#include "common/FourCC.h"
#include "platform/clock/TickClock.h"
#include "platform/codecs/VideoEncoder.h"
#include "support/MediaProbe.h"
#include "support/RecordingMessages.h"
#include "support/SoundProbe.h"
#include "support/SteppingClock.h"
#include "video/AviCompress.h"
#include "video/AviWriter.h"
#include "video/MovieWriter.h"

namespace qm {
namespace {

// Close below the wrap of the 32-bit tick, so every recording here runs across it.
constexpr uint32_t kClockStart = 0xFFFFFFFFu - 1500u;

// Stands in for the main window: what the thread said of its end, on this thread.
class CapDoneReceiver : public QObject {
 public:
  int Count = 0;  // ends other than a failure
  std::vector<CaptureEnd> Ends;
  QStringList Told;  // why they came
};

// Frames that a decoder really finds in the file; -1 when ffprobe rejects it.
int DecodedFrames(const QString& file) {
  const test::ProbedVideo video = test::MediaProbe::ProbeVideo(file);
  return video.Valid ? int(video.Frames) : -1;
}

// The stream's frame rate as the file states it.
double StatedRate(const QString& file) {
  const QStringList parts = test::MediaProbe::ProbeVideo(file).FrameRate.split('/');
  if (parts.size() != 2 || parts[1].toDouble() == 0) return -1;
  return parts[0].toDouble() / parts[1].toDouble();
}

// One recording of a small area, uncompressed, through the real movie writer, with the
// thread's clock under the test's control.
class CapThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    file = dir.filePath("take.avi");
    writer = std::make_unique<MovieWriter>(dir.filePath("Index.~tmp"));
    clock.OnSleep = [this](uint32_t elapsed) {
      NoteFrames(elapsed - 10);
      if (OnPass) OnPass(elapsed);
    };
    clock.KeepUp = [this] {
      while (!thread->WriterIdle()) std::this_thread::yield();
    };
  }

  void WaitUntilPaused() {
    while (!thread->IsWaiting()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  // On the test's clock, or on the real one.
  void Start(uint16_t fps, Rect area = Rect{0, 0, 64, 48}, bool realClock = false,
             CapThreadOptions options = {}) {
    thread = realClock ? std::make_unique<CapThread>(TickClock::System(), options)
                       : std::make_unique<CapThread>(clock, options);
    CapInfo info;
    info.Receiver = &owner;
    info.Area = area;
    info.Writer = writer.get();
    info.FileName = file;
    info.FramesPerSecond = fps;
    // The schedule's tests count whole frames in the file; FrameChangesTest covers the frames
    // left out as repeats.
    info.EveryFrame = true;
    info.Sound = sound;
    info.Finished = [this](CaptureEnd end, const QString& why) {
      owner.Ends.push_back(end);
      errorsOnUiThread = errorsOnUiThread && QThread::currentThread() == qApp->thread();
      if (end == CaptureEnd::Failed) {
        errors << why;
        return;
      }
      ++owner.Count;
      if (!why.isEmpty()) owner.Told << why;
    };
    thread->SetInfo(info);
    thread->Start();
  }

  // Waits for the end, then lets the queued end arrive.
  void Finish() {
    thread->WaitFor();
    if (writer->Frame().FrameNumber > framesSeen) frameTimes.push_back(lastPassTick);
    QCoreApplication::sendPostedEvents(&owner);
  }

  // A frame is taken in the pass that follows the sleep; the next sleep sees it counted.
  void NoteFrames(uint32_t passTick) {
    const uint32_t frames = writer->Frame().FrameNumber;
    if (frames > framesSeen) {
      EXPECT_EQ(frames, framesSeen + 1) << "two frames in one pass";
      frameTimes.push_back(lastPassTick);
      framesSeen = frames;
    }
    lastPassTick = passTick;
  }

  test::RecordingMessages messages;
  QTemporaryDir dir;
  QString file;
  test::SteppingClock clock{kClockStart};
  CapDoneReceiver owner;
  std::unique_ptr<MovieWriter> writer;
  std::unique_ptr<CapThread> thread;
  QStringList errors;
  bool errorsOnUiThread = true;
  std::function<void(uint32_t)> OnPass;  // runs on the worker after each sleep
  SoundChoice sound = SoundChoice::Off;

  // Written by the worker between steps; read after Finish.
  std::vector<uint32_t> frameTimes;
  uint32_t framesSeen = 0;
  uint32_t lastPassTick = 0;
};

TEST_F(CapThreadTest, OneFramePerSecondForTwoAndAHalfSecondsTakesTwoFramesSpreadOverTheTime) {
  OnPass = [this](uint32_t elapsed) {
    if (elapsed == 2510) thread->Stop();
  };
  Start(1);
  Finish();

  EXPECT_EQ(frameTimes, (std::vector<uint32_t>{1000, 2000}));
  EXPECT_EQ(thread->GetActiveTime(), 2500u);
  EXPECT_EQ(thread->GetFrameTally(), 2u);
  EXPECT_DOUBLE_EQ(double(thread->GetActualFrameRate()), 0.8);
  EXPECT_EQ(owner.Count, 1);
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(DecodedFrames(file), 2);
  EXPECT_NEAR(StatedRate(file), 0.8, 1e-6);
  EXPECT_FALSE(QFile::exists(dir.filePath("Index.~tmp")));
}

TEST_F(CapThreadTest, AStopBeforeTheFirstFramePeriodGivesACompletedFileWithoutFrames) {
  OnPass = [this](uint32_t elapsed) {
    if (elapsed == 210) thread->Stop();
  };
  Start(4);  // the first frame would be due at 250 ms
  Finish();

  EXPECT_TRUE(frameTimes.empty());
  EXPECT_EQ(writer->Frame().FrameNumber, 0u);
  EXPECT_EQ(owner.Count, 1);
  EXPECT_TRUE(errors.isEmpty());
  const test::ProbedVideo video = test::MediaProbe::ProbeVideo(file);
  EXPECT_TRUE(video.Valid) << video.Error.toStdString();
  // ffprobe reads no count from an empty stream; the file's own structure says it.
  const test::AviFile avi = test::MediaProbe::ReadAvi(file);
  ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
  EXPECT_TRUE(avi.HasIndex);
  EXPECT_EQ(avi.TotalFrames(), 0u);
  EXPECT_TRUE(avi.Chunks.empty());
  // Without a frame the file keeps the requested rate.
  EXPECT_EQ(thread->GetActualFrameRate(), 0.0L);
  EXPECT_NEAR(StatedRate(file), 4.0, 1e-6);
}

TEST_F(CapThreadTest, NoActiveTimeKeepsTheRequestedRate) {
  OnPass = [this](uint32_t elapsed) {
    if (elapsed == 10) thread->Stop();  // stopped within the tick of the start
  };
  Start(15);
  Finish();

  EXPECT_EQ(thread->GetActiveTime(), 0u);
  EXPECT_EQ(thread->GetActualFrameRate(), 0.0L);
  EXPECT_EQ(owner.Count, 1);
  EXPECT_NEAR(StatedRate(file), 15.0, 1e-6);
}

TEST_F(CapThreadTest, APauseIsNeitherCountedNorFilledAndTheScheduleRestartsAtTheContinue) {
  std::atomic<uint32_t> continuedAt{0};
  OnPass = [&](uint32_t elapsed) {
    if (elapsed == 1510) thread->Pause();
    const uint32_t c = continuedAt;
    if (c != 0 && elapsed == c + 2510) thread->Stop();
  };
  Start(1);
  WaitUntilPaused();

  clock.Advance(10000);  // ten seconds paused
  const uint32_t c = clock.Elapsed();
  continuedAt = c;
  thread->Continue();
  Finish();

  // One frame before the pause, two after it, the first one period after the continue.
  EXPECT_EQ(frameTimes, (std::vector<uint32_t>{1000, c + 1000, c + 2000}));
  EXPECT_EQ(thread->GetActiveTime(), 1500u + 2500u);
  EXPECT_EQ(thread->GetFrameTally(), 3u);
  EXPECT_DOUBLE_EQ(double(thread->GetActualFrameRate()), 0.75);
  EXPECT_EQ(owner.Count, 1);
  EXPECT_EQ(DecodedFrames(file), 3);
  EXPECT_NEAR(StatedRate(file), 0.75, 1e-6);
}

TEST_F(CapThreadTest, AStopWhilePausedWakesTheWorkerAndCompletesTheFile) {
  OnPass = [this](uint32_t elapsed) {
    if (elapsed == 1510) thread->Pause();
  };
  Start(1);
  WaitUntilPaused();
  clock.Advance(10000);
  thread->Stop();
  Finish();

  EXPECT_EQ(frameTimes, (std::vector<uint32_t>{1000}));
  EXPECT_EQ(thread->GetActiveTime(), 1500u);  // the paused time is not counted
  EXPECT_EQ(thread->GetFrameTally(), 1u);
  EXPECT_EQ(owner.Count, 1);
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(DecodedFrames(file), 1);
  EXPECT_NEAR(StatedRate(file), 1000.0 / 1500, 1e-4);  // stated in ten-thousandths
}

// Whatever the rate and however the recording was paused, the file plays as long as the
// recording was active: its frames are spread over the active time.
TEST_F(CapThreadTest, TheFileLastsAsLongAsTheRecordingWasActive) {
  struct Case {
    uint16_t Fps;
    uint32_t Before;  // active milliseconds before the pause, or all of them without one
    uint32_t After;   // active milliseconds after a ten-second pause; 0: no pause
  };
  for (const Case c : {Case{1, 2500, 0}, Case{4, 2500, 0}, Case{15, 2500, 0}, Case{1, 1500, 2300},
                       Case{4, 1500, 2300}, Case{15, 1500, 2300}}) {
    SCOPED_TRACE(testing::Message() << c.Fps << " fps, " << c.Before << " + " << c.After << " ms");
    thread.reset();
    framesSeen = 0;
    file = dir.filePath(QStringLiteral("active%1-%2.avi").arg(c.Fps).arg(c.After));
    const uint32_t start = clock.Elapsed();
    std::atomic<uint32_t> continuedAt{0};
    OnPass = [&](uint32_t elapsed) {
      if (elapsed - start == c.Before + 10) c.After ? thread->Pause() : thread->Stop();
      const uint32_t at = continuedAt;
      if (at != 0 && elapsed == at + c.After + 10) thread->Stop();
    };
    Start(c.Fps);
    if (c.After) {
      WaitUntilPaused();
      clock.Advance(10000);
      continuedAt = clock.Elapsed();
      thread->Continue();
    }
    Finish();

    const uint32_t active = c.Before + c.After;
    EXPECT_EQ(thread->GetActiveTime(), active);
    const test::ProbedVideo video = test::MediaProbe::ProbeVideo(file);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.Frames, int64_t(thread->GetFrameTally()));
    EXPECT_NEAR(video.Duration, active / 1000.0, 1.0 / c.Fps);
  }
}

TEST_F(CapThreadTest, ALateWorkerTakesOneFramePerPassUntilItHasCaughtUp) {
  OnPass = [this](uint32_t elapsed) {
    if (elapsed == 1010) clock.Advance(3000);  // a pass that took three seconds
    if (elapsed == 6010) thread->Stop();
  };
  Start(10);
  Finish();

  // Nothing dropped, nothing doubled: frame k of the schedule, k = 1..60.
  ASSERT_EQ(frameTimes.size(), 60u);
  EXPECT_EQ(DecodedFrames(file), 60);
  for (size_t k = 1; k <= frameTimes.size(); ++k) {
    EXPECT_GE(frameTimes[k - 1], 100 * k) << "frame " << k << " before it was due";
    if (k > 1) {
      EXPECT_GT(frameTimes[k - 1], frameTimes[k - 2]) << "frame " << k;
    }
  }
  // Behind schedule, frames follow each other pass by pass (10 ms apart) ...
  EXPECT_EQ(frameTimes[10], 4010u);
  EXPECT_EQ(frameTimes[11], 4020u);
  // ... and once caught up they are taken on time again.
  EXPECT_EQ(frameTimes[59], 6000u);
  EXPECT_EQ(frameTimes[50], 5100u);
  // Frames 11 to 42 came while the next one was due already.
  EXPECT_EQ(thread->Figures().CaughtUp, 32u);
}

TEST_F(CapThreadTest, ARecordingThatEndsItselfCompletesItsFileAndTellsWhy) {
  // 64 x 48 uncompressed: a header region of 6148 bytes, 9224 bytes a frame, 16 an index entry.
  constexpr int64_t kThreeFrames = 6148 + 3 * 9224 + 8 + 3 * 16;
  struct Case {
    const char* Name;
    int64_t SizeLimit;     // the writer's; 0 leaves it alone
    rlim_t FileSizeLimit;  // the process's while recording; 0 leaves it alone
    CaptureEnd End;
    uint32_t Frames;
  };
  const std::vector<Case> cases = {
      {"stop", 0, 0, CaptureEnd::Stopped, 10},
      {"size", kThreeFrames, 0, CaptureEnd::SizeLimit, 3},
      {"full", 0, rlim_t(kThreeFrames + 1000), CaptureEnd::WriteFailed, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    file = dir.filePath(QString::fromLatin1(c.Name) + ".avi");
    framesSeen = 0;
    owner.Count = 0;
    owner.Told.clear();
    writer->Writer().SetSizeLimit(c.SizeLimit ? c.SizeLimit : AviWriter::kNoSizeLimit);
    test::RecordingMessages told;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    if (c.FileSizeLimit) {
      rlimit lowered = saved;
      lowered.rlim_cur = c.FileSizeLimit;
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    }
    const uint32_t begun = clock.Elapsed();
    OnPass = [this, begun](uint32_t elapsed) {
      if (elapsed - begun == 1010) thread->Stop();
    };
    Start(10);
    Finish();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);

    ASSERT_FALSE(owner.Ends.empty());
    EXPECT_EQ(owner.Ends.back(), c.End);
    EXPECT_EQ(writer->Frame().FrameNumber, c.Frames);
    EXPECT_EQ(DecodedFrames(file), int(c.Frames));
    EXPECT_EQ(owner.Count, 1);
    EXPECT_TRUE(errors.isEmpty());
    QStringList expected;
    if (c.End == CaptureEnd::SizeLimit) expected << AviWriter::SizeLimitMessage();
    if (c.End == CaptureEnd::WriteFailed) expected << AviWriter::WriteFailedMessage(file, EFBIG);
    EXPECT_EQ(owner.Told, expected);
    EXPECT_TRUE(told.Messages().isEmpty()) << "told once, by the owner";
  }
}

TEST_F(CapThreadTest, AFrameTheCompressorRefusesEndsTheRecordingAndKeepsTheFramesBefore) {
  ASSERT_TRUE(writer->Compressor().Select(MakeFourCC("MP42")));
  OnPass = [this](uint32_t elapsed) {
    if (elapsed == 250) writer->Compressor().InjectFault(EncoderResult::BadFormat);
    if (elapsed == 5000) thread->Stop();  // only if the failure did not end it
  };
  Start(10);
  Finish();

  EXPECT_EQ(errors, QStringList{"With unknown reason"});
  EXPECT_EQ(messages.Reports().size(), 1);
  EXPECT_EQ(owner.Count, 0);
  EXPECT_EQ(DecodedFrames(file), 2);
}

TEST_F(CapThreadTest, AFileThatCannotBeCreatedIsReportedOnTheUserInterfaceThread) {
  file = dir.filePath("missing/take.avi");
  Start(15);
  Finish();
  EXPECT_EQ(errors, QStringList{"Can not create file " + file + ": No such file or directory"});
  EXPECT_TRUE(errorsOnUiThread);
  EXPECT_EQ(owner.Count, 0);
}

TEST_F(CapThreadTest, DestroyingARunningThreadWaitsForItsFile) {
  // The real clock: frames are due every 31 ms while the user-interface thread is busy
  // elsewhere.
  Start(32, Rect{0, 0, 64, 48}, true);
  QEventLoop loop;
  QTimer::singleShot(300, &loop, &QEventLoop::quit);
  loop.exec();
  thread.reset();

  QCoreApplication::sendPostedEvents(&owner);
  EXPECT_EQ(owner.Count, 1);
  EXPECT_EQ(DecodedFrames(file), int(writer->Frame().FrameNumber));
  EXPECT_GE(DecodedFrames(file), 1);
}

TEST_F(CapThreadTest, DestroyingAPausedThreadCompletesItsFile) {
  OnPass = [this](uint32_t elapsed) {
    if (elapsed == 1510) thread->Pause();
  };
  Start(1);
  WaitUntilPaused();
  thread.reset();

  QCoreApplication::sendPostedEvents(&owner);
  EXPECT_EQ(owner.Count, 1);
  EXPECT_EQ(DecodedFrames(file), 1);
}

// A writer far slower than the schedule makes fewer frames, never a shorter video: the wait for
// it is recording time, and the file lasts as long as the recording ran. The time shown moves
// on while the worker waits for the writer.
TEST_F(CapThreadTest, ASlowWriterMakesFewerFramesNotAShorterVideo) {
  Start(10, Rect{0, 0, 64, 48}, true, {.WriterStepMs = 1500});
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  // The second frame has waited for the writer since 200 ms.
  EXPECT_GE(thread->Figures().ActiveMs, 1100u);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  thread->Stop();
  Finish();
  EXPECT_GE(thread->GetActiveTime(), 1900u);
  const test::ProbedVideo video = test::MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_NEAR(video.Duration, thread->GetActiveTime() / 1000.0, 0.3);
  EXPECT_LE(video.Frames, 5);
}

// Sound played after Stop, while a slow writer catches up, never lands in the file: the sound
// stops with the recording and lasts as long as the pictures.
TEST_F(CapThreadTest, SoundAfterStopStaysOutWhileASlowWriterCatchesUp) {
  const bool stack = qEnvironmentVariable("QM_SESSION_STACK") == QLatin1String("1");
  if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
    if (stack) ADD_FAILURE() << "the session's sound server is missing";
    GTEST_SKIP() << "no sound server";
  }
  const QString tone = dir.filePath(QStringLiteral("tone.wav"));
  bool made = false;
  test::MediaProbe::Run(QStringLiteral("ffmpeg"),
                        {"-v", "error", "-f", "lavfi", "-i", "sine=frequency=1000:duration=4",
                         "-ar", "48000", "-ac", "2", tone},
                        &made);
  ASSERT_TRUE(made);
  sound = SoundChoice::Desktop;
  Start(10, Rect{0, 0, 64, 48}, true, {.WriterStepMs = 2500});
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  thread->Stop();
  QProcess player;
  player.start(QStringLiteral("paplay"), {tone});
  Finish();
  player.waitForFinished(20000);
  const test::ProbedVideo video = test::MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  const std::vector<int16_t> samples = test::DecodeSound(file, false);
  EXPECT_NEAR(double(samples.size()) / 48000, video.Duration, 0.1);
  EXPECT_LT(test::Rms(samples, 0, samples.size()), 100) << "the tone played after Stop is in";
}

// Against a writer far slower than the schedule (each frame takes 600 ms), a pause, a stop
// and the destruction act without waiting for the frame that waits: the worker pauses while
// the writer is still busy, and the file, complete, ends at most one frame after the figure
// the stop saw. Both ways of handing pictures over: drawn in place (uncompressed) and swapped
// (MP42).
TEST_F(CapThreadTest, PauseAndStopDoNotWaitForASlowWriter) {
  enum class End { Stop, PauseThenStop, Destroy };
  for (const uint32_t handler : {0u, MakeFourCC("MP42")}) {
    for (const End end : {End::Stop, End::PauseThenStop, End::Destroy}) {
      SCOPED_TRACE(testing::Message() << handler << " " << int(end));
      ASSERT_TRUE(writer->Compressor().Select(handler));
      file = dir.filePath(QStringLiteral("slow%1-%2.avi").arg(handler).arg(int(end)));
      owner.Count = 0;
      Start(10, Rect{0, 0, 64, 48}, true, {.WriterStepMs = 600});
      // A frame is being written and the next one waits for the writer.
      while (thread->FramesTaken() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (end == End::PauseThenStop) {
        thread->Pause();
        WaitUntilPaused();
        EXPECT_FALSE(thread->WriterIdle()) << "the pause waited for the writer";
      }
      const uint32_t written = thread->Figures().Frames;
      if (end == End::Destroy) {
        thread.reset();
      } else {
        thread->Stop();
        thread->WaitFor();
        EXPECT_EQ(thread->Figures().Frames, writer->Frame().FrameNumber);
      }
      QCoreApplication::sendPostedEvents(&owner);
      EXPECT_EQ(owner.Count, 1);
      const int frames = DecodedFrames(file);
      EXPECT_GE(frames, 1);
      EXPECT_LE(frames, int(written) + 1);
      EXPECT_EQ(frames, int(writer->Frame().FrameNumber));
    }
  }
}

}  // namespace
}  // namespace qm
