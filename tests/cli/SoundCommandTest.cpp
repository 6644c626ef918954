#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "support/MediaProbe.h"
#include "support/SoundProbe.h"
#include "support/ToolRun.h"
#include "support/XScreen.h"

#include <pulse/error.h>
#include <pulse/simple.h>

namespace qm {
namespace {

using test::MediaProbe;
using test::ProcessResult;
using test::RunProcess;
using test::RunTool;

// The private sound server that scripts/test starts (PipeWire with its PulseAudio service;
// its default output "auto_null" plays nowhere). Under scripts/test it must be there.
bool SoundServer() {
  const bool stack = qEnvironmentVariable("QM_SESSION_STACK") == QLatin1String("1");
  const bool there = !qEnvironmentVariableIsEmpty("PULSE_SERVER") &&
                     RunProcess(QStringLiteral("pactl"), {"info"}, 20000).ExitCode == 0;
  if (!there && stack) ADD_FAILURE() << "the session's sound server is missing";
  return there;
}

int Count(const QString& text, const QString& what) {
  return int(text.count(what));
}

class SoundCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(MediaProbe::Available());
  }
  QString Path(const QString& name) const { return dir_.filePath(name); }
  // A stereo tone of 1 kHz at 48 kHz, as a WAVE file.
  QString Tone(double seconds) {
    const QString file = Path(QStringLiteral("tone.wav"));
    bool ok = false;
    MediaProbe::Run(QStringLiteral("ffmpeg"),
                    {"-v", "error", "-y", "-f", "lavfi", "-i",
                     QStringLiteral("sine=frequency=1000:duration=%1").arg(seconds), "-ar", "48000",
                     "-ac", "2", file},
                    &ok);
    EXPECT_TRUE(ok);
    return file;
  }

  QTemporaryDir dir_;
};

// A tone played into the default output is in the file, for both codecs, as ffmpeg and
// GStreamer decode it: its frequency, its level, and as long as the pictures.
TEST_F(SoundCommand, TheDesktopsSoundIsInTheFile) {
  if (!SoundServer()) GTEST_SKIP() << "no sound server";
  const QString tone = Tone(5);
  const std::vector<int16_t> played = test::DecodeSound(tone, false);
  const double level = test::Rms(played, 48000, 48000);
  const ProcessResult list = RunTool({"sounds"});
  EXPECT_EQ(list.ExitCode, 0);
  EXPECT_TRUE(list.Out.contains(QStringLiteral("auto_null.monitor\tmonitor\t")))
      << list.Out.toStdString();

  for (const char* codec : {"pcm", "mp3"}) {
    SCOPED_TRACE(codec);
    const QString file = Path(QStringLiteral("tone-%1.avi").arg(codec));
    QProcess player;
    player.start(QStringLiteral("paplay"), {tone});
    ASSERT_TRUE(player.waitForStarted());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const ProcessResult run =
        RunTool({"record", file, "--area", "0,0,160,120", "--fps", "10", "--seconds", "3",
                 "--sound", "desktop", "--sound-codec", codec, "--quiet"});
    player.waitForFinished(20000);
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(Count(run.Err, QStringLiteral("No sound")), 0) << run.Err.toStdString();
    const test::ProbedStream sound = test::ProbeStream(file, QStringLiteral("audio"));
    EXPECT_EQ(sound.Codec, QString::fromLatin1(codec) == QLatin1String("pcm")
                               ? QStringLiteral("pcm_s16le")
                               : QStringLiteral("mp3"));
    const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    for (const bool gstreamer : {false, true}) {
      QString errors;
      const std::vector<int16_t> samples = test::DecodeSound(file, gstreamer, &errors);
      ASSERT_GT(samples.size(), 48000u) << errors.toStdString();
      EXPECT_NEAR(double(samples.size()) / 48000, video.Duration, 0.1) << gstreamer;
      // Within one bin of the analysis: a silence patch in its window may move the peak there.
      EXPECT_NEAR(test::DominantFrequency(samples, 48000, 9600), 1000, 5) << gstreamer;
      EXPECT_NEAR(20 * std::log10(test::Rms(samples, 48000, 48000) / level), 0, 1.5) << gstreamer;
    }
  }
}

