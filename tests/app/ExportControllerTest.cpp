// The export controller with the real engine: copies of a real recording, made off the
// user-interface thread, judged by ffprobe.

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "app/ExportController.h"
#include "export/ExportClips.h"
#include "support/MediaProbe.h"
#include "support/TrayHost.h"

namespace qm {
namespace {

using Outcome = ExportController::Outcome;
using test::MediaProbe;
using test::SpinUntil;

class ExportControllerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new QTemporaryDir;
    // Red, green, blue for a second each, by the real recorder.
    if (!test::RecordColours(Path("clip.avi"), QStringLiteral("MP42"),
                             {0xFF0000, 0x00FF00, 0x0000FF}))
      Path("clip.avi").clear();
  }
  static void TearDownTestSuite() { delete folder_; }
  void SetUp() override {
    ASSERT_TRUE(MediaProbe::Available());
    ASSERT_TRUE(QFile::exists(Path("clip.avi")));
    QObject::connect(&exports_, &ExportController::Finished,
                     [this](int id, Outcome outcome, const QString&, const QString& message) {
                       ended_[id] = {outcome, message};
                     });
  }
  static QString Path(const char* name) { return folder_->filePath(QLatin1String(name)); }
  bool WaitFor(int id) {
    return SpinUntil([&] { return ended_.count(id) > 0; }, 120);
  }

  static QTemporaryDir* folder_;
  ExportController exports_;
  std::map<int, std::pair<Outcome, QString>> ended_;
};

QTemporaryDir* ExportControllerTest::folder_ = nullptr;

TEST_F(ExportControllerTest, EachKindIsWrittenOffTheUserInterfaceThread) {
  const struct {
    const char* Name;
    int Width;
    double From, To;
    const char* Codec;
    int ExpectedWidth;
    double Duration;
  } cases[] = {
      {"full.mp4", 0, 0, 0, "h264", 320, 3.0},
      {"half.webm", 160, 0, 0, "vp9", 160, 3.0},
      {"middle.mkv", 0, 1.0, 2.0, "h264", 320, 1.0},
      {"clip.gif", 0, 0.5, 0, "gif", 320, 2.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ExportRequest request;
    request.Input = Path("clip.avi");
    request.Output = Path(c.Name);
    request.Width = c.Width;
    if (c.From > 0) request.From = c.From;
    if (c.To > 0) request.To = c.To;
    double progress = 0;
    const QMetaObject::Connection watch = QObject::connect(
        &exports_, &ExportController::Progress, [&](int, double done) { progress = done; });
    const int id = exports_.Start(request);
    ASSERT_TRUE(WaitFor(id));
    QObject::disconnect(watch);
    ASSERT_EQ(ended_[id].first, Outcome::Done) << ended_[id].second.toStdString();
    EXPECT_TRUE(ended_[id].second.startsWith(request.Output));
    EXPECT_GT(progress, 0.9);
    const test::ProbedVideo video = MediaProbe::ProbeVideo(request.Output);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.CodecName, QLatin1String(c.Codec));
    EXPECT_EQ(video.Width, c.ExpectedWidth);
    EXPECT_NEAR(test::FileDuration(request.Output), c.Duration, 0.25);
  }
  EXPECT_FALSE(exports_.IsBusy());
}

// A cancelled export, running or waiting its turn, leaves the folder as it was; an automatic
// copy never takes the name of a file that is there.
TEST_F(ExportControllerTest, CancelLeavesNothingAndCopiesReplaceNothing) {
  QTemporaryDir out;
  // Every picture differs: long enough for a cancel after the first progress report.
  const QString input = out.filePath(QStringLiteral("C1.avi"));
  ASSERT_TRUE(test::FfmpegClip(input, QStringLiteral("testsrc2=s=640x480:r=10:d=20"),
                               {"-c:v", "msmpeg4v2"}));
  ExportRequest running;
  running.Input = input;
  running.Output = ExportController::CopyName(input, ExportKind::WebM);
  ExportRequest waiting = running;
  waiting.Output = ExportController::CopyName(input, ExportKind::Gif);
  EXPECT_EQ(running.Output, out.filePath(QStringLiteral("C1.webm")));
  const int first = exports_.Start(running);
  const int second = exports_.Start(waiting);
  exports_.Cancel(second);
  // The first one goes once it has begun writing.
  QObject::connect(&exports_, &ExportController::Progress, [&](int id, double) {
    if (id == first) exports_.Cancel(first);
  });
  ASSERT_TRUE(WaitFor(first) && WaitFor(second));
  for (const int id : {first, second}) {
    EXPECT_EQ(ended_[id].first, Outcome::Cancelled);
    EXPECT_EQ(ended_[id].second, QStringLiteral("The export was cancelled"));
  }
  EXPECT_EQ(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"C1.avi"});

  ASSERT_TRUE(QFile::copy(input, out.filePath(QStringLiteral("C1.gif"))));
  EXPECT_EQ(ExportController::CopyName(input, ExportKind::Gif),
            out.filePath(QStringLiteral("C1-1.gif")));
  EXPECT_EQ(ExportController::NewestRecording(out.path()), input);
}

}  // namespace
}  // namespace qm
