#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "export/ExportClips.h"
#include "support/LoopDisk.h"
#include "support/TestFiles.h"

namespace qm {
namespace {

using test::FfmpegClip;
using test::FileDuration;
using test::MediaProbe;
using test::PacketField;
using test::ProcessResult;
using test::RunTool;

constexpr double kFrame = 0.1;  // the clips' frame interval

class ExportCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(MediaProbe::Available());
  }
  QString Path(const QString& name) const { return dir_.filePath(name); }
  // The names in the folder, so a test sees that nothing was left behind.
  static QStringList Names(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
  }
  // The time of the first bright picture and of the first sound, by ffmpeg's detectors.
  static std::pair<double, double> FlashAndBeep(const QString& file) {
    QString errors;
    bool ok = false;
    MediaProbe::Run(QStringLiteral("ffmpeg"),
                    {"-i", file, "-vf", "blackdetect=d=0.05:pix_th=0.1", "-af",
                     "silencedetect=n=-30dB:d=0.1", "-f", "null", "-"},
                    &ok, &errors);
    const auto first = [&](const char* name) {
      const QRegularExpressionMatch match =
          QRegularExpression(QLatin1String(name) + QStringLiteral(":\\s*([0-9.]+)")).match(errors);
      return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
    };
    return {first("black_end"), first("silence_end")};
  }

  QTemporaryDir dir_;
};

// An H264 recording goes into MP4 and Matroska unchanged: the decoded pictures are the
// recording's, each picture is stamped with its time in the recording, and a repeated one
// (an empty chunk) lengthens the picture before it.
TEST_F(ExportCommand, H264IsCopiedWithRepeatedFramesAsLongerOnes) {
  const QString avi = Path(QStringLiteral("h264.avi"));
  ASSERT_TRUE(test::RecordColours(avi, QStringLiteral("H264"), {0xFF0000, 0x00FF00, 0x0000FF}));
  std::vector<QByteArray> source;
  ASSERT_TRUE(MediaProbe::DecodeBgr24(avi, test::kClipWidth, test::kClipHeight, source));
  const std::vector<double> times = PacketField(avi, QStringLiteral("dts_time"));
  const double duration = FileDuration(avi);
  ASSERT_LT(times.size(), 20u);  // most of the 30 frames repeat the one before

  for (const char* name : {"copy.mp4", "copy.mkv"}) {
    SCOPED_TRACE(name);
    const QString out = Path(QLatin1String(name));
    const ProcessResult run = RunTool({"export", avi, out});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.startsWith(out)) << run.Out.toStdString();
    EXPECT_EQ(MediaProbe::ProbeVideo(out).CodecName, QStringLiteral("h264"));
    std::vector<QByteArray> copied;
    ASSERT_TRUE(MediaProbe::DecodeBgr24(out, test::kClipWidth, test::kClipHeight, copied));
    EXPECT_TRUE(copied == source);
    const std::vector<double> stamps = PacketField(out, QStringLiteral("pts_time"));
    ASSERT_EQ(stamps.size(), times.size());
    for (size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(stamps[i], times[i], 0.002) << i;
    EXPECT_NEAR(FileDuration(out), duration, 0.01);
    // A copy cut at 1.5 s starts at the key frame at or before it.
    const ProcessResult cut = RunTool({"export", avi, out, "--from", "1.5", "--force"});
    ASSERT_EQ(cut.ExitCode, 0) << cut.Err.toStdString();
    EXPECT_GE(FileDuration(out), duration - 1.5 - 0.01);
    ASSERT_TRUE(MediaProbe::DecodeBgr24(out, test::kClipWidth, test::kClipHeight, copied));
    EXPECT_TRUE(std::equal(copied.rbegin(), copied.rend(), source.rbegin()));
  }
}