// Without a sound server, the recording goes on with its pictures alone and says why once;
// a device that goes away mid-recording leaves silence up to the end, and the file is whole.
TEST_F(SoundCommand, MissingSoundNeverStopsTheRecording) {
  {
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(Path(QStringLiteral("no-server"))));
    const QString file = Path(QStringLiteral("no-server.avi"));
    const ProcessResult run = RunTool(
        {"record", file, "--area", "0,0,160,120", "--seconds", "1", "--sound", "both", "--quiet"});
    if (server.isNull())
      qunsetenv("PULSE_SERVER");
    else
      qputenv("PULSE_SERVER", server);
    EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(Count(run.Err, QStringLiteral("No sound: ")), 1) << run.Err.toStdString();
    EXPECT_EQ(test::ProbeStream(file, QStringLiteral("video")).Streams, 1);
  }

  if (!SoundServer()) GTEST_SKIP() << "no sound server";
  const ProcessResult loaded = RunProcess(
      QStringLiteral("pactl"), {"load-module", "module-null-sink", "sink_name=qm_going"}, 20000);
  ASSERT_EQ(loaded.ExitCode, 0) << loaded.Err.toStdString();
  const QString module = loaded.Out.trimmed();
  ASSERT_EQ(RunProcess(QStringLiteral("pactl"), {"set-default-sink", "qm_going"}).ExitCode, 0);
  const QString file = Path(QStringLiteral("gone.avi"));
  QProcess tool;
  test::StartTool(tool, {"record", file, "--area", "0,0,160,120", "--fps", "10", "--seconds", "3",
                         "--sound", "desktop", "--quiet"});
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const int unloaded = RunProcess(QStringLiteral("pactl"), {"unload-module", module}).ExitCode;
  const ProcessResult run = test::FinishTool(tool);
  RunProcess(QStringLiteral("pactl"), {"set-default-sink", "auto_null"});
  EXPECT_EQ(unloaded, 0);
  EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_EQ(Count(run.Err, QStringLiteral("No sound: ")), 1) << run.Err.toStdString();
  const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_EQ(video.Streams, 2);
  const std::vector<int16_t> samples = test::DecodeSound(file, false);
  EXPECT_NEAR(double(samples.size()) / 48000, video.Duration, 0.1);
}

// A file-size limit ends a recording with sound as it ends one without: the system's reason,
// exit 1 and a complete file (the sound library grows a shared-memory file past the limit).
TEST_F(SoundCommand, AFileSizeLimitFailsTheWriteWithSoundToo) {
  if (!SoundServer()) GTEST_SKIP() << "no sound server";
  const QString file = Path(QStringLiteral("limited.avi"));
  QProcess tool;
  tool.setChildProcessModifier([] {
    const rlimit limit{1000 * 1024, 1000 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
  });
  test::StartTool(tool, {"record", file, "--area", "0,0,320,240", "--codec", "DIB", "--every-frame",
                         "--seconds", "20", "--sound", "desktop", "--quiet"});
  const ProcessResult run = test::FinishTool(tool);
  EXPECT_EQ(run.ExitCode, 1) << run.Err.toStdString();
  EXPECT_TRUE(run.Err.contains(QString::fromLocal8Bit(std::strerror(EFBIG))))
      << run.Err.toStdString();
  const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_GE(video.Frames, 1);
}

// A recording with sound that is killed repairs to both streams.
TEST_F(SoundCommand, AKilledRecordingWithSoundRepairsToBothStreams) {
  if (!SoundServer()) GTEST_SKIP() << "no sound server";
  for (const char* codec : {"pcm", "mp3"}) {
    SCOPED_TRACE(codec);
    const QString file = Path(QStringLiteral("killed-%1.avi").arg(codec));
    QProcess tool;
    test::StartTool(tool, {"record", file, "--area", "0,0,160,120", "--fps", "10", "--sound",
                           "desktop", "--sound-codec", codec, "--every-frame", "--quiet"});
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_EQ(::kill(pid_t(tool.processId()), SIGKILL), 0);
    tool.waitForFinished();
    const ProcessResult repair = RunTool({"repair", file});
    ASSERT_EQ(repair.ExitCode, 0) << repair.Err.toStdString();
    const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.Streams, 2);
    EXPECT_GE(video.Frames, 10);
    const std::vector<int16_t> samples = test::DecodeSound(file, false);
    EXPECT_GT(double(samples.size()) / 48000, 1.0);
    EXPECT_EQ(RunTool({"repair", file}).ExitCode, 0);
  }
}

