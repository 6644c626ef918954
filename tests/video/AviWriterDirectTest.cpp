#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

#include "common/FourCC.h"
#include "support/AviTestSettings.h"
#include "support/LoopDisk.h"
#include "support/MediaProbe.h"
#include "support/RecordingMessages.h"
#include "support/TestFiles.h"
#include "video/AviCompress.h"
#include "video/AviWriter.h"

namespace qm {
namespace {

using test::MediaProbe;

using test::ReadAll;

// Every byte of a picture block, the row padding included (zero, as a grab leaves it).
void Paint(uint8_t* bits, const DIBBitmap& bitmap, int frame) {
  const uint32_t rowBytes = uint32_t(bitmap.Width()) * 3;
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bits + size_t(y) * bitmap.Stride();
    for (uint32_t x = 0; x < bitmap.Stride(); ++x)
      row[x] = x < rowBytes ? uint8_t((x / 3 + uint32_t(frame) * 5) * 7 ^ uint32_t(y) * 3) : 0;
  }
}

// Frame i of a recording: drawn in place as a grab draws (most frames), drawn over the last
// picture, or not drawn at all (a failed grab), which adds the last picture again.
void DrawFrame(DIBBitmap& bitmap, int frame) {
  switch (frame % 5) {
    case 1:
      Paint(bitmap.Bits(), bitmap, frame);
      break;
    case 4:
      break;  // a failed grab
    default:
      Paint(bitmap.DrawTarget(), bitmap, frame);
      bitmap.Drawn();
  }
}

AviSettings Settings(int width, int height) {
  return test::AviTestSettings(width, height);
}

struct Case {
  uint32_t Code;
  int Width, Height;
  int64_t RiffLimit;  // 0: none but the format's
};

constexpr int kFrames = 40;

// Records kFrames frames into folder with checkpoints on the way; returns the file's bytes.
QByteArray Record(const QString& folder, const Case& c, bool& direct, int& parts) {
  AviCompress compressor;
  EXPECT_TRUE(compressor.Select(c.Code));
  AviWriter writer(folder + QStringLiteral("/spool.idx"));
  if (c.RiffLimit) writer.SetRiffLimit(c.RiffLimit);
  const QString path = folder + QStringLiteral("/rec.avi");
  EXPECT_TRUE(writer.Open(path, Settings(c.Width, c.Height), compressor));
  direct = writer.Direct();
  CompressedFrame frame;
  for (int i = 0; i < kFrames; ++i) {
    DrawFrame(compressor.Bitmap(), i);
    frame.FrameNumber = uint32_t(i);
    EXPECT_TRUE(writer.AddFrame(frame)) << i;
    if (i % 4 == 3) {
      EXPECT_TRUE(writer.Checkpoint(9.5L));
    }
  }
  parts = writer.Parts();
  EXPECT_TRUE(writer.Close(9.75L));
  return ReadAll(path);
}

// Direct I/O on a disk and the buffered writes that tmpfs falls back to give the same file,
// byte for byte: uncompressed pictures in place and copied, odd and even compressed sizes,
// frames smaller and larger than a block, OpenDML parts and checkpoints on the way.
TEST(AviWriterDirect, DirectAndBufferedFilesAreByteIdentical) {
  ASSERT_TRUE(MediaProbe::Available());
  QTemporaryDir disk(QDir::current().filePath(QStringLiteral("direct-XXXXXX")));
  QTemporaryDir memory(QStringLiteral("/dev/shm/qm-direct-XXXXXX"));
  ASSERT_TRUE(disk.isValid() && memory.isValid());
  const Case cases[] = {
      {0, 64, 48, 0},
      {0, 33, 7, 0},
      {0, 321, 203, 0},
      {0, 64, 48, 40000},
      {MakeFourCC("MP42"), 96, 64, 0},
      {MakeFourCC("H264"), 96, 64, 0},
      {MakeFourCC("MP42"), 96, 64, 9000},
  };
  int odd = 0, even = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << FourCCText(c.Code).toStdString() << ' ' << c.Width << 'x'
                                    << c.Height << " limit " << c.RiffLimit);
    bool direct = false, buffered = true;
    int directParts = 0, bufferedParts = 0;
    const QByteArray onDisk = Record(disk.path(), c, direct, directParts);
    const QByteArray inMemory = Record(memory.path(), c, buffered, bufferedParts);
    if (!direct) GTEST_SKIP() << "the build folder's file system takes no direct I/O";
    EXPECT_FALSE(buffered);
    EXPECT_EQ(directParts, bufferedParts);
    if (c.RiffLimit) {
      EXPECT_GE(directParts, 3);
    }
    ASSERT_GT(onDisk.size(), 6148);
    EXPECT_TRUE(onDisk == inMemory);

