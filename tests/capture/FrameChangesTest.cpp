#include <QByteArray>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "capture/CapInfo.h"
#include "capture/CapThread.h"
#include "capture/Grabber.h"
#include "platform/clock/TickClock.h"
#include "support/MediaProbe.h"
#include "support/RecordingMessages.h"
#include "support/SteppingClock.h"
#include "support/XScreen.h"
#include "video/AviCompress.h"
#include "video/MovieWriter.h"

namespace qm {
namespace {

using test::MediaProbe;
using test::XScreen;

constexpr uint16_t kFps = 10;
constexpr uint32_t kPeriod = 1000 / kFps;
constexpr uint32_t kKeyInterval = kFps;  // a key frame a second, the compressors' default
const Rect kArea{200, 200, 264, 248};

// The worker takes frame k in the pass after the sleep that ends at k periods + 10 ms, so that
// sleep is where the test changes the screen for frame k.

// Two pictures that differ in every pixel.
test::Colour PictureA(int32_t x, int32_t y) {
  return XScreen::Pattern(x, y);
}
test::Colour PictureB(int32_t x, int32_t y) {
  return XScreen::Pattern(x, y) ^ 0x5A5A5A;
}

struct Take {
  QString Codec = QStringLiteral("DIB");
  int Frames = 3;
  bool ShowCursor = false;
  bool Follow = false;
  bool EveryFrame = false;
  std::function<void(int)> BeforeFrame;  // on the worker, before frame k (from 1) is taken
  int PauseAt = 0;                       // pauses instead of taking frame k, and continues at once
  bool DamageReports = true;             // the grabber asks the server what changed
  bool PartialCopies = true;             // only the changed rows are copied
  Rect Area = kArea;
};

class FrameChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(screen.Ok());
    ASSERT_TRUE(dir.isValid());
    screen.Show(screen.Bounds(), PictureA);
    screen.MovePointer(0, 0);
  }