// A white frame shown at the instant a click is heard, several times: in the file the click
// lies within a frame period of the white frame, at the start as at the end, with a pause
// between them whose click and white frame are in neither stream.
TEST_F(SoundCommand, AClickAndTheWhiteFrameShownWithItStayTogether) {
  if (!SoundServer()) GTEST_SKIP() << "no sound server";
  test::XScreen screen;
  ASSERT_TRUE(screen.Ok());
  const Rect area{0, 0, 160, 120};
  const auto black = [](int32_t, int32_t) { return test::Colour(0); };
  screen.Show(area, black);
  const pa_sample_spec spec = {PA_SAMPLE_S16LE, 48000, 2};
  pa_buffer_attr attr = {uint32_t(-1), 4800, uint32_t(-1), uint32_t(-1), uint32_t(-1)};
  int error = 0;
  pa_simple* player = pa_simple_new(nullptr, "quillmark-test", PA_STREAM_PLAYBACK, nullptr, "click",
                                    &spec, nullptr, &attr, &error);
  ASSERT_NE(player, nullptr) << pa_strerror(error);
  const std::vector<int16_t> quiet(960, 0);
  std::vector<int16_t> click(960);
  for (size_t i = 0; i < click.size(); ++i) click[i] = int16_t(i / 2 % 24 < 12 ? 20000 : -20000);
  const auto play = [&](const std::vector<int16_t>& block, int times) {
    for (int i = 0; i < times; ++i) pa_simple_write(player, block.data(), block.size() * 2, &error);
  };

  const QString file = Path(QStringLiteral("sync.avi"));
  QProcess tool;
  test::StartTool(tool, {"record", file, "--area", "0,0,160,120", "--fps", "10", "--codec", "DIB",
                         "--every-frame", "--seconds", "9", "--sound", "desktop", "--quiet"});
  play(quiet, 100);
  constexpr int kClicks = 4;
  const auto flash = [&] {
    screen.Show(area, [](int32_t, int32_t) { return test::Colour(0xFFFFFF); });
    play(quiet, 40);
    screen.Clear();
    screen.Show(area, black);
  };
  for (int k = 0; k < kClicks; ++k) {
    if (k == kClicks / 2) {
      ASSERT_EQ(::kill(pid_t(tool.processId()), SIGUSR1), 0);
      play(quiet, 50);
      play(click, 1);
      flash();
      ASSERT_EQ(::kill(pid_t(tool.processId()), SIGUSR1), 0);
    }
    play(quiet, 50 + 13 * k);
    // What is written now is heard after the latency: the white frame comes then.
    const pa_usec_t latency = pa_simple_get_latency(player, &error);
    const auto heard = std::chrono::steady_clock::now() + std::chrono::microseconds(latency);
    play(click, 1);
    std::this_thread::sleep_until(heard);
    flash();
  }
  play(quiet, 50);
  pa_simple_free(player);
  const ProcessResult run = test::FinishTool(tool);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();

  std::vector<QByteArray> frames;
  QString errors;
  ASSERT_TRUE(MediaProbe::DecodeBgr24(file, 160, 120, frames, &errors)) << errors.toStdString();
  const test::ProbedVideo video = MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid && !frames.empty()) << video.Error.toStdString();
  const double period = video.Duration / double(frames.size());
  std::vector<double> shown;
  for (size_t i = 1; i < frames.size(); ++i)
    if (uint8_t(frames[i][0]) > 200 && uint8_t(frames[i - 1][0]) < 50)
      shown.push_back(double(i) * period);
  const std::vector<int16_t> sound = test::DecodeSound(file, false);
  std::vector<double> heard;
  size_t quietSince = 0;
  for (size_t i = 0; i < sound.size(); ++i) {
    if (std::abs(sound[i]) < 5000) continue;
    if (i - quietSince > 4800) heard.push_back(double(i) / 48000);
    quietSince = i;
  }
  ASSERT_EQ(shown.size(), size_t(kClicks));
  ASSERT_EQ(heard.size(), size_t(kClicks));
  // The white picture came up between the grab of the frame before and of the first white
  // one: the click, in step, lies in that span; it may stray from it by a frame period.
  for (int k = 0; k < kClicks; ++k) {
    const double at = heard[size_t(k)];
    const double upTo = shown[size_t(k)];
    const double from = upTo - period;
    const double offset = at > upTo ? at - upTo : at < from ? from - at : 0;
    EXPECT_LE(offset, period) << "click " << k << " heard at " << at << " s, shown from " << from
                              << " to " << upTo << " s";
  }
}

}  // namespace
}  // namespace qm