    const QString path = disk.filePath(QStringLiteral("rec.avi"));
    EXPECT_EQ(MediaProbe::ProbeVideo(path).Frames, kFrames);
    for (const test::AviMoviChunk& chunk : MediaProbe::ReadAvi(path).Chunks)
      ++((chunk.Size & 1) ? odd : even);
  }
  EXPECT_GT(odd, 0);
  EXPECT_GT(even, 0);
}

// A disk that fills up in the middle of a frame: the frame is undone, the user is told the
// disk is full, and the close still completes a file of every frame before it, each intact.
TEST(AviWriterDirect, ADiskThatFillsUpEndsInACompleteFile) {
  test::LoopDisk disk(3);
  if (!disk.Ready()) GTEST_SKIP() << "a loop-mounted disk needs root";
  test::RecordingMessages messages;
  QTemporaryDir spool(QDir::current().filePath(QStringLiteral("spool-XXXXXX")));
  AviCompress compressor;
  ASSERT_TRUE(compressor.Select(0));
  AviWriter writer(spool.filePath(QStringLiteral("spool.idx")));
  const QString path = disk.Folder() + QStringLiteral("/full.avi");
  ASSERT_TRUE(writer.Open(path, Settings(321, 203), compressor));
  ASSERT_TRUE(writer.Direct());
  CompressedFrame frame;
  int added = 0;
  for (; added < 100; ++added) {
    Paint(compressor.Bitmap().DrawTarget(), compressor.Bitmap(), added);
    compressor.Bitmap().Drawn();
    frame.FrameNumber = uint32_t(added);
    if (!writer.AddFrame(frame)) break;
  }
  ASSERT_GT(added, 2);
  ASSERT_LT(added, 100);
  EXPECT_EQ(writer.Failure(), AviWriter::WriteFailedMessage(path, ENOSPC));
  ASSERT_TRUE(writer.Close(0));

  const test::AviFile avi = MediaProbe::ReadAvi(path);
  ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
  ASSERT_EQ(avi.Chunks.size(), size_t(added));
  EXPECT_EQ(avi.Index.size(), size_t(added));
  EXPECT_EQ(MediaProbe::ProbeVideo(path).Frames, added);
  const QByteArray bytes = ReadAll(path);
  DIBBitmap picture;
  picture.SetFormat(321, 203, PixelFormat::Bits24);
  for (int i = 0; i < added; ++i) {
    Paint(picture.Bits(), picture, i);
    const test::AviMoviChunk& chunk = avi.Chunks[size_t(i)];
    EXPECT_EQ(bytes.mid(qsizetype(chunk.Position) + 8, qsizetype(chunk.Size)),
              QByteArray(reinterpret_cast<const char*>(picture.Bits()), picture.ImageSize()))
        << i;
  }
}

// Fills the rest of the file system that holds folder; true once a write found it full.
bool FillDisk(const QString& folder) {
  QFile filler(folder + QStringLiteral("/filler"));
  if (!filler.open(QIODevice::WriteOnly)) return false;
  const QByteArray block(64 * 1024, 'f');
  while (filler.write(block) == block.size() && filler.flush()) {
  }
  const QByteArray byte(1, 'f');
  while (filler.write(byte) == 1 && filler.flush()) {
  }
  return true;
}

// A disk that another program fills up while a recording runs, or that the recording fills
// itself, still leaves a complete file with every frame written: the room for the indexes
// of the close was taken as the frames came, and nothing is left beside the file.
TEST(AviWriterDirect, ADiskThatFillsBeforeTheCloseStillGetsItsIndex) {
  struct FillCase {
    const char* Name;
    int64_t RiffLimit;  // 0: none
    int FillAfter;      // frames before the disk is filled; -1: the recording fills it
  };
  const std::vector<FillCase> cases = {
      {"classic, filled by another", 0, 600},
      {"classic, filled by itself", 0, -1},
      {"odml, filled by another", 300000, 600},
      {"odml, filled by itself", 300000, -1},
  };
  for (const FillCase& c : cases) {
    SCOPED_TRACE(c.Name);
    test::LoopDisk disk(4);
    if (!disk.Ready()) GTEST_SKIP() << "a loop-mounted disk needs root";
    test::RecordingMessages messages;
    AviCompress compressor;
    ASSERT_TRUE(compressor.Select(0));
    AviWriter writer;
    if (c.RiffLimit) writer.SetRiffLimit(c.RiffLimit);
    const QString path = disk.Folder() + QStringLiteral("/fill.avi");
    // Small frames, so that the index at the close needs blocks of its own.
    ASSERT_TRUE(writer.Open(path, Settings(32, 16), compressor));
    CompressedFrame frame;
    int added = 0;
    for (; added < 20000; ++added) {
      if (added == c.FillAfter) {
        ASSERT_TRUE(FillDisk(disk.Folder()));
        break;
      }
      DrawFrame(compressor.Bitmap(), added);
      frame.FrameNumber = uint32_t(added);
      if (!writer.AddFrame(frame)) break;
    }
    ASSERT_LT(added, 20000);
    ASSERT_TRUE(writer.Close(0)) << writer.Failure().toStdString();
    const test::AviFile avi = MediaProbe::ReadAvi(path);
    ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
    EXPECT_EQ(MediaProbe::ProbeVideo(path).Frames, added);
    EXPECT_EQ(QDir(disk.Folder()).entryList({".~*"}, QDir::Files | QDir::Hidden), QStringList());
  }
}