  // Records take.Frames frames of kArea (a following area starts there too) and stops a
  // pass later; the file lasts take.Frames periods + 10 ms.
  QString Record(const Take& take, const QString& name) {
    const QString path = dir.filePath(name);
    MovieWriter writer(dir.filePath(name + QStringLiteral(".spool")));
    bool selected = false;
    for (const CompressorEntry& entry : writer.Compressor().Entries())
      if (EntryCodeText(entry) == take.Codec) selected = writer.Compressor().Select(entry.Handler);
    EXPECT_TRUE(selected) << take.Codec.toStdString();
    test::SteppingClock clock;
    CapThread thread(clock,
                     {.DamageReports = take.DamageReports, .PartialCopies = take.PartialCopies});
    clock.KeepUp = [&] {
      while (!thread.WriterIdle()) std::this_thread::yield();
    };
    clock.OnSleep = [&](uint32_t now) {
      if (now == uint32_t(take.Frames) * kPeriod + 20) thread.Stop();
      if (take.PauseAt && now == uint32_t(take.PauseAt) * kPeriod + 10) thread.Pause();
      if (now % kPeriod != 10 || !take.BeforeFrame) return;
      const int k = int(now / kPeriod);
      if (k <= take.Frames) take.BeforeFrame(k);
    };
    CapInfo info;
    info.Area = take.Area;
    info.Writer = &writer;
    info.FileName = path;
    info.FramesPerSecond = kFps;
    info.ShowCursor = take.ShowCursor;
    info.FollowCursor = take.Follow;
    info.EveryFrame = take.EveryFrame;
    CaptureEnd end = CaptureEnd::Failed;
    info.Finished = [&end](CaptureEnd ended, const QString&) { end = ended; };
    thread.SetInfo(info);
    thread.Start();
    if (take.PauseAt) {
      while (!thread.IsWaiting()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      thread.Continue();  // the schedule starts again from there, one frame fewer in all
    }
    thread.WaitFor();
    EXPECT_EQ(end, CaptureEnd::Stopped);
    EXPECT_EQ(writer.Frame().FrameNumber, uint32_t(take.Frames - (take.PauseAt ? 1 : 0)));
    return path;
  }

  // Which chunks of the file are empty; idx1 must agree, with flags 0 for the empty ones.
  static std::vector<bool> EmptyChunks(const QString& path) {
    const test::AviFile avi = MediaProbe::ReadAvi(path);
    EXPECT_TRUE(avi.Valid) << avi.Error.toStdString();
    EXPECT_EQ(avi.Index.size(), avi.Chunks.size());
    std::vector<bool> empty;
    for (size_t i = 0; i < avi.Chunks.size() && i < avi.Index.size(); ++i) {
      empty.push_back(avi.Chunks[i].Size == 0);
      EXPECT_EQ(avi.Index[i].Length, avi.Chunks[i].Size);
      if (avi.Chunks[i].Size == 0) {
        EXPECT_EQ(avi.Index[i].Flags, 0u) << i;
      }
    }
    return empty;
  }

  static QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  // kArea of picture as FFmpeg decodes it: top-down bgr24.
  static QByteArray Expected(test::Colour (*picture)(int32_t, int32_t)) {
    QByteArray bytes;
    for (int32_t y = kArea.Top; y < kArea.Bottom; ++y) {
      for (int32_t x = kArea.Left; x < kArea.Right; ++x) {
        const test::Colour c = picture(x, y);
        bytes.append(char(c & 0xFF)).append(char((c >> 8) & 0xFF)).append(char(c >> 16));
      }
    }
    return bytes;
  }

  test::RecordingMessages messages;
  XScreen screen;
  QTemporaryDir dir;
};

// Seconds of an "H:MM:SS.NNNNNNNNN" time as GStreamer prints it; -1 when there is none.
double GstSeconds(const QString& text) {
  const QStringList hms = text.split(QLatin1Char(':'));
  if (hms.size() != 3) return -1;
  return hms[0].toDouble() * 3600 + hms[1].toDouble() * 60 + hms[2].toDouble();
}

// The start (decoding time; delta frames have no other) and the length in seconds of every
// buffer GStreamer's AVI demuxer gives.
std::vector<std::pair<double, double>> GstBuffers(const QString& path) {
  bool ok = false;
  const QString out = QString::fromUtf8(MediaProbe::Run(
      QStringLiteral("gst-launch-1.0"),
      {QStringLiteral("-v"), QStringLiteral("filesrc"), QStringLiteral("location=") + path,
       QStringLiteral("!"), QStringLiteral("avidemux"), QStringLiteral("!"),
       QStringLiteral("fakesink"), QStringLiteral("silent=false")},
      &ok, nullptr, 60000));
  std::vector<std::pair<double, double>> buffers;
  const QRegularExpression time(
      QStringLiteral("dts: ([0-9:.]+), pts: [^,]+, duration: ([0-9:.]+)"));
  for (const QString& line : out.split(QLatin1Char('\n'))) {
    const QRegularExpressionMatch m = time.match(line);
    if (line.contains(QLatin1String("chain")) && m.hasMatch())
      buffers.emplace_back(GstSeconds(m.captured(1)), GstSeconds(m.captured(2)));
  }
  return buffers;
}

// Mean difference of two decoded pictures, per byte.
double Difference(const QByteArray& a, const QByteArray& b) {
  if (a.size() != b.size() || a.isEmpty()) return 255;
  double sum = 0;
  for (qsizetype i = 0; i < a.size(); ++i) sum += std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
  return sum / double(a.size());
}

// A still screen, and one that switches between two pictures once a second: only the frames
// that show a new picture are written in full (key frames, since the interval passed over the
// left-out ones), and the last one, so that the file decodes to its end; the others are empty
// chunks that FFmpeg at a constant rate shows as the picture before, and both FFmpeg and
// GStreamer give the file the recording's active time.
TEST_F(FrameChangesTest, UnchangedFramesAreEmptyChunksThatPlayAsThePictureBefore) {
  struct Case {
    const char* Codec;
    bool Switching;
  };
  for (const Case c :
       {Case{"DIB", false}, Case{"DIB", true}, Case{"MP42", true}, Case{"H264", true}}) {
    SCOPED_TRACE(testing::Message() << c.Codec << (c.Switching ? " switching" : " still"));
    screen.Show(screen.Bounds(), PictureA);
    Take take;
    take.Codec = QString::fromLatin1(c.Codec);
    take.Frames = 25;
    // Picture B from 1 s on, A again from 2 s on.
    const auto pictureOf = [&](int k) { return c.Switching && k > 10 && k <= 20 ? 1 : 0; };
    take.BeforeFrame = [&](int k) {
      if (k > 1 && pictureOf(k) != pictureOf(k - 1))
        screen.Show(screen.Bounds(), pictureOf(k) ? PictureB : PictureA);
    };
    const QString path = Record(take, QStringLiteral("%1-%2.avi").arg(c.Codec).arg(c.Switching));

    const std::vector<bool> empty = EmptyChunks(path);
    ASSERT_EQ(empty.size(), size_t(take.Frames));
    const test::AviFile avi = MediaProbe::ReadAvi(path);
    for (int k = 1; k <= take.Frames; ++k) {
      const bool shown = k == 1 || pictureOf(k) != pictureOf(k - 1);
      EXPECT_EQ(empty[size_t(k - 1)], !shown && k != take.Frames) << "frame " << k;
      if (shown) {
        EXPECT_NE(avi.Index[size_t(k - 1)].Flags & 0x10, 0u) << "frame " << k;
      }
    }

    std::vector<QByteArray> frames;
    QString errors;
    const QString rate = QStringLiteral("%1/%2").arg(avi.Rate()).arg(avi.Scale());
    ASSERT_TRUE(MediaProbe::DecodeBgr24(path, kArea.Width(), kArea.Height(), frames, &errors, rate))
        << errors.toStdString();
    // FFmpeg pads the end of a constant-rate stream by as many repeats as it made lately.
    ASSERT_GE(frames.size(), size_t(take.Frames));
    frames.resize(size_t(take.Frames));
    const QByteArray decoded[2] = {frames[0], c.Switching ? frames[10] : frames[0]};
    if (take.Codec == QLatin1String("DIB")) {
      EXPECT_EQ(decoded[0], Expected(PictureA));
      EXPECT_EQ(decoded[1], Expected(c.Switching ? PictureB : PictureA));
    }
    // Every frame shows one of the pictures, a switch within one frame of its place. The last
    // frame is its picture compressed once more: exact where nothing is lost.
    const bool lossless = take.Codec == QLatin1String("DIB");
    const auto same = [&](const QByteArray& frame, int k) {
      const QByteArray& picture = decoded[pictureOf(k)];
      return lossless ? frame == picture : Difference(frame, picture) < 2.0;
    };
    for (int k = 1; k <= take.Frames; ++k) {
      const QByteArray& frame = frames[size_t(k - 1)];
      EXPECT_TRUE(same(frame, k) || same(frame, k - 1) || same(frame, k + 1)) << "frame " << k;
    }

    // Both demuxers leave the empty chunks out, but time the whole ones by their place.
    const double active = (take.Frames * kPeriod + 10) / 1000.0;
    const double period = active / take.Frames;
    EXPECT_NEAR(MediaProbe::ProbeVideo(path).Duration, active, 0.002);
    const std::vector<std::pair<double, double>> buffers = GstBuffers(path);
    std::vector<double> starts, expected;
    for (int k = 1; k <= take.Frames; ++k)
      if (!empty[size_t(k - 1)]) expected.push_back((k - 1) * period);
    for (const auto& buffer : buffers) starts.push_back(buffer.first);
    ASSERT_EQ(starts.size(), expected.size());
    for (size_t i = 0; i < starts.size(); ++i) EXPECT_NEAR(starts[i], expected[i], 0.001) << i;
    EXPECT_NEAR(buffers.back().first + buffers.back().second, active, 0.002);
  }
}

// What counts as a change of the frame, with the server's damage reports and by comparing
// copies where there are none: frame 2 never changes, frame 3 after one thing happened (the
// last, frame 4, is always whole).
TEST_F(FrameChangesTest, OnlyAChangeInsideTheAreaOrOfTheDrawnCursorOrOfTheFollowedAreaCounts) {
  struct Case {
    const char* Name;
    bool ShowCursor;
    bool Follow;
    std::function<void(XScreen&)> Change;
    bool Counts;
  };
  const Rect inside{kArea.Left + 10, kArea.Top + 10, kArea.Left + 30, kArea.Top + 20};
  const Rect outside{kArea.Right + 5, kArea.Top, kArea.Right + 40, kArea.Bottom};
  const Point middle{(kArea.Left + kArea.Right) / 2, (kArea.Top + kArea.Bottom) / 2};
  const std::vector<Case> cases = {
      {"drawn inside", false, false, [&](XScreen& s) { s.Show(inside, PictureB); }, true},
      {"drawn outside", false, false, [&](XScreen& s) { s.Show(outside, PictureB); }, false},
      {"drawn cursor moves", true, false,
       [&](XScreen& s) { s.MovePointer(middle.X + 7, middle.Y + 3); }, true},
      {"hidden cursor moves", false, false,
       [&](XScreen& s) { s.MovePointer(middle.X + 7, middle.Y + 3); }, false},
      {"followed area moves", false, true,
       [&](XScreen& s) { s.MovePointer(middle.X + 7, middle.Y + 3); }, true},
  };
  screen.SetBoxCursor(6, 6, 0, 0, 0xFF00FF);
  for (const bool damage : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.Name << (damage ? ", damage reports" : ", copies"));
      screen.Clear();
      screen.Show(screen.Bounds(), PictureA);
      screen.MovePointer(middle.X, middle.Y);
      Take take;
      take.ShowCursor = c.ShowCursor;
      take.Follow = c.Follow;
      take.DamageReports = damage;
      take.Frames = 4;  // the last frame is always whole
      take.BeforeFrame = [&](int k) {
        if (k == 3) c.Change(screen);
      };
      const std::vector<bool> empty = EmptyChunks(Record(take, QStringLiteral("counts.avi")));
      EXPECT_EQ(empty, (std::vector<bool>{false, true, !c.Counts, false}));
    }
  }
}

