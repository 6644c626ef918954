#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "common/FourCC.h"
#include "common/LittleEndian.h"
#include "support/MediaProbe.h"
#include "support/SideFiles.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"
#include "support/WindowManager.h"
#include "support/XKeys.h"
#include "support/XScreen.h"
#include "video/AviSideFiles.h"
#include "video/AviWriter.h"

#include <X11/keysym.h>

namespace qm {
namespace {

using test::Colour;
using test::FinishTool;
using test::MediaProbe;
using test::ProcessResult;
using test::RunTool;
using test::StartTool;
using test::XScreen;

// Waits until the tool has created its output file, so that it is recording (its signal
// handlers are in place by then).
bool WaitForFile(const QString& file) {
  for (int i = 0; i < 3000 && !QFile::exists(file); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return QFile::exists(file);
}

// The frame count in the tool's closing line "FILE: N frames, R fps"; -1 when missing.
int PrintedFrames(const ProcessResult& run, const QString& file) {
  const QRegularExpression line(QRegularExpression::escape(file) +
                                QStringLiteral(": (\\d+) frames, ([0-9.]+) fps\\n$"));
  const QRegularExpressionMatch match = line.match(run.Out);
  return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The frames of an uncompressed recording, decoded by ffmpeg.
std::vector<QByteArray> DecodeFrames(const QString& file, int width, int height) {
  std::vector<QByteArray> frames;
  QString errors;
  EXPECT_TRUE(MediaProbe::DecodeBgr24(file, width, height, frames, &errors))
      << errors.toStdString();
  return frames;
}

// Pixels of a decoded frame that differ from the screen pattern, counting the frame's (0, 0)
// as the screen's (left, top).
int PatternMismatches(const QByteArray& frame, int width, int height, int left, int top) {
  int wrong = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Colour want = XScreen::Pattern(left + x, top + y);
      const auto* p = reinterpret_cast<const uint8_t*>(frame.constData()) + (y * width + x) * 3;
      if (p[0] != (want & 0xFF) || p[1] != (want >> 8 & 0xFF) || p[2] != (want >> 16 & 0xFF))
        ++wrong;
    }
  return wrong;
}

class RecordCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(MediaProbe::Available());
  }
  QString Path(const QString& name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
};

TEST_F(RecordCommand, TheFrameCountFollowsTheScheduleAtEachRate) {
  for (const int fps : {4, 15, 32}) {
    SCOPED_TRACE(fps);
    const QString file = Path(QStringLiteral("rate%1.avi").arg(fps));
    const ProcessResult run = RunTool({"record", file, "--area", "0,0,160,120", "--fps",
                                       QString::number(fps), "--seconds", "2.5", "--codec", "DIB"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.CodecName, "rawvideo");
    // Never more frames than the schedule holds; a loaded machine may take fewer, which the
    // stored rate then makes up for (exact schedules are judged with a fake clock).
    // Frames that repeat the one before are empty chunks, which the decoder passes over: the
    // file's index counts them all.
    const int64_t frames = int64_t(MediaProbe::ReadAvi(file).Index.size());
    EXPECT_GE(frames, 1);
    EXPECT_LE(double(frames), std::floor(2.5 * fps) + 1) << frames;
    EXPECT_EQ(PrintedFrames(run, file), frames) << run.Out.toStdString();
    EXPECT_TRUE(test::SideFiles(dir_.path()).isEmpty());
  }
}

TEST_F(RecordCommand, UncompressedFramesHoldTheScreenPixels) {
  XScreen screen;
  ASSERT_TRUE(screen.Ok());
  screen.Show(screen.Bounds());
  const QString file = Path("pixels.avi");
  const ProcessResult run = RunTool({"record", file, "--area", "300,200,96,64", "--fps", "10",
                                     "--seconds", "0.5", "--codec", "DIB"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  const std::vector<QByteArray> frames = DecodeFrames(file, 96, 64);
  ASSERT_FALSE(frames.empty());
  for (const QByteArray& frame : frames) EXPECT_EQ(PatternMismatches(frame, 96, 64, 300, 200), 0);
}

TEST_F(RecordCommand, FollowModeMovesTheAreaWithThePointer) {
  XScreen screen;
  ASSERT_TRUE(screen.Ok());
  screen.Show(screen.Bounds());
  screen.MovePointer(400, 300);
  const QString file = Path("follow.avi");
  QProcess tool;
  StartTool(tool, {"record", file, "--area", "0,0,80,60", "--fps", "8", "--seconds", "2.5",
                   "--codec", "DIB", "--follow"});
  ASSERT_TRUE(WaitForFile(file));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  screen.MovePointer(1000, 700);
  const ProcessResult run = FinishTool(tool);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();

  // The frames between the pointer's moves repeat the one before and decode as none.
  const std::vector<QByteArray> frames = DecodeFrames(file, 80, 60);
  ASSERT_GE(frames.size(), 2u);
  // Centred on the pointer: the first frame around (400, 300), the last around (1000, 700).
  EXPECT_EQ(PatternMismatches(frames.front(), 80, 60, 400 - 40, 300 - 30), 0);
  EXPECT_EQ(PatternMismatches(frames.back(), 80, 60, 1000 - 40, 700 - 30), 0);
}

// The output folder deleted while recording is made again, with every frame in the file there,
// and the end says so.
TEST_F(RecordCommand, AFolderDeletedWhileRecordingIsMadeAgainWithEveryFrame) {
  const QString folder = Path("gone");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString file = folder + "/take.avi";
  QProcess tool;
  StartTool(tool, {"record", file, "--area", "0,0,64,48", "--fps", "10", "--seconds", "3",
                   "--codec", "DIB", "--every-frame"});
  ASSERT_TRUE(WaitForFile(file));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  ASSERT_TRUE(QDir(folder).removeRecursively());
  const ProcessResult run = FinishTool(tool);
  EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_TRUE(run.Err.contains("The folder " + folder + " was deleted during the recording"))
      << run.Err.toStdString();
  EXPECT_GE(MediaProbe::ProbeVideo(file).Frames, 25);
}

// On a still screen only the first and the last frame are whole; --every-frame writes them all.
TEST_F(RecordCommand, AStillScreenGivesEmptyChunksUnlessEveryFrameIsAsked) {
  XScreen screen;
  ASSERT_TRUE(screen.Ok());
  screen.Show(screen.Bounds());
  for (const bool every : {false, true}) {
    SCOPED_TRACE(every);
    const QString file = Path(QStringLiteral("still%1.avi").arg(every));
    QStringList args{"record", file,        "--area", "0,0,64,48", "--fps",
                     "10",     "--seconds", "0.8",    "--codec",   "DIB"};
    if (every) args << "--every-frame";
    const ProcessResult run = RunTool(args);
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const test::AviFile avi = MediaProbe::ReadAvi(file);
    ASSERT_GE(avi.Chunks.size(), 3u);
    for (size_t i = 0; i < avi.Chunks.size(); ++i) {
      const bool whole = every || i == 0 || i + 1 == avi.Chunks.size();
      EXPECT_EQ(avi.Chunks[i].Size, whole ? 64u * 48u * 3u : 0u) << i;
    }
  }
}

// On a terminal the tool rewrites one progress line about once a second, and its last figures
// agree with the file; paused by SIGUSR1 it says so, with the time recorded before; --quiet
// (and a standard error that is no terminal, as everywhere else here) leaves it out.
TEST_F(RecordCommand, ATerminalSeesTheProgressLine) {
  struct Case {
    const char* Name;
    const char* Run;          // %1: the recording's command
    const char* Last;         // the last line; empty: none
    int Seconds, MaxSeconds;  // in the last line
  };
  for (const Case& c :
       {Case{"progress", "%1", "\\rRecording 0:00:0(\\d) - ([0-9.]+) ([KM])B - ([0-9.]+)/10 fps", 2,
             3},
        Case{"quiet", "%1 --quiet", "", 0, 0},
        Case{"paused", "%1 & sleep 1.5; kill -USR1 $!; wait $!",
             "\\rPaused 0:00:0(\\d) - ([0-9.]+) ([KM])B\\x1b", 1, 1}}) {
    SCOPED_TRACE(c.Name);
    const QString file = Path(QLatin1String(c.Name) + ".avi");
    const QString command =
        QString::fromLatin1(c.Run).arg(QStringLiteral("'%1' record '%2' --area 0,0,64,48 --fps "
                                                      "10 --seconds 3.5 --codec DIB")
                                           .arg(QStringLiteral(QM_CLI_PATH), file));
    // script gives the tool a terminal and copies what it shows to standard output; it wants
    // a standard input it can read.
    const ProcessResult run = test::RunProcess(
        QStringLiteral("sh"), {"-c", "exec script -qec \"$0\" /dev/null </dev/null", command});
    ASSERT_EQ(run.ExitCode, 0) << run.Out.toStdString();
    QRegularExpressionMatch last;
    for (const QRegularExpressionMatch& m :
         QRegularExpression(QLatin1String(c.Last)).globalMatch(run.Out))
      last = m;
    if (!*c.Last) {
      EXPECT_FALSE(run.Out.contains(QLatin1String("\rRecording"))) << run.Out.toStdString();
      continue;
    }
    ASSERT_TRUE(last.hasMatch()) << run.Out.toStdString();
    // About a second apart, the last near the end; a pause stops the time.
    EXPECT_GE(last.captured(1).toInt(), c.Seconds);
    EXPECT_LE(last.captured(1).toInt(), c.MaxSeconds);
    const test::AviFile avi = MediaProbe::ReadAvi(file);
    ASSERT_TRUE(avi.Valid);
    const double unit = last.captured(3) == QLatin1String("K") ? 1e3 : 1e6;
    EXPECT_NEAR(last.captured(2).toDouble() * unit / 1e6, double(QFileInfo(file).size()) / 1e6,
                0.1);
    if (!last.captured(4).isEmpty()) {
      EXPECT_NEAR(last.captured(4).toDouble(), avi.Rate() / double(avi.Scale()), 1.0);
    }
  }
}

TEST_F(RecordCommand, MPEG4IsTheDefaultCodec) {
  const QString file = Path("mp42.AVI");
  const ProcessResult run = RunTool({"record", file, "--area", "0,0,320,240", "--seconds", "1"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_EQ(video.CodecName, "msmpeg4v2");
  EXPECT_EQ(video.Width, 320);
  EXPECT_EQ(video.Height, 240);
  const uint32_t frames = MediaProbe::ReadAvi(file).TotalFrames();
  EXPECT_GE(frames, 14u);  // 15 frames per second by default
  EXPECT_LE(frames, 16u);
}

TEST_F(RecordCommand, NoSecondsGivesACompletedFileWithoutFrames) {
  const QString file = Path("empty.avi");
  const ProcessResult run = RunTool({"record", file, "--seconds", "0", "--codec", "DIB"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_EQ(PrintedFrames(run, file), 0) << run.Out.toStdString();
  const test::AviFile avi = MediaProbe::ReadAvi(file);
  ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
  EXPECT_TRUE(avi.HasIndex);
  EXPECT_EQ(avi.TotalFrames(), 0u);
  // The whole screen by default.
  const Rect screen = test::XScreen().Bounds();
  EXPECT_EQ(avi.Width(), uint32_t(screen.Width()));
  EXPECT_EQ(avi.Height(), uint32_t(screen.Height()));
}

// A closed terminal (SIGHUP) and SIGQUIT end the recording as SIGINT and SIGTERM do.
TEST_F(RecordCommand, ASignalCompletesTheFile) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal);
    const QString file = Path(QStringLiteral("signal%1.avi").arg(signal));
    QProcess tool;
    StartTool(tool, {"record", file, "--area", "0,0,64,48", "--fps", "20", "--codec", "DIB",
                     "--every-frame"});
    ASSERT_TRUE(WaitForFile(file));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_EQ(::kill(pid_t(tool.processId()), signal), 0);
    const ProcessResult run = FinishTool(tool);
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_GE(video.Frames, 1);
    EXPECT_EQ(PrintedFrames(run, file), video.Frames) << run.Out.toStdString();
    const test::AviFile avi = MediaProbe::ReadAvi(file);
    EXPECT_TRUE(avi.HasIndex);
    EXPECT_EQ(avi.Index.size(), size_t(video.Frames));
    EXPECT_TRUE(test::SideFiles(dir_.path()).isEmpty());
  }
}

// A recording killed at any moment reads with a duration; `repair` then keeps every complete
// frame with the decoder's key flags and the rate achieved, and a second repair changes nothing.
TEST_F(RecordCommand, AKilledRecordingPlaysAndRepairCompletesIt) {
  struct Case {
    const char* Codec;
    const char* Area;
    int KillAfterMs;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"DIB",  "0,0,320,240", 350}, {"DIB",  "0,0,320,240", 1650}, {"DIB",  "0,0,640,480", 2900},
      {"MP42", "0,0,320,240", 450}, {"MP42", "0,0,320,240", 2300},
      {"H264", "0,0,320,240", 550}, {"H264", "0,0,320,240", 2700},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Codec) + " " + std::to_string(c.KillAfterMs));
    const QString file = Path(QStringLiteral("killed-%1-%2.avi").arg(c.Codec).arg(c.KillAfterMs));
    QProcess tool;
    StartTool(tool, {"record", file, "--area", c.Area, "--fps", "10", "--codec", c.Codec,
                     "--every-frame"});
    ASSERT_TRUE(WaitForFile(file));
    std::this_thread::sleep_for(std::chrono::milliseconds(c.KillAfterMs));
    ASSERT_EQ(::kill(pid_t(tool.processId()), SIGKILL), 0);
    tool.waitForFinished();

    const test::ProbedVideo before = MediaProbe::ProbeVideo(file);
    EXPECT_GT(before.Duration, 0) << before.Error.toStdString();

    const ProcessResult repair = RunTool({"repair", file});
    ASSERT_EQ(repair.ExitCode, 0) << repair.Err.toStdString();
    const QRegularExpressionMatch kept =
        QRegularExpression(QStringLiteral("completed, (\\d+) frames kept")).match(repair.Out);
    ASSERT_TRUE(kept.hasMatch()) << repair.Out.toStdString();
    const int frames = kept.captured(1).toInt();
    EXPECT_GE(frames, 1);
    EXPECT_TRUE(test::SideFiles(dir_.path()).isEmpty());

    const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.Frames, frames);
    const std::vector<bool> indexed = MediaProbe::PacketKeyFlags(file);
    const std::vector<test::ProbedFrame> decoded = MediaProbe::DecodedFrames(file);
    ASSERT_EQ(indexed.size(), size_t(frames));
    ASSERT_EQ(decoded.size(), size_t(frames));
    for (size_t i = 0; i < indexed.size(); ++i) EXPECT_EQ(indexed[i], decoded[i].KeyFrame) << i;
    const test::AviFile avi = MediaProbe::ReadAvi(file);
    ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
    EXPECT_NEAR(avi.Rate() / double(avi.Scale()), 10.0,
                1.0);  // a loaded machine records late frames

    const QByteArray repaired = [&] {
      QFile f(file);
      return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const ProcessResult again = RunTool({"repair", file});
    EXPECT_EQ(again.ExitCode, 0) << again.Err.toStdString();
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), repaired);
  }
}

// One recorder per file: a second one refuses at once and touches neither the file nor the first
// one's spool; the first completes its file as usual.
TEST_F(RecordCommand, ASecondRecorderOfTheSameFileRefuses) {
  const QString file = Path(QStringLiteral("shared.avi"));
  QProcess first;
  StartTool(first, {"record", file, "--area", "0,0,64,48", "--fps", "10", "--codec", "DIB",
                    "--every-frame"});
  ASSERT_TRUE(WaitForFile(file));
  ASSERT_EQ(AviSideFiles::SpoolsOf(file).size(), 1);
  const QStringList spools = AviSideFiles::SpoolsOf(file);
  const ProcessResult second =
      RunTool({"record", file, "--area", "0,0,32,32", "--seconds", "1", "--codec", "DIB"});
  EXPECT_EQ(second.ExitCode, 1);
  EXPECT_TRUE(second.Err.contains(QStringLiteral("is being recorded by another recording")))
      << second.Err.toStdString();
  EXPECT_EQ(AviSideFiles::SpoolsOf(file), spools);
  EXPECT_EQ(RunTool({"repair", file}).ExitCode, 1);  // nor does a repair touch it
  ASSERT_EQ(::kill(pid_t(first.processId()), SIGINT), 0);
  const ProcessResult run = FinishTool(first);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_EQ(video.Width, 64);
  EXPECT_EQ(PrintedFrames(run, file), video.Frames);
}

// Neither the output's name (up to 255 bytes) nor what happens to standard output after the
// start turns a good recording into a failure.
TEST_F(RecordCommand, LongNamesAndAClosedStandardOutputRecordNormally) {
  struct Case {
    const char* Name;
    QString File;
    const char* Shell;  // how the tool is run; "$0" is the tool
  };
  const std::vector<Case> cases = {
      {"255-byte name", Path(QString(251, QLatin1Char('n')) + ".avi"), "exec \"$0\" \"$@\""},
      {"stdout closed", Path("closed.avi"), "exec \"$0\" \"$@\" >&-"},
      {"reader gone", Path("gone.avi"), "set -o pipefail; \"$0\" \"$@\" | true"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const ProcessResult run =
        test::RunProcess(QStringLiteral("bash"),
                         {"-c", c.Shell, QStringLiteral(QM_CLI_PATH), "record", c.File, "--area",
                          "0,0,32,32", "--seconds", "0.5", "--codec", "DIB", "--every-frame"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const test::AviFile avi = MediaProbe::ReadAvi(c.File);
    ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
    EXPECT_EQ(avi.Index.size(), avi.TotalFrames());
    EXPECT_GE(avi.TotalFrames(), 3u);
    const test::ProbedVideo video = MediaProbe::ProbeVideo(c.File);
    EXPECT_EQ(video.Frames, int64_t(avi.TotalFrames())) << video.Error.toStdString();
  }
}

// Starts an X server of our own on a display number it picks itself; returns ":N", or an
// empty text when it did not start.
QString StartPrivateXvfb(QProcess& xvfb) {
  xvfb.setProcessChannelMode(QProcess::SeparateChannels);
  xvfb.start(QStringLiteral("Xvfb"),
             {"-displayfd", "1", "-screen", "0", "320x240x24", "-nolisten", "tcp", "-noreset"});
  if (!xvfb.waitForStarted()) return QString();
  QByteArray number;
  while (!number.contains('\n') && xvfb.waitForReadyRead(30000)) number += xvfb.readAll();
  if (!number.contains('\n')) return QString();
  return QStringLiteral(":") + QString::fromLatin1(number).trimmed();
}

enum class Ending { NoDisplay, ServerLost, DiskFull, LastRepeatFails, Stop };

// However a recording ends, its file is complete; an end the user did not ask for is a failure
// that standard error explains.
TEST_F(RecordCommand, EveryEndCompletesTheFileAndAFailureSaysWhy) {
  struct Case {
    const char* Name;
    Ending How;
    int ExitCode;
    QString Err;  // all of standard error; %1 stands for the file, %2 for the display
  };
  const std::vector<Case> cases = {
      {"nodisplay", Ending::NoDisplay, 1, "Can not open the X display %2\n"},
      {"lost", Ending::ServerLost, 1, "Can not copy the screen\n"},
      {"full", Ending::DiskFull, 1,
       "Can not write file %1: " + QString::fromLocal8Bit(std::strerror(EFBIG)) + "\n"},
      {"lastrepeat", Ending::LastRepeatFails, 1,
       "Can not write file %1: " + QString::fromLocal8Bit(std::strerror(EFBIG)) + "\n"},
      {"stop", Ending::Stop, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString file = Path(QString::fromLatin1(c.Name) + ".avi");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QProcess xvfb;
    if (c.How == Ending::NoDisplay || c.How == Ending::ServerLost) {
      const QString display = StartPrivateXvfb(xvfb);
      ASSERT_FALSE(display.isEmpty());
      env.insert(QStringLiteral("DISPLAY"), display);
    }
    if (c.How == Ending::NoDisplay) {
      xvfb.terminate();  // nobody serves the number any more
      xvfb.waitForFinished();
    }
    QProcess tool;
    tool.setProcessEnvironment(env);
    if (c.How == Ending::DiskFull || c.How == Ending::LastRepeatFails) {
      // Room for the headers and a few frames; the next write fails as on a full disk. On a
      // still screen only the first frame is whole until the last one, held back as a repeat,
      // is written whole at the end and finds no room.
      const rlim_t bytes = c.How == Ending::DiskFull ? 64 * 1024 : 16 * 1024;
      tool.setChildProcessModifier([bytes] {
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
      });
    }
    if (c.How == Ending::LastRepeatFails) {
      XScreen screen;
      ASSERT_TRUE(screen.Ok());
      screen.Show(screen.Bounds());
    }
    QStringList args{"record", file, "--area", "0,0,64,48", "--fps", "20", "--codec", "DIB"};
    // Only whole frames fill the disk.
    if (c.How == Ending::DiskFull) args << "--every-frame";
    if (c.How == Ending::Stop || c.How == Ending::LastRepeatFails)
      args << "--seconds"
           << "1";
    StartTool(tool, args);
    if (c.How == Ending::ServerLost) {
      ASSERT_TRUE(WaitForFile(file));
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      xvfb.terminate();
      xvfb.waitForFinished();
    }
    // Apart from the stop, no end is asked for: the tool ends on its own.
    const ProcessResult run = FinishTool(tool);
    EXPECT_EQ(run.ExitCode, c.ExitCode);
    EXPECT_EQ(run.Err, QString(c.Err).replace("%1", file).replace("%2", env.value("DISPLAY")));
    const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_GE(video.Frames, 1);
    EXPECT_EQ(PrintedFrames(run, file), int64_t(MediaProbe::ReadAvi(file).Index.size()))
        << run.Out.toStdString();
    if (c.How == Ending::ServerLost) {
      // The pass whose grab failed appends the last picture once more.
      const std::vector<QByteArray> frames = DecodeFrames(file, 64, 48);
      ASSERT_GE(frames.size(), 2u);
      EXPECT_EQ(frames[frames.size() - 1], frames[frames.size() - 2]);
    }
  }
}

// A recording that cannot start says why in one line, exits with 1 and leaves an existing
// file as it was, with no spool and no half-written file beside it.
TEST_F(RecordCommand, ARecordingThatCannotStartKeepsTheFileAndSaysWhy) {
  struct Case {
    QString File;
    QString Area;
    QString Codec;
    QString Error;
  };
  const QString kept = Path("kept.avi");
  const QString missing = Path("missing/take.avi");
  const std::vector<Case> cases = {
      {kept, "0,0,40000,40000", "DIB",
       "Error: The frame bitmap cannot hold frames of 40000 x 40000"},
      {kept, "0,0,1921,1081", "H264",
       "Error: The compressor AVC / MPEG-4 Part 10 video (x264) cannot take frames of 1921 x "
       "1081"},
      {missing, "0,0,64,48", "DIB",
       "Error: Can not create file " + missing + ": No such file or directory"},
  };
  const QByteArray precious("an earlier recording");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Error.toStdString());
    QFile file(kept);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(precious);
    file.close();

    const ProcessResult run =
        RunTool({"record", c.File, "--area", c.Area, "--codec", c.Codec, "--seconds", "1"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Err, c.Error + "\n");
    EXPECT_TRUE(run.Out.isEmpty());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), precious);
    file.close();
    EXPECT_TRUE(test::SideFiles(dir_.path()).isEmpty());
  }
}

TEST_F(RecordCommand, CodecsListsTheBuiltInEntryFirstAndTheDefault) {
  const ProcessResult run = RunTool({"codecs"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  const QStringList lines = run.Out.split('\n', Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[0], "DIB\tUncompressed 24bits DIB");
  bool mp42 = false;
  for (const QString& line : lines) {
    EXPECT_EQ(line.count('\t'), 1) << line.toStdString();
    mp42 = mp42 || line.startsWith("MP42\t");
  }
  EXPECT_TRUE(mp42);
}

// Each mistake is said in three lines: the error, the usage line and where the help is.
TEST_F(RecordCommand, EachBadArgumentGivesTheUsage) {
  const QString file = Path("bad.avi");
  const std::vector<QStringList> bad = {
      {},
      {"recrod", file},
      {"record"},
      {"record", file, "--frames", "3"},
      {"record", file, "--area", "1,2,3"},
      {"record", file, "--area", "a,b,c,d"},
      {"record", file, "--area", "0,0,0,10"},
      {"record", file, "--area", "0,0,10,-1"},
      {"record", file, "--fps", "0"},
      {"record", file, "--fps", "33"},
      {"record", file, "--fps", "ten"},
      {"record", file, "--seconds", "-1"},
      {"record", file, "--seconds", "soon"},
      {"record", file, "--codec", "NOPE"},
      {"record", file, "--codec"},
      {"record", file, file},
      {"record", Path("bad.mp4")},
      {"record", Path("bad.avi.gif")},
      {"record", Path("noextension")},
      {"codecs", "extra"},
      {"record", file, "--sound", "speakers"},
      {"record", file, "--sound"},
      {"record", file, "--sound", "mic", "--sound-codec", "flac"},
      {"record", file, "--sound-codec", "mp3"},
      {"sounds", "extra"},
  };
  for (const QStringList& args : bad) {
    SCOPED_TRACE(args.join(' ').toStdString());
    const ProcessResult run = RunTool(args);
    EXPECT_EQ(run.ExitCode, 2);
    const QStringList lines = run.Err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << run.Err.toStdString();
    EXPECT_TRUE(lines[0].startsWith("quillmark-capture: ")) << run.Err.toStdString();
    const QString command = args.value(0) == "recrod" ? "COMMAND" : args.value(0, "COMMAND");
    EXPECT_TRUE(lines[1].startsWith("usage: quillmark-capture " + command))
        << run.Err.toStdString();
    EXPECT_EQ(lines[2], "see --help");
  }
  EXPECT_FALSE(QFile::exists(file));
}

// Waits until the tool shows a window of that name with the keyboard focus.
unsigned long WaitForFocusedWindow(const XScreen& screen, const char* name) {
  for (int i = 0; i < 3000; ++i) {
    const unsigned long window = screen.FindWindowNamed(name);
    if (window && screen.FocusWindow() == window) return window;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

TEST_F(RecordCommand, SelectRecordsTheRectangleDrawn) {
  XScreen screen;
  test::XKeys keys;
  ASSERT_TRUE(screen.Ok());
  screen.Show(screen.Bounds());
  const Rect bounds = screen.Bounds();
  // The box starts as 320 x 240 in the middle; its bottom-right handle drags it to 333 x 250.
  const int left = (bounds.Width() - 320) / 2, top = (bounds.Height() - 240) / 2;
  const QString file = Path("select.avi");
  QProcess tool;
  StartTool(tool, {"record", file, "--select", "--fps", "4", "--seconds", "1", "--codec", "DIB"});
  ASSERT_NE(WaitForFocusedWindow(screen, "Capture area"), 0u);
  screen.FakeMotion(left + 316, top + 236);
  screen.PressButton(1);
  screen.FakeMotion(left + 329, top + 246);
  screen.ReleaseButton(1);
  keys.Tap(XK_Return);
  const ProcessResult run = FinishTool(tool);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_TRUE(run.Err.contains(QStringLiteral("area: %1,%2,336,256").arg(left).arg(top)))
      << run.Err.toStdString();
  const std::vector<QByteArray> frames = DecodeFrames(file, 336, 256);
  ASSERT_FALSE(frames.empty());
  for (const QByteArray& frame : frames)
    EXPECT_EQ(PatternMismatches(frame, 336, 256, left, top), 0);
}

TEST_F(RecordCommand, SelectCancelledWritesNothing) {
  XScreen screen;
  test::XKeys keys;
  ASSERT_TRUE(screen.Ok());
  test::WindowManager manager;
  ASSERT_TRUE(manager.Start());
  const QString file = Path("cancelled.avi");
  QProcess tool;
  StartTool(tool, {"record", file, "--select", "--codec", "DIB"});
  ASSERT_NE(WaitForFocusedWindow(screen, "Capture area"), 0u);
  keys.Tap(XK_Escape);
  ASSERT_NE(WaitForFocusedWindow(screen, "quillmark-capture"), 0u);
  keys.Tap(XK_Return);
  const ProcessResult run = FinishTool(tool);
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_TRUE(run.Err.endsWith(QStringLiteral("cancelled\n"))) << run.Err.toStdString();
  EXPECT_FALSE(QFile::exists(file));
  EXPECT_FALSE(QFile::exists(file + ".idx.~tmp"));
}

// A name that is not valid UTF-8 is refused as given, never written under another name.
TEST_F(RecordCommand, NamesThatAreNotUtf8AreRefused) {
  for (const char* args : {"record \"$1\"/$'a\\xff.avi' --seconds 0 --codec DIB",
                           "record \"$1\"/$'a\\xfe.avi' --seconds 0 --codec DIB",
                           "photo \"$1\"/$'p\\xff.gif' --area 0,0,8,8"}) {
    SCOPED_TRACE(args);
    const ProcessResult run = test::RunProcess(
        QStringLiteral("bash"), {"-c", QStringLiteral("exec \"$0\" ") + QLatin1String(args),
                                 QStringLiteral(QM_CLI_PATH), dir_.path()});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_TRUE(run.Err.contains(QRegularExpression("\\\\xf[ef]\\.(avi|gif) is not valid UTF-8")))
        << run.Err.toStdString();
  }
  EXPECT_TRUE(QDir(dir_.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                  .isEmpty());
}

// Links that another user planted in a shared folder at the names the side files once had lead
// nowhere: the victim stays as it was, the recording is a plain file.
TEST_F(RecordCommand, LinksPlantedInASharedFolderLeadNowhere) {
  if (::geteuid() != 0) GTEST_SKIP() << "another user is played by root";
  const QString shared = Path("shared");
  ASSERT_TRUE(QDir().mkpath(shared));
  ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0777), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(dir_.path()).constData(), 0755), 0);
  const QString victim = Path("victim");
  QFile file(victim);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("root's own");
  file.close();
  const QString output = shared + "/rec.avi";
  const QString hash = QString::fromLatin1(
      QCryptographicHash::hash(QFile::encodeName(QDir(shared).canonicalPath() + "/rec.avi"),
                               QCryptographicHash::Sha1)
          .toHex()
          .left(16));
  const ProcessResult planted = test::RunProcess(
      QStringLiteral("setpriv"),
      {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c",
       "ln -s \"$1\" \"$2/.~$3.new\" && ln -s \"$1\" \"$2/.~$3.idx\"", "sh", victim, shared, hash});
  ASSERT_EQ(planted.ExitCode, 0) << planted.Err.toStdString();
  const ProcessResult run =
      RunTool({"record", output, "--area", "0,0,32,32", "--seconds", "0.3", "--codec", "DIB"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "root's own");
  EXPECT_FALSE(QFileInfo(output).isSymLink());
  EXPECT_TRUE(MediaProbe::ProbeVideo(output).Valid);
  EXPECT_EQ(test::SideFiles(shared).size(), 2);  // the planted links, left alone
}

// A link at the output name is followed only when it is the user's own and outside a shared
// sticky folder: one planted there by another user, or any link in such a folder, is refused
// with the reason, and nothing is written.
TEST_F(RecordCommand, LinksAtTheOutputNameAreFollowedOnlyWhenTheUsersOwn) {
  if (::geteuid() != 0) GTEST_SKIP() << "another user is played by root";
  ASSERT_EQ(::chmod(QFile::encodeName(dir_.path()).constData(), 0755), 0);
  ASSERT_TRUE(QDir().mkpath(Path("shared")) && QDir().mkpath(Path("own")));
  ASSERT_EQ(::chmod(QFile::encodeName(Path("shared")).constData(), 01777), 0);
  // A folder of the user's reached through another user's link.
  ASSERT_EQ(
      test::RunProcess("runuser", {"-u", "nobody", "--", "ln", "-s", Path("own"), Path("shared/d")})
          .ExitCode,
      0);
  const QString victim = Path("victim");
  struct Case {
    const char* Command;
    const char* Folder;
    bool Planted;   // by nobody, else by the user
    bool Followed;  // the victim is replaced
  };
  for (const Case& c :
       {Case{"record", "shared", true, false}, Case{"photo", "shared", true, false},
        Case{"record", "shared", false, false}, Case{"record", "shared/d", false, false},
        Case{"record", "own", false, true}, Case{"photo", "own", false, true}}) {
    const bool record = QLatin1String(c.Command) == QLatin1String("record");
    const QString link = Path(c.Folder) + (record ? "/l.avi" : "/l.jpg");
    SCOPED_TRACE(c.Command + (" " + link).toStdString());
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("root's own");
    file.close();
    QFile::remove(link);
    const QStringList ln{"ln", "-s", victim, link};
    ASSERT_EQ(test::RunProcess(c.Planted ? "runuser" : "ln",
                               c.Planted ? QStringList{"-u", "nobody", "--"} + ln : ln.mid(1))
                  .ExitCode,
              0);
    const QStringList args{c.Command, link, "--area", "0,0,32,32"};
    const QStringList timed{"--seconds", "0.3", "--codec", "DIB"};
    const ProcessResult run = RunTool(record ? args + timed : args);
    EXPECT_EQ(run.ExitCode, c.Followed ? 0 : 1) << run.Err.toStdString();
    EXPECT_EQ(run.Err.contains(" is not followed: "), !c.Followed) << run.Err.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(test::ReadAll(victim) == "root's own", !c.Followed);
  }
  EXPECT_TRUE(test::SideFiles(Path("shared")).isEmpty());
}

// A file with a chunk that claims nearly 4 GiB (a sparse file on disk) is judged in bounded
// pieces: a part that cannot keep its 32-bit sizes is refused, a frame too large to judge is
// kept without being read, and the repair never asks for more memory than a limit allows.
TEST_F(RecordCommand, RepairOfHugeChunksStaysWithinMemory) {
  struct Case {
    const char* Codec;
    uint32_t Claimed;
    int ExitCode;
    const char* Says;
  };
  const std::vector<Case> cases = {
      {"DIB", 0xFFFFFFF0u, 1, "damaged beyond repair"},
      {"MP42", 0x70000000u, 0, "completed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Codec);
    const QString file = Path(QStringLiteral("huge-%1.avi").arg(c.Codec));
    ASSERT_EQ(RunTool({"record", file, "--area", "0,0,64,48", "--seconds", "0.5", "--codec",
                       c.Codec, "--every-frame"})
                  .ExitCode,
              0);
    // The frames without their index, then the hostile chunk's head and its claimed bytes.
    QFile avi(file);
    ASSERT_TRUE(avi.open(QIODevice::ReadWrite));
    avi.seek(6140);
    const QByteArray moviSize = avi.read(4);
    const qint64 end =
        6144 + qint64(GetLE32(reinterpret_cast<const uint8_t*>(moviSize.constData())));
    ASSERT_TRUE(avi.resize(end));
    avi.seek(end);
    uint8_t head[8];
    PutLE32(head, MakeFourCC(c.Codec == std::string("DIB") ? "00db" : "00dc"));
    PutLE32(head + 4, c.Claimed);
    avi.write(reinterpret_cast<const char*>(head), 8);
    ASSERT_TRUE(avi.resize(end + 8 + qint64(c.Claimed)));
    avi.close();

    QProcess repair;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer keeps far more address space than any limit: it refuses large
    // allocations itself.
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":max_allocation_size_mb=256");
    repair.setProcessEnvironment(env);
    repair.start(QStringLiteral(QM_CLI_PATH), {"repair", file});
#else
    repair.start(QStringLiteral("prlimit"),
                 {"--as=1073741824", QStringLiteral(QM_CLI_PATH), "repair", file});
#endif
    const ProcessResult run = test::FinishProcess(repair);
    EXPECT_EQ(run.ExitCode, c.ExitCode) << run.Err.toStdString();
    EXPECT_TRUE((run.Out + run.Err).contains(c.Says)) << (run.Out + run.Err).toStdString();
    QFile::remove(file);
  }
}

}  // namespace
}  // namespace qm
