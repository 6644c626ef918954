// quillmark-capture on a desktop that shares its screen through the ScreenCast portal: the real
// portal program and PipeWire, with the tests' own backend standing in for the compositor
// (tests/screencast). The backend's picture of frame n at (x, y) is blue x + 3n, green y + 5n,
// red n (modulo 256), so each decoded frame tells which picture it is and can be checked whole.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "support/MediaProbe.h"
#include "support/PortalStack.h"
#include "support/ShortcutsPortal.h"
#include "support/ToolRun.h"
#include "support/XKeys.h"
#include "support/XScreen.h"

namespace qm {
namespace {

using test::ExpectPattern;
using test::MediaProbe;
using test::ProcessResult;
using test::RunTool;

const QString kSharingEnded = QStringLiteral("The desktop stopped sharing the screen");
const QString kNotAllowed = QStringLiteral("Screen sharing was not allowed");

class PortalRecordTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new QTemporaryDir();
    stack_ = new test::PortalStack();
    if (!stack_->Start(dir_->path())) {
      failure_ = QStringLiteral("the portal session did not start: ") + stack_->Errors();
      return;
    }
    savedBus_ = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", stack_->Bus());
  }
  static void TearDownTestSuite() {
    if (!savedBus_.isNull()) qputenv("DBUS_SESSION_BUS_ADDRESS", savedBus_);
    delete stack_;
    delete dir_;
  }

  void SetUp() override { test::RequireStack(failure_); }

  QString File(const char* name) const { return dir_->path() + QLatin1Char('/') + name; }

  static inline QTemporaryDir* dir_ = nullptr;
  static inline test::PortalStack* stack_ = nullptr;
  static inline QString failure_;
  static inline QByteArray savedBus_;
};

// GStreamer reads the file to its end.
bool GStreamerPlays(const QString& path) {
  bool ok = false;
  MediaProbe::Run(QStringLiteral("gst-launch-1.0"),
                  {QStringLiteral("-q"), QStringLiteral("filesrc"),
                   QStringLiteral("location=") + path, QStringLiteral("!"),
                   QStringLiteral("decodebin"), QStringLiteral("!"), QStringLiteral("fakesink")},
                  &ok, nullptr, 60000);
  return ok;
}