// Other codes are encoded; every kind keeps the pictures' times (a repeated picture is not
// encoded again), and the options trim, scale and thin out.
TEST_F(ExportCommand, EachKindKeepsTheTimesAndTheOptionsTrimScaleAndThin) {
  const QString avi = Path(QStringLiteral("mp42.avi"));
  ASSERT_TRUE(test::RecordColours(avi, QStringLiteral("MP42"), {0xFF0000, 0x00FF00, 0x0000FF}));
  const double duration = FileDuration(avi);
  const size_t pictures = PacketField(avi, QStringLiteral("dts_time")).size();
  struct Case {
    const char* Name;
    QStringList Options;
    const char* Codec;
    int Width;
    double Duration;  // negative: the recording's
  };
  const Case cases[] = {
      {"a.mp4", {}, "h264", 320, -1},
      {"a.webm", {}, "vp9", 320, -1},
      {"a.mkv", {}, "h264", 320, -1},
      {"a.gif", {}, "gif", 320, -1},
      {"small.webm", {"--width", "161"}, "vp9", 160, -1},
      {"cut.mp4", {"--from", "0.5", "--to", "2.5"}, "h264", 320, 2.0},
      {"cut.gif", {"--from", "0.5", "--to", "2.5", "--fps", "5"}, "gif", 320, 2.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString out = Path(QLatin1String(c.Name));
    const ProcessResult run = RunTool(QStringList{"export", avi, out} + c.Options);
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const test::ProbedVideo probed = MediaProbe::ProbeVideo(out);
    EXPECT_EQ(probed.CodecName, QLatin1String(c.Codec));
    EXPECT_EQ(probed.Width, c.Width);
    EXPECT_EQ(probed.Height, c.Width * 3 / 4);
    EXPECT_NEAR(FileDuration(out), c.Duration < 0 ? duration : c.Duration, kFrame);
    EXPECT_LE(PacketField(out, QStringLiteral("pts_time")).size(), pictures + 1);
  }
}

// The sound, PCM or MP3 in the recording, goes along as AAC, Opus or PCM and stays in step
// with the pictures: a beep that starts with a white picture still starts with it, also
// after a cut.
TEST_F(ExportCommand, TheSoundStaysInStepWithThePictures) {
  const QString video = QStringLiteral(
      "color=black:s=320x240:r=10:d=4,drawbox=c=white:t=fill:enable='between(t,1.5,2.5)'");
  const QString sound = QStringLiteral(
      "sine=f=1000:d=4:sample_rate=48000,volume=volume=0:enable='not(between(t,1.5,2.5))'");
  struct Input {
    const char* Name;
    const char* Codec;
  };
  for (const Input input : {Input{"pcm.avi", "pcm_s16le"}, Input{"mp3.avi", "libmp3lame"}}) {
    const QString avi = Path(QLatin1String(input.Name));
    ASSERT_TRUE(FfmpegClip(
        avi, video, {"-c:v", "msmpeg4v2", "-q:v", "3", "-c:a", input.Codec, "-ac", "2"}, sound));
    const auto [flash, beep] = FlashAndBeep(avi);
    for (const char* kind : {"mp4", "webm", "mkv"}) {
      for (const bool cut : {false, true}) {
        SCOPED_TRACE(QStringLiteral("%1 %2 %3").arg(input.Name, kind).arg(cut).toStdString());
        const QString out = Path(QStringLiteral("sound%1.%2").arg(cut).arg(kind));
        QStringList args{"export", avi, out, "--force"};
        if (cut)
          args << "--from"
               << "1"
               << "--to"
               << "3";
        ASSERT_EQ(RunTool(args).ExitCode, 0);
        const auto [outFlash, outBeep] = FlashAndBeep(out);
        EXPECT_NEAR(outFlash, flash - (cut ? 1 : 0), kFrame);
        EXPECT_NEAR(outBeep - outFlash, beep - flash, kFrame);
      }
    }
  }
}

// The GIF, decoded by ffmpeg, looks like the recording (SSIM), loops forever and stores a
// picture that did not change as a longer delay of the one before.
TEST_F(ExportCommand, TheGifLooksLikeTheRecording) {
  const QString avi = Path(QStringLiteral("src.avi"));
  ASSERT_TRUE(FfmpegClip(avi, QStringLiteral("testsrc2=s=320x240:r=10:d=3"),
                         {"-c:v", "msmpeg4v2", "-q:v", "2"}));
  const QString gif = Path(QStringLiteral("out.gif"));
  ASSERT_EQ(RunTool({"export", avi, gif}).ExitCode, 0);
  QString errors;
  bool ok = false;
  MediaProbe::Run(
      QStringLiteral("ffmpeg"),
      {"-i", avi, "-i", gif, "-filter_complex",
       "[0:v]format=rgb24,fps=10[a];[1:v]format=rgb24,fps=10[b];[a][b]ssim", "-f", "null", "-"},
      &ok, &errors);
  const QRegularExpressionMatch ssim =
      QRegularExpression(QStringLiteral("All:([0-9.]+)")).match(errors);
  ASSERT_TRUE(ssim.hasMatch()) << errors.toStdString();
  EXPECT_GE(ssim.captured(1).toDouble(), 0.95);
  const QByteArray bytes = test::ReadAll(gif);
  EXPECT_TRUE(bytes.startsWith("GIF89a"));
  EXPECT_TRUE(bytes.contains(QByteArray("NETSCAPE2.0\x03\x01\x00\x00", 16)));
}

// A letter typed on a still screen: the GIF's second frame is that letter's rectangle alone,
// with a colour table of its own fitted to its two colours; the still frames after it only
// lengthen its delay, and the delays add up to the recording's length.
TEST_F(ExportCommand, TheGifStoresOnlyTheChangedRectangleWithAFittedTable) {
  const QString avi = Path(QStringLiteral("letter.avi"));
  ASSERT_TRUE(FfmpegClip(avi,
                         QStringLiteral("color=white:s=320x240:r=10:d=2,drawbox=x=100:y=60:w=8:"
                                        "h=12:c=black:t=fill:enable='gte(t,1)'"),
                         {"-c:v", "rawvideo", "-pix_fmt", "bgr24"}));
  const QString gif = Path(QStringLiteral("letter.gif"));
  ASSERT_EQ(RunTool({"export", avi, gif}).ExitCode, 0);
  const QByteArray bytes = test::ReadAll(gif);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
  const auto word = [&](qsizetype at) { return int(p[at] | p[at + 1] << 8); };
  const auto skipBlocks = [&](qsizetype at) {
    while (at < bytes.size() && p[at] != 0) at += p[at] + 1;
    return at + 1;
  };
  struct Frame {
    int Left, Top, Width, Height, TableBits, Delay;
  };
  std::vector<Frame> frames;
  int delay = 0;
  qsizetype at = 13 + (p[10] & 0x80 ? 3 << ((p[10] & 7) + 1) : 0);
  while (at < bytes.size() && p[at] != 0x3B) {
    if (p[at] == 0x21) {
      if (p[at + 1] == 0xF9) delay = word(at + 4);
      at = skipBlocks(at + 2);
      continue;
    }
    ASSERT_EQ(p[at], 0x2C) << at;
    const int flags = p[at + 9];
    frames.push_back({word(at + 1), word(at + 3), word(at + 5), word(at + 7),
                      flags & 0x80 ? (flags & 7) + 1 : 0, delay});
    at += 10 + (flags & 0x80 ? 3 << ((flags & 7) + 1) : 0);
    at = skipBlocks(at + 1);
  }
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].Left, 100);
  EXPECT_EQ(frames[1].Top, 60);
  EXPECT_EQ(frames[1].Width, 8);
  EXPECT_EQ(frames[1].Height, 12);
  EXPECT_GE(frames[1].TableBits, 1);
  EXPECT_LE(frames[1].TableBits, 2);
  EXPECT_EQ(frames[0].Delay, 100);
  EXPECT_EQ(frames[1].Delay, 100);
}