// A disk that is full, or has no room for a first frame, refuses the start: nothing is left on
// it, and the failure says why.
TEST(AviWriterDirect, ADiskFullAtTheStartRefusesTheRecording) {
  for (const int64_t room : {int64_t(0), int64_t(8192)}) {
    SCOPED_TRACE(room);
    test::LoopDisk disk(3);
    if (!disk.Ready()) GTEST_SKIP() << "a loop-mounted disk needs root";
    ASSERT_TRUE(FillDisk(disk.Folder()));
    QFile filler(disk.Folder() + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.resize(filler.size() - room));
    AviCompress compressor;
    ASSERT_TRUE(compressor.Select(0));
    AviWriter writer;
    const QString path = disk.Folder() + QStringLiteral("/full.avi");
    EXPECT_FALSE(writer.Open(path, Settings(321, 203), compressor));
    EXPECT_EQ(writer.Failure(), "Can not create file " + path + ": No space left on device");
    EXPECT_EQ(QDir(disk.Folder()).entryList(QDir::Files | QDir::Hidden), QStringList{"filler"});
  }
}

// A recording whose folder is renamed while it runs completes its file where it is now; one
// whose folder (or file) is deleted makes it again, keeps every frame there and says so.
TEST(AviWriterDirect, AFolderMovedOrDeletedDuringTheRecordingKeepsEveryFrame) {
  struct Change {
    const char* Name;
    const char* Removed;  // deleted at frame 5 (with what is in it); null: renamed to "after"
    const char* Kept;     // where the file is at the end
    const char* Notice;   // its start; null: none
  };
  const Change cases[] = {
      {"renamed", nullptr, "after/rec.avi", nullptr},
      {"folder deleted", "before", "before/rec.avi", "The folder "},
      {"file deleted", "before/rec.avi", "before/rec.avi", "The file "},
  };
  for (const Change& c : cases) {
    SCOPED_TRACE(c.Name);
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("moved-XXXXXX")));
    test::RecordingMessages messages;
    AviCompress compressor;
    ASSERT_TRUE(compressor.Select(0));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("before"))));
    AviWriter writer;
    ASSERT_TRUE(
        writer.Open(dir.filePath(QStringLiteral("before/rec.avi")), Settings(32, 16), compressor));
    CompressedFrame frame;
    for (int i = 0; i < 10; ++i) {
      if (i == 5 && !c.Removed) {
        ASSERT_TRUE(QDir().rename(dir.filePath(QStringLiteral("before")),
                                  dir.filePath(QStringLiteral("after"))));
      } else if (i == 5) {
        const QString removed = dir.filePath(c.Removed);
        ASSERT_TRUE(QFileInfo(removed).isDir() ? QDir(removed).removeRecursively()
                                               : QFile::remove(removed));
      }
      DrawFrame(compressor.Bitmap(), i);
      frame.FrameNumber = uint32_t(i);
      ASSERT_TRUE(writer.AddFrame(frame));
      // The recorder's checkpoint, about once a second; the last frames come after it.
      if (i == 6) {
        ASSERT_TRUE(writer.Checkpoint(0));
      }
    }
    ASSERT_TRUE(writer.Close(0)) << writer.Failure().toStdString();
    EXPECT_TRUE(messages.Messages().isEmpty()) << messages.Messages().join('|').toStdString();
    EXPECT_EQ(writer.Notice().section(' ', 0, 1) + ' ', c.Notice ? c.Notice : " ");
    const QString path = dir.filePath(c.Kept);
    EXPECT_EQ(MediaProbe::ProbeVideo(path).Frames, 10);
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("rec.avi")});
  }
}

}  // namespace
}  // namespace qm
