#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include "common/FourCC.h"
#include "support/AviTestSettings.h"
#include "support/MediaProbe.h"
#include "support/RecordingMessages.h"
#include "video/AudioCatalogue.h"
#include "video/AviCompress.h"
#include "video/AviWriter.h"
#include "video/MovieWriter.h"

namespace qm {
namespace {

using test::MediaProbe;

AviSettings Settings(int width, int height) {
  return test::AviTestSettings(width, height);
}

class MovieWriterTest : public ::testing::Test {
 protected:
  QString Path(const QString& name) const { return dir_.filePath(name); }
  QString SpoolPath() const { return dir_.filePath(QStringLiteral("Index.~tmp")); }

  QTemporaryDir dir_;
  test::RecordingMessages messages_;
};

TEST_F(MovieWriterTest, StartsClosedWithTheUncompressedEntryAndItsParts) {
  MovieWriter movie(SpoolPath());
  EXPECT_FALSE(movie.IsOpen());
  EXPECT_EQ(movie.Compressor().CurrentCode(), 0u);
  EXPECT_EQ(movie.Compressor().CurrentIndex(), 0);
  EXPECT_EQ(movie.Writer().SpoolPath(), SpoolPath());
  EXPECT_FALSE(movie.Audio().Drivers().empty());
  EXPECT_TRUE(messages_.Messages().isEmpty());
}

TEST_F(MovieWriterTest, CloseWithoutOpenReturnsFalseAndWritesNothing) {
  MovieWriter movie(SpoolPath());
  EXPECT_FALSE(movie.Close(0));
  EXPECT_FALSE(movie.Close(15));
  EXPECT_TRUE(QDir(dir_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

  // Nor after a failed Open: the movie writer stays closed.
  EXPECT_FALSE(movie.Open(Path(QStringLiteral("no/such/folder.avi")), Settings(8, 8)));
  EXPECT_FALSE(movie.IsOpen());
  EXPECT_FALSE(movie.Close(0));
}

TEST_F(MovieWriterTest, FrameNumbersStartAtZeroInEveryRecording) {
  MovieWriter movie(SpoolPath());
  const QString first = Path(QStringLiteral("first.avi"));
  ASSERT_TRUE(movie.Open(first, Settings(16, 8)));
  EXPECT_TRUE(movie.IsOpen());
  EXPECT_EQ(movie.Bitmap().Width(), 16);
  EXPECT_EQ(movie.Bitmap().Height(), 8);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(movie.Frame().FrameNumber, i);
    ASSERT_TRUE(movie.AddFrame());
  }
  EXPECT_TRUE(movie.Close(12));
  EXPECT_FALSE(movie.IsOpen());
  EXPECT_FALSE(movie.Close(12));  // a second Close leaves the finished file alone
  const test::AviFile avi = MediaProbe::ReadAvi(first);
  ASSERT_TRUE(avi.Valid);
  EXPECT_EQ(avi.TotalFrames(), 3u);
  EXPECT_EQ(avi.Rate(), 120000u);

  // A recording that ended early, without Close, does not carry its count into the next.
  ASSERT_TRUE(movie.Open(Path(QStringLiteral("early.avi")), Settings(16, 8)));
  ASSERT_TRUE(movie.AddFrame());
  ASSERT_TRUE(movie.Open(Path(QStringLiteral("second.avi")), Settings(24, 8)));
  EXPECT_EQ(movie.Frame().FrameNumber, 0u);
  ASSERT_TRUE(movie.AddFrame());
  EXPECT_EQ(movie.Frame().FrameNumber, 1u);
  EXPECT_TRUE(movie.Close(0));
  EXPECT_EQ(MediaProbe::ProbeVideo(Path(QStringLiteral("second.avi"))).Frames, 1);
}

TEST_F(MovieWriterTest, CompressedRecordingPassesFrameNumbersToTheCompressor) {
  MovieWriter movie(SpoolPath());
  if (!movie.Compressor().Select(MakeFourCC("MP42")) ||
      movie.Compressor().CurrentCode() != MakeFourCC("MP42")) {
    GTEST_SKIP() << "no MP42 compressor";
  }
  for (int recording = 0; recording < 2; ++recording) {
    const QString path = Path(QStringLiteral("mp42_%1.avi").arg(recording));
    ASSERT_TRUE(movie.Open(path, Settings(64, 48)));
    for (int i = 0; i < 20; ++i) {
      DIBBitmap& bitmap = movie.Bitmap();
      for (int y = 0; y < bitmap.Height(); ++y) {
        std::memset(bitmap.ScanLine(y), (y * 4 + i * 8) & 0xFF, size_t(bitmap.Width()) * 3);
      }
      ASSERT_TRUE(movie.AddFrame());
    }
    ASSERT_TRUE(movie.Close(0));
    const test::AviFile avi = MediaProbe::ReadAvi(path);
    ASSERT_EQ(avi.Index.size(), 20u);
    // Each recording opens with a key frame, decodable on its own.
    EXPECT_EQ(avi.Index[0].Flags & kAviKeyFrame, kAviKeyFrame);
    const test::ProbedVideo video = MediaProbe::ProbeVideo(path);
    EXPECT_EQ(video.CodecName, QStringLiteral("msmpeg4v2"));
    EXPECT_EQ(video.Frames, 20);
  }
  // The compressor selection outlives the recordings.
  EXPECT_EQ(movie.Compressor().CurrentCode(), MakeFourCC("MP42"));
}

}  // namespace
}  // namespace qm