// Bad input is refused with the reason, and the folder is left as it was: no output, no
// temporary file. An existing output stays unless --force.
TEST_F(ExportCommand, BadInputIsRefusedAndNothingIsWritten) {
  const QString avi = Path(QStringLiteral("good.avi"));
  ASSERT_TRUE(FfmpegClip(avi, QStringLiteral("testsrc2=s=320x240:r=10:d=12"),
                         {"-c:v", "msmpeg4v2", "-c:a", "pcm_s16le", "-ac", "2"},
                         QStringLiteral("sine=f=440:d=12:sample_rate=48000")));
  QFile junk(Path(QStringLiteral("junk.avi")));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write(QByteArray(5000, 'x'));
  junk.close();
  QFile cut(Path(QStringLiteral("cut.avi")));
  ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
  cut.write(test::ReadAll(avi).left(3000));
  cut.close();
  QFile existing(Path(QStringLiteral("there.mp4")));
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.write("mine");
  existing.close();
  test::LoopDisk disk(1);
  struct Case {
    const char* What;
    QString In;
    QString Out;
    int Exit;
    const char* Says;
  };
  const Case cases[] = {
      {"junk", Path("junk.avi"), Path("o.mp4"), 1, "is not an AVI file"},
      {"truncated", Path("cut.avi"), Path("o.gif"), 1, "can not be read"},
      {"missing", Path("none.avi"), Path("o.webm"), 1, "Can not read"},
      {"unknown kind", avi, Path("o.mov"), 2, "mp4, webm, mkv, gif"},
      {"existing output", avi, Path("there.mp4"), 1, "exists; --force replaces it"},
      {"full disk", avi, disk.Folder() + "/o.mkv", 1, "No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    if (c.Out.startsWith(disk.Folder()) && !disk.Ready()) continue;  // needs root
    const QString folder = QFileInfo(c.Out).absolutePath();
    const QStringList before = Names(folder);
    const ProcessResult run = RunTool({"export", c.In, c.Out});
    EXPECT_EQ(run.ExitCode, c.Exit);
    EXPECT_TRUE(run.Err.contains(QLatin1String(c.Says))) << run.Err.toStdString();
    EXPECT_EQ(Names(folder), before);
  }
  EXPECT_EQ(test::ReadAll(Path("there.mp4")), QByteArray("mine"));
  EXPECT_EQ(RunTool({"export", avi, Path("there.mp4"), "--force"}).ExitCode, 0);
  EXPECT_EQ(MediaProbe::ProbeVideo(Path("there.mp4")).CodecName, QStringLiteral("h264"));

  // A stop signal ends the export; its file goes.
  const QStringList before = Names(dir_.path());
  QProcess tool;
  test::StartTool(tool, {"export", avi, Path("stopped.webm")});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid_t(tool.processId()), SIGINT);
  const ProcessResult stopped = test::FinishTool(tool);
  EXPECT_EQ(stopped.ExitCode, 1);
  EXPECT_TRUE(stopped.Err.contains(QLatin1String("cancelled"))) << stopped.Err.toStdString();
  EXPECT_EQ(Names(dir_.path()), before);
}