// Recordings of the backend's stream, each judged by ffprobe, GStreamer and its decoded pixels.
TEST_F(PortalRecordTest, RecordsTheSharedScreen) {
  struct Case {
    const char* Name;
    QByteArray Control;
    QStringList Args;
    int Width, Height;  // the file's frame size
    std::function<void(const QString&)> Check;
  };
  const auto pattern = [](int w, int h, int dx, int dy) {
    return [=](const QString& path) { ExpectPattern(path, w, h, dx, dy); };
  };
  const Case cases[] = {
      {"BGRx", "size=320x240\nformat=BGRx\n", {}, 320, 240, pattern(320, 240, 0, 0)},
      {"RGBx", "size=320x240\nformat=RGBx\n", {}, 320, 240, pattern(320, 240, 0, 0)},
      {"BGRx cropped",
       "size=320x240\nformat=BGRx\ncrop=40,30,200,120\n",
       {},
       200,
       120,
       pattern(200, 120, 40, 30)},
      {"RGBx cropped, an area of it",
       "size=320x240\nformat=RGBx\ncrop=40,30,200,120\n",
       {QStringLiteral("--area"), QStringLiteral("10,20,64,48")},
       64,
       48,
       pattern(64, 48, 50, 50)},
      // An area reaching beyond the picture is moved inside it.
      {"an area moved inside",
       "size=320x240\nformat=BGRx\n",
       {QStringLiteral("--area"), QStringLiteral("300,200,64,48")},
       64,
       48,
       pattern(64, 48, 256, 192)},
      // The cursor's shape: a 16 x 16 square with its hot spot at (2, 2), its left half white
      // in a black border, its right half transparent.
      {"cursor drawn",
       "size=320x240\ncursor=100,50\n",
       {QStringLiteral("--cursor")},
       320,
       240,
       [](const QString& path) {
         ExpectPattern(path, 320, 240, 0, 0,
                       [](int x, int y) { return x >= 98 && x < 106 && y >= 48 && y < 64; });
         std::vector<QByteArray> frames;
         ASSERT_TRUE(MediaProbe::DecodeBgr24(path, 320, 240, frames));
         const auto pixel = [&](int x, int y) {
           return uint8_t(frames.back()[qsizetype((y * 320 + x) * 3)]);
         };
         EXPECT_EQ(pixel(98 + 3, 48 + 3), 255);
         EXPECT_EQ(pixel(98 + 7, 48 + 3), 0);
         EXPECT_EQ(pixel(98 + 3, 48), 0);
       }},
      // Following centres the 64 x 64 area on the cursor's place.
      {"follow",
       "size=320x240\ncursor=100,50\n",
       {QStringLiteral("--area"), QStringLiteral("0,0,64,64"), QStringLiteral("--follow")},
       64,
       64,
       pattern(64, 64, 100 - 32, 50 - 32)},
      // A picture that grows smaller keeps the frame size: the rest is black.
      {"size change",
       "size=320x240\nresize_after=600,200x150\n",
       {},
       320,
       240,
       [](const QString& path) {
         std::vector<QByteArray> frames;
         ASSERT_TRUE(MediaProbe::DecodeBgr24(path, 320, 240, frames));
         const QByteArray& last = frames.back();
         const int n = uint8_t(last[2]);
         uint8_t want[3];
         test::PatternPixel(199, 149, n, want);
         const qsizetype inside = (149 * 320 + 199) * 3, outside = (200 * 320 + 300) * 3;
         EXPECT_EQ(uint8_t(last[inside]), want[0]);
         EXPECT_EQ(uint8_t(last[outside]), 0);
         EXPECT_EQ(uint8_t(last[(10 * 320 + 250) * 3 + 1]), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    stack_->Control(c.Control);
    const QString file = File("case.avi");
    QFile::remove(file);
    QStringList args = {QStringLiteral("record"), QStringLiteral("--source"),
                        QStringLiteral("portal"), QStringLiteral("--codec"),
                        QStringLiteral("DIB"),    QStringLiteral("--seconds"),
                        QStringLiteral("1.5"),    file};
    args += c.Args;
    const ProcessResult run = RunTool(args);
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.Width, c.Width);
    EXPECT_EQ(video.Height, c.Height);
    EXPECT_GT(video.Frames, 5);
    EXPECT_TRUE(GStreamerPlays(file));
    c.Check(file);
  }
}

// A still picture gives one full frame and empty chunks after it, which play as that frame:
// one where only a pixel outside the area changes (and the damage report says so), and one
// where nothing changes at all (the report names nothing).
TEST_F(PortalRecordTest, StillPictureGivesEmptyChunks) {
  struct Case {
    QByteArray Control;
    int Side;  // the area recorded: Side x Side from the top left corner
  };
  for (const Case& c :
       {Case{"size=320x240\nstill=1\n", 100}, Case{"size=120x120\nstill=2\n", 120}}) {
    SCOPED_TRACE(c.Control.toStdString());
    stack_->Control(c.Control);
    const QString file = File("still.avi");
    QFile::remove(file);
    const ProcessResult run =
        RunTool({QStringLiteral("record"), QStringLiteral("--source"), QStringLiteral("portal"),
                 QStringLiteral("--codec"), QStringLiteral("DIB"), QStringLiteral("--area"),
                 QStringLiteral("0,0,%1,%1").arg(c.Side), QStringLiteral("--seconds"),
                 QStringLiteral("1.5"), file});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const test::AviFile avi = MediaProbe::ReadAvi(file);
    int empty = 0, full = 0;
    for (const test::AviMoviChunk& chunk : avi.Chunks) (chunk.Size == 0 ? empty : full)++;
    EXPECT_GT(empty, 10);
    EXPECT_LE(full, 2);  // the first, and the last written whole
    std::vector<QByteArray> frames;
    // At the file's own rate (the one achieved), every chunk is one picture.
    const QString rate = QStringLiteral("%1/%2").arg(avi.Rate()).arg(avi.Scale());
    ASSERT_TRUE(MediaProbe::DecodeBgr24(file, c.Side, c.Side, frames, nullptr, rate));
    EXPECT_EQ(frames.size(), avi.Chunks.size());
    EXPECT_TRUE(GStreamerPlays(file));
    ExpectPattern(file, c.Side, c.Side, 0, 0);
  }
}

// The desktop's answers that start nothing, and its end of the sharing mid-recording.
TEST_F(PortalRecordTest, RefusedCancelledAndStoppedSharing) {
  struct Case {
    const char* Name;
    QByteArray Control;
    const char* Command;
    bool Written;
    bool Usage = false;  // a bad command line, refused before any dialog
  };
  for (const Case& c : {Case{"refused", "response=1\n", "record", false},
                        Case{"cancelled", "response=2\n", "record", false},
                        Case{"photo refused", "response=1\n", "photo", false},
                        Case{"stopped", "size=160x120\nstop_after=800\n", "record", true},
                        Case{"node removed", "size=160x120\nvanish_after=800\n", "record", true},
                        Case{"backend ends", "size=160x120\nexit_after=800\n", "record", true},
                        Case{"select and window", "", "photo --select --window", false, true}}) {
    SCOPED_TRACE(c.Name);
    stack_->ClearLog();
    stack_->Control(c.Control);
    QStringList args = QString::fromLatin1(c.Command).split(QLatin1Char(' '));
    const bool record = args[0] == QLatin1String("record");
    const QString file = File(record ? "answer.avi" : "answer.bmp");
    QFile::remove(file);
    args += {QStringLiteral("--source"), QStringLiteral("portal"), file};
    if (record) args += {QStringLiteral("--seconds"), QStringLiteral("20")};
    const ProcessResult run = RunTool(args, 60000);
    EXPECT_EQ(QFile::exists(file), c.Written);
    if (c.Usage) {
      EXPECT_EQ(run.ExitCode, 2);
      EXPECT_TRUE(stack_->Log().isEmpty());  // no dialog was shown
      continue;
    }
    if (!c.Written) {
      EXPECT_EQ(run.ExitCode, 1);
      EXPECT_EQ(run.Err.trimmed(), kNotAllowed);
      continue;
    }
    EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(kSharingEnded)) << run.Err.toStdString();
    const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_GT(video.Frames, 3);
    EXPECT_LT(video.Frames, 15 * 10);
    EXPECT_TRUE(GStreamerPlays(file));
  }
}

// The first session shows the dialog; the token file it leaves lets the second (a photo, on a
// Wayland desktop without --source) start without it.
TEST_F(PortalRecordTest, RestoreTokenSkipsTheDialogNextTime) {
  stack_->Control("size=160x120\n");
  stack_->ClearLog();
  const QString token = File("token");
  // A hand-edited token, which the portal refuses: the dialog asks, and the file gets its token.
  QFile edited(token);
  ASSERT_TRUE(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
  edited.write("hand-edited\n");
  edited.close();
  ProcessResult run =
      RunTool({QStringLiteral("record"), QStringLiteral("--source"), QStringLiteral("portal"),
               QStringLiteral("--restore-token"), token, QStringLiteral("--seconds"),
               QStringLiteral("0.5"), File("first.avi")});
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  QFile file(token);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray kept = file.readAll().trimmed();
  EXPECT_FALSE(kept.isEmpty());
  EXPECT_NE(kept, "hand-edited");
  file.close();
  // On a Wayland desktop the portal is the source without asking for it.
  const QByteArray savedType = qgetenv("XDG_SESSION_TYPE");
  qputenv("XDG_SESSION_TYPE", "wayland");
  run = RunTool(
      {QStringLiteral("photo"), QStringLiteral("--restore-token"), token, File("second.bmp")});
  if (savedType.isNull())
    qunsetenv("XDG_SESSION_TYPE");
  else
    qputenv("XDG_SESSION_TYPE", savedType);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_EQ(stack_->Log(),
            QStringList({QStringLiteral("dialog types=3"), QStringLiteral("restored types=3")}));
  EXPECT_TRUE(run.Out.contains(QStringLiteral(": 0,0,160,120"))) << run.Out.toStdString();
}

// --window asks the desktop for a window only, and takes the whole window whatever --area says.
TEST_F(PortalRecordTest, WindowAsksForAWindow) {
  stack_->Control("size=200x150\n");
  struct Case {
    const char* Command;
    const char* Asked;
    const char* Area;
  };
  for (const Case& c :
       {Case{"photo --area 10,10,50,40", "dialog types=3", ": 10,10,50,40"},
        Case{"photo --window --area 10,10,50,40", "dialog types=2", ": 0,0,200,150"},
        Case{"photo --window", "dialog types=2", ": 0,0,200,150"}}) {
    SCOPED_TRACE(c.Command);
    stack_->ClearLog();
    QStringList args = QString::fromLatin1(c.Command).split(QLatin1Char(' '));
    args += {QStringLiteral("--source"), QStringLiteral("portal"), File("window.bmp")};
    const ProcessResult run = RunTool(args, 60000);
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(stack_->Log(), QStringList(QString::fromLatin1(c.Asked)));
    EXPECT_TRUE(run.Out.contains(QLatin1String(c.Area))) << run.Out.toStdString();
  }
}

// --select draws the area on the shared screen's picture, in its pixels.
TEST_F(PortalRecordTest, SelectShowsTheSharedPicture) {
  stack_->Control("size=200x150\nstill=2\n");
  test::XScreen screen;
  ASSERT_TRUE(screen.Ok());
  const QString file = File("select.bmp");
  QProcess tool;
  test::StartTool(tool, {QStringLiteral("photo"), QStringLiteral("--select"),
                         QStringLiteral("--source"), QStringLiteral("portal"),
                         QStringLiteral("--area"), QStringLiteral("20,10,40,30"), file});
  unsigned long shown = 0;
  for (int i = 0; i < 3000 && !(shown && screen.FocusWindow() == shown); ++i) {
    shown = screen.FindWindowNamed("Capture area");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(shown, 0u);
  // Outside the box the selection screen shows the stream's first picture, once painted.
  for (int i = 0; i < 500 && screen.PixelAt(150, 120) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (const auto& [x, y] : {std::pair{150, 120}, std::pair{5, 140}, std::pair{190, 2}})
    EXPECT_EQ(screen.PixelAt(x, y), test::Colour(y << 8 | x)) << x << "," << y;
  test::XKeys().Tap(XK_Return);
  const ProcessResult run = test::FinishTool(tool);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_TRUE(run.Err.contains(QStringLiteral("area: 20,10,40,32"))) << run.Err.toStdString();
  EXPECT_TRUE(run.Out.contains(QStringLiteral(": 20,10,40,32"))) << run.Out.toStdString();
}

// A portal whose Start answers its streams in another type than a(ua{sv}), or names none,
// shares nothing: the tool says so and fails, whatever the types.
TEST(HostilePortal, WronglyTypedStreamsShareNothing) {
  QTemporaryDir dir;
  const QByteArray savedBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  for (const char* signature : {"a(ix)", "a(sa{sv})", "u", "a(ua{sv})"}) {
    SCOPED_TRACE(signature);
    test::ShortcutsPortal portal({QStringLiteral("--screencast-streams"), signature});
    ASSERT_TRUE(portal.Ok());
    qputenv("DBUS_SESSION_BUS_ADDRESS", portal.Address().toUtf8());
    const QString file = dir.filePath(QStringLiteral("hostile.avi"));
    const ProcessResult run =
        RunTool({QStringLiteral("record"), QStringLiteral("--source"), QStringLiteral("portal"),
                 QStringLiteral("--seconds"), QStringLiteral("1"), file});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Err, QStringLiteral("The desktop shared no stream\n"));
    EXPECT_FALSE(QFile::exists(file));
  }
  qputenv("DBUS_SESSION_BUS_ADDRESS", savedBus);
}

// PipeWire goes away mid-recording: the recording fails with the reason, and the file is
// complete. Last, since it ends the session.
TEST_F(PortalRecordTest, ZzPipeWireGoneMidRecording) {
  stack_->Control("size=160x120\n");
  const QString file = File("gone.avi");
  QProcess tool;
  test::StartTool(tool,
                  {QStringLiteral("record"), QStringLiteral("--source"), QStringLiteral("portal"),
                   QStringLiteral("--seconds"), QStringLiteral("30"), file});
  for (int i = 0; i < 500 && !QFile::exists(file); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ASSERT_EQ(kill(stack_->PipeWirePid(), SIGKILL), 0);
  const ProcessResult run = test::FinishTool(tool, 60000);
  EXPECT_EQ(run.ExitCode, 1) << run.Err.toStdString();
  EXPECT_TRUE(run.Err.contains(QStringLiteral("The screen stream ended: PipeWire went away")))
      << run.Err.toStdString();
  const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_GT(video.Frames, 3);
  EXPECT_TRUE(GStreamerPlays(file));
}

}  // namespace
}  // namespace qm