// A screen that changes in every frame gives the same file, byte for byte, as writing every
// frame in full; and where nothing changes, writing every frame in full still does so.
TEST_F(FrameChangesTest, EveryFrameChangedGivesTheSameFileAsEveryFrameWritten) {
  for (const char* codec : {"DIB", "MP42", "H264"}) {
    SCOPED_TRACE(codec);
    QByteArray files[2];
    for (const bool every : {false, true}) {
      Take take;
      take.Codec = QString::fromLatin1(codec);
      take.Frames = 13;
      take.EveryFrame = every;
      take.BeforeFrame = [&](int k) {
        screen.Show(kArea, [k](int32_t x, int32_t y) { return XScreen::Pattern(x + k, y); });
      };
      files[every] = ReadAll(Record(take, QStringLiteral("%1-%2.avi").arg(codec).arg(every)));
    }
    EXPECT_FALSE(files[0].isEmpty());
    EXPECT_TRUE(files[0] == files[1]);
  }
  Take still;
  still.EveryFrame = true;
  EXPECT_EQ(EmptyChunks(Record(still, QStringLiteral("still.avi"))),
            (std::vector<bool>{false, false, false}));
  still.EveryFrame = false;
  EXPECT_EQ(EmptyChunks(Record(still, QStringLiteral("still.avi"))),
            (std::vector<bool>{false, true, false}));
  // What changed during a pause is not watched: the first frame after it is whole.
  still.Frames = 6;
  still.PauseAt = 3;
  EXPECT_EQ(EmptyChunks(Record(still, QStringLiteral("paused.avi"))),
            (std::vector<bool>{false, true, false, true, false}));
}