// On a terminal the export rewrites its progress line in place; --quiet leaves it out.
TEST_F(ExportCommand, ATerminalSeesTheProgressLine) {
  const QString avi = Path(QStringLiteral("long.avi"));
  ASSERT_TRUE(
      FfmpegClip(avi, QStringLiteral("testsrc2=s=320x240:r=10:d=20"), {"-c:v", "msmpeg4v2"}));
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet);
    QString command = QStringLiteral("'%1' export '%2' '%3' --force")
                          .arg(QStringLiteral(QM_CLI_PATH), avi, Path(QStringLiteral("o.webm")));
    if (quiet) command += QStringLiteral(" --quiet");
    // script gives the tool a terminal and copies what it shows to standard output.
    const ProcessResult run = test::RunProcess(
        QStringLiteral("sh"), {"-c", "exec script -qec \"$0\" /dev/null </dev/null", command});
    ASSERT_EQ(run.ExitCode, 0) << run.Out.toStdString();
    EXPECT_EQ(run.Out.contains(QRegularExpression(QStringLiteral("\\rExporting \\d+%"))), !quiet)
        << run.Out.toStdString();
  }
}

// A recording cut off by a crash is read as repair would complete it; the recording itself
// stays as it is, and no copy of it is left behind.
TEST_F(ExportCommand, AnInterruptedRecordingIsReadWithoutChangingIt) {
  test::XScreen screen;
  ASSERT_TRUE(screen.Ok());
  screen.Show(Rect{0, 0, test::kClipWidth, test::kClipHeight});
  const QString avi = Path(QStringLiteral("killed.avi"));
  QProcess tool;
  test::StartTool(tool, {"record", avi, "--area", "0,0,320,240", "--fps", "10", "--codec", "H264"});
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ::kill(pid_t(tool.processId()), SIGKILL);
  test::FinishTool(tool);
  const QByteArray hash = QCryptographicHash::hash(test::ReadAll(avi), QCryptographicHash::Sha256);
  const QStringList before = Names(dir_.path());

  const ProcessResult run = RunTool({"export", avi, Path("killed.mp4")});
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_GT(FileDuration(Path("killed.mp4")), 0.5);
  EXPECT_EQ(QCryptographicHash::hash(test::ReadAll(avi), QCryptographicHash::Sha256), hash);
  EXPECT_EQ(Names(dir_.path()), QStringList(before) << QStringLiteral("killed.mp4"));
}

}  // namespace
}  // namespace qm