// Copying only what the server reports drawn on, into a bitmap that holds an earlier frame,
// gives the same file, byte for byte, as copying every changed frame whole: with strips drawn
// here and there, the cursor drawn and moving over them, the area following it, and a pause;
// in a small area, where the whole area is copied and only the strips converted, and in a
// large one, where only boxes around the strips are asked of the server.
TEST_F(FrameChangesTest, WhatWasDrawnCopiedAloneGivesTheSameFileAsWholeCopies) {
  struct Case {
    const char* Codec;
    bool Follow;
    int PauseAt;
    Rect Area;
  };
  screen.SetBoxCursor(6, 6, 1, 1, 0xFF00FF);
  const Rect large{100, 90, 420, 330};
  for (const Case c :
       {Case{"H264", false, 0, kArea}, Case{"MP42", false, 7, kArea}, Case{"H264", true, 0, kArea},
        Case{"MP42", false, 5, large}, Case{"H264", true, 0, large}}) {
    SCOPED_TRACE(testing::Message() << c.Codec << (c.Follow ? " following" : "") << c.PauseAt << " "
                                    << c.Area.Width());
    const Rect& a = c.Area;
    QByteArray files[2];
    for (const bool partial : {true, false}) {
      screen.Clear();
      screen.Show(screen.Bounds(), PictureA);
      screen.MovePointer(a.Left + 20, a.Top + 20);
      Take take;
      take.Codec = QString::fromLatin1(c.Codec);
      take.Frames = 16;
      take.ShowCursor = true;
      take.Follow = c.Follow;
      take.PauseAt = c.PauseAt;
      take.PartialCopies = partial;
      take.Area = a;
      take.BeforeFrame = [&](int k) {
        // Two strips somewhere in the area (or beside it) in most frames, the pointer moving
        // in every other one, nothing at all in some.
        const int32_t top = a.Top + (k * 13) % (a.Height() - 4) - 2;
        const int32_t left = a.Left + (k % 3) * a.Width() / 3 - 8;
        if (k % 4 != 3)
          for (const Rect strip : {Rect{left, top, left + 48, top + 5},
                                   Rect{a.Right - left + a.Left - 30, a.Bottom - top + a.Top - 9,
                                        a.Right - left + a.Left + 2, a.Bottom - top + a.Top}})
            screen.Show(strip,
                        [k](int32_t x, int32_t y) { return XScreen::Pattern(x + k, y * k); });
        if (k % 2 == 0)
          screen.MovePointer(a.Left + (k * 11) % (a.Width() + 6) - 3, a.Top + (k * 7) % 50);
      };
      files[partial] = ReadAll(Record(take, QStringLiteral("%1-%2.avi").arg(c.Codec).arg(partial)));
    }
    EXPECT_FALSE(files[0].isEmpty());
    EXPECT_TRUE(files[0] == files[1]);
  }
}

}  // namespace
}  // namespace qm
