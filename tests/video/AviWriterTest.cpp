#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "common/FourCC.h"
#include "common/LittleEndian.h"
#include "platform/audio/SoundEncoder.h"
#include "support/AviTestSettings.h"
#include "support/MediaProbe.h"
#include "support/RecordingMessages.h"
#include "support/SideFiles.h"
#include "support/SoundProbe.h"
#include "support/TestFiles.h"
#include "video/AviCompress.h"
#include "video/AviLayout.h"
#include "video/AviRepair.h"
#include "video/AviWriter.h"

namespace qm {
namespace {

using test::AviFile;
using test::MediaProbe;
using test::RecordingMessages;

uint32_t At32(const QByteArray& bytes, int at) {
  return GetLE32(reinterpret_cast<const uint8_t*>(bytes.constData() + at));
}

using test::ReadAll;

// A screen-like picture: a light page with lines of dark "text" blocks that scroll by one
// line every few frames, and a small window that moves across it.
void DrawFrame(DIBBitmap& bitmap, int frame) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    const int line = (y + frame / 4) / 6;
    const bool textRow = (y + frame / 4) % 6 < 4;
    for (int x = 0; x < width; ++x) {
      uint8_t b = 0xF0, g = 0xF0, r = 0xEE;
      if (textRow && ((x / 3 + line * 7) % 11) < 7 && x % 3 != 2) b = g = r = 0x20;
      const int wx = (frame * 3) % std::max(1, width - width / 3);
      if (x >= wx && x < wx + width / 3 && y >= height / 4 && y < height / 2) {
        b = uint8_t(0x80 + frame);
        g = 0x40;
        r = uint8_t(x * 255 / std::max(1, width));
      }
      row[3 * x] = b;
      row[3 * x + 1] = g;
      row[3 * x + 2] = r;
    }
  }
}

// The picture as packed top-down bgr24 rows, what the decoder gives back.
QByteArray TopDownBgr(const DIBBitmap& bitmap) {
  const int rowBytes = bitmap.Width() * 3;
  QByteArray out(qsizetype(rowBytes) * bitmap.Height(), '\0');
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::memcpy(out.data() + qsizetype(y) * rowBytes, bitmap.ScanLine(y), rowBytes);
  }
  return out;
}

AviSettings Settings(int width, int height, long double rate) {
  return test::AviTestSettings(width, height, rate);
}

class AviWriterTest : public ::testing::Test {
 protected:
  QString Path(const QString& name) const { return dir_.filePath(name); }
  QString SpoolPath() const { return dir_.filePath(QStringLiteral("Index.~tmp")); }

  // Records frames of the given size with the selected compressor, returns the file path.
  QString Record(AviWriter& writer, const QString& name, int width, int height, int frames,
                 long double rate = 15, long double actualRate = 0,
                 std::vector<QByteArray>* pictures = nullptr) {
    const QString path = Path(name);
    EXPECT_TRUE(writer.Open(path, Settings(width, height, rate), compressor_));
    CompressedFrame frame;
    for (int i = 0; i < frames; ++i) {
      DrawFrame(compressor_.Bitmap(), i);
      if (pictures) pictures->push_back(TopDownBgr(compressor_.Bitmap()));
      frame.FrameNumber = uint32_t(i);
      EXPECT_TRUE(writer.AddFrame(frame)) << "frame " << i;
    }
    EXPECT_TRUE(writer.Close(actualRate));
    return path;
  }

  QTemporaryDir dir_;
  RecordingMessages messages_;
  AviCompress compressor_;
};

TEST_F(AviWriterTest, EmptyRecordingIsTheFixedHeaderRegionAndAnEmptyIndex) {
  ASSERT_TRUE(compressor_.Select(0));
  AviWriter writer(SpoolPath());
  const QString path = Record(writer, QStringLiteral("empty.avi"), 32, 16, 0);
  const QByteArray bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 6156);

  // The region as a plain RIFF reader walks it (a list's children follow its type, a chunk's
  // data its size) is the layout that the writer and the repair share, head for head, and
  // everything but the heads and the headers' own fields is zero.
  std::vector<AviLayout::Head> walked;
  const auto walk = [&](auto&& self, int64_t at, int64_t end) -> void {
    while (at + 8 <= end) {
      const uint32_t code = At32(bytes, int(at));
      const uint32_t size = At32(bytes, int(at + 4));
      const bool list = code == MakeFourCC("RIFF") || code == MakeFourCC("LIST");
      const uint32_t type = list ? At32(bytes, int(at + 8)) : 0u;
      walked.push_back({at, code, size, type});
      if (list && type != MakeFourCC("movi")) self(self, at + 12, at + 8 + size);
      at += 8 + size + (size & 1);
    }
  };
  walk(walk, 0, 12);
  const AviLayout layout;
  ASSERT_GE(walked.size(), layout.Heads().size());
  for (size_t i = 0; i < layout.Heads().size(); ++i) {
    const AviLayout::Head& want = layout.Heads()[i];
    const AviLayout::Head& got = walked[i];
    EXPECT_EQ(got.At, want.At) << i;
    EXPECT_EQ(got.Code, want.Code) << i;
    EXPECT_EQ(got.ListType, want.ListType) << i;
    // The "RIFF" and the "movi" count what the file holds by now.
    if (want.Code != MakeFourCC("RIFF") && want.ListType != MakeFourCC("movi")) {
      EXPECT_EQ(got.Size, want.Size) << i;
    }
  }
  EXPECT_EQ(At32(bytes, 4), 6148u);
  EXPECT_EQ(At32(bytes, int(layout.FirstChunk())), MakeFourCC("idx1"));
  for (int64_t at = layout.VideoSuperIndex(); at < layout.VideoSuperIndex() + 4112; ++at)
    ASSERT_EQ(bytes[int(at)], '\0') << "super index reserve at " << at;
  for (int64_t at = layout.ExtendedHeader() + 4; at < layout.ExtendedHeader() + 248; ++at)
    ASSERT_EQ(bytes[int(at)], '\0') << "dmlh at " << at;

  const AviFile avi = MediaProbe::ReadAvi(path);
  ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
  EXPECT_EQ(avi.MicroSecPerFrame(), 66667u);
  EXPECT_EQ(avi.MainFlags(), 0x110u);
  EXPECT_EQ(avi.TotalFrames(), 0u);
  EXPECT_EQ(avi.StreamCount(), 1u);
  EXPECT_EQ(avi.Width(), 32u);
  EXPECT_EQ(avi.Height(), 16u);
  EXPECT_EQ(avi.StreamType(), MakeFourCC("vids"));
  EXPECT_EQ(avi.Handler(), MakeFourCC("DIB "));
  EXPECT_EQ(avi.Scale(), 10000u);
  EXPECT_EQ(avi.Rate(), 150000u);
  EXPECT_EQ(avi.Length(), 0u);
  EXPECT_EQ(avi.SuggestedBufferSize(), 0u);
  EXPECT_EQ(avi.Quality(), 10000u);
  EXPECT_EQ(At32(bytes, 108 + 52), 32u | 16u << 16);  // frame rectangle right, bottom
  // The format of the built-in entry: 40-byte header, 32 x 16, 1 plane, 24 bits, unpadded size.
  EXPECT_EQ(At32(bytes, 172), 40u);
  EXPECT_EQ(At32(bytes, 176), 32u);
  EXPECT_EQ(At32(bytes, 180), 16u);
  EXPECT_EQ(At32(bytes, 184), 1u | 24u << 16);
  EXPECT_EQ(At32(bytes, 188), 0u);
  EXPECT_EQ(At32(bytes, 192), 32u * 16 * 3);
  EXPECT_TRUE(avi.HasIndex);
  EXPECT_TRUE(avi.Index.empty());
  EXPECT_TRUE(messages_.Messages().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(SpoolPath()));
}

TEST_F(AviWriterTest, UncompressedFramesAreDibChunksWithKeyFlagsAndDecodeExactly) {
  ASSERT_TRUE(MediaProbe::Available());
  ASSERT_TRUE(compressor_.Select(0));
  AviWriter writer(SpoolPath());
  std::vector<QByteArray> pictures;
  // 31 pixels: rows of 93 bytes padded to 96.
  const QString path = Record(writer, QStringLiteral("dib.avi"), 31, 17, 5, 15, 0, &pictures);

  const AviFile avi = MediaProbe::ReadAvi(path);
  ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
  EXPECT_EQ(avi.MoviPosition, 6136);
  EXPECT_EQ(avi.TotalFrames(), 5u);
  EXPECT_EQ(avi.Length(), 5u);
  EXPECT_EQ(avi.Handler(), MakeFourCC("DIB "));
  EXPECT_EQ(avi.SuggestedBufferSize(), 96u * 17);
  ASSERT_EQ(avi.Chunks.size(), 5u);
  ASSERT_EQ(avi.Index.size(), 5u);
  EXPECT_EQ(avi.Chunks[0].Position, 6148);
  EXPECT_EQ(avi.Index[0].Offset, 4u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(avi.Chunks[i].ChunkId, MakeFourCC("00db"));
    EXPECT_EQ(avi.Chunks[i].Size, 96u * 17);
    EXPECT_EQ(avi.Index[i].ChunkId, MakeFourCC("00db"));
    EXPECT_EQ(avi.Index[i].Flags, 0x10u);
    EXPECT_EQ(avi.Index[i].Length, 96u * 17);
    EXPECT_EQ(int64_t(avi.Index[i].Offset), avi.Chunks[i].Position - avi.MoviPosition - 8);
  }
  EXPECT_EQ(avi.FileSize, int64_t(avi.RiffSize) + 8);
  EXPECT_EQ(int64_t(avi.MoviSize), avi.IndexPosition - avi.MoviPosition - 8);

  const test::ProbedVideo video = MediaProbe::ProbeVideo(path);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_EQ(video.CodecName, QStringLiteral("rawvideo"));
  EXPECT_EQ(video.Width, 31);
  EXPECT_EQ(video.Height, 17);
  EXPECT_EQ(video.Frames, 5);
  std::vector<QByteArray> decoded;
  QString errors;
  ASSERT_TRUE(MediaProbe::DecodeBgr24(path, 31, 17, decoded, &errors)) << errors.toStdString();
  ASSERT_EQ(decoded.size(), pictures.size());
  for (size_t i = 0; i < decoded.size(); ++i) {
    EXPECT_TRUE(decoded[i] == pictures[i]) << i;
  }
}

struct RateCase {
  long double Open;
  long double Close;
  uint32_t MicroSeconds;
  uint32_t Rate;
};

class AviWriterRateTest : public AviWriterTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(AviWriterRateTest, TimingFieldsRoundToNearestEven) {
  const RateCase c = GetParam();
  ASSERT_TRUE(compressor_.Select(0));
  AviWriter writer(SpoolPath());
  const QString path = Record(writer, QStringLiteral("rate.avi"), 8, 8, 2, c.Open, c.Close);
  const AviFile avi = MediaProbe::ReadAvi(path);
  ASSERT_TRUE(avi.Valid);
  EXPECT_EQ(avi.MicroSecPerFrame(), c.MicroSeconds);
  EXPECT_EQ(avi.Scale(), 10000u);
  EXPECT_EQ(avi.Rate(), c.Rate);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, AviWriterRateTest,
    ::testing::Values(RateCase{15, 0, 66667, 150000}, RateCase{12, 0, 83333, 120000},
                      RateCase{29.97, 0, 33367, 299700},
                      // The achieved rate replaces the requested one; 0 keeps it.
                      RateCase{15, 12.5, 80000, 125000}, RateCase{15, 29.97, 33367, 299700},
                      // Exact halves go to the even neighbour: 312.5 -> 312, 2.5 -> 2.
                      RateCase{1.0L / 32, 0, 32000000, 312}, RateCase{400000, 0, 2, 4000000000u}));

TEST_F(AviWriterTest, StaleSpoolIsRemovedAtCreationAndAtOpen) {
  auto leaveSpool = [&] {
    QFile stale(SpoolPath());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray(100, 'x'));
  };
  leaveSpool();
  AviWriter writer(SpoolPath());
  EXPECT_FALSE(QFileInfo::exists(SpoolPath()));

  leaveSpool();
  ASSERT_TRUE(compressor_.Select(0));
  ASSERT_TRUE(writer.Open(Path(QStringLiteral("a.avi")), Settings(8, 8, 10), compressor_));
  EXPECT_EQ(QFileInfo(SpoolPath()).size(), 0);  // the spool of this recording, not the stale one
  CompressedFrame frame;
  ASSERT_TRUE(writer.AddFrame(frame));
  EXPECT_EQ(QFileInfo(SpoolPath()).size(), 16);
  ASSERT_TRUE(writer.Close(0));
  EXPECT_FALSE(QFileInfo::exists(SpoolPath()));
  EXPECT_EQ(MediaProbe::ReadAvi(Path(QStringLiteral("a.avi"))).Index.size(), 1u);
  EXPECT_TRUE(messages_.Messages().isEmpty());
}

// Runs body with the process's file-size limit lowered to bytes, then restores it.
template <typename Body>
void WithFileSizeLimit(rlim_t bytes, Body body) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit lowered = saved;
  lowered.rlim_cur = bytes;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
  body();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
}

// A start that fails, for whatever reason, names its cause without a message of its own,
// leaves an existing file as it was and leaves neither a spool nor a half-written file.
TEST_F(AviWriterTest, AStartThatFailsLeavesTheExistingFileAndNothingElse) {
  const QString existing = Path(QStringLiteral("kept.avi"));
  const QString blocked = Path(QStringLiteral("plain"));  // a file where a folder should be
  struct Case {
    const char* Name;
    uint32_t Code;
    int Width, Height;
    QString Target, Spool, Obstacle;  // Obstacle: a folder made in the spool's place
    rlim_t FileSizeLimit;             // 0: none
    QString Failure;
  };
  const QString spool = SpoolPath();
  // clang-format off
  const std::vector<Case> cases = {
      {"bitmap refuses the size", 0, 40000, 40000, existing, spool, {}, 0,
       "The frame bitmap cannot hold frames of 40000 x 40000"},
      {"compressor refuses the size", MakeFourCC("H264"), 33, 20, existing, spool, {}, 0,
       "The compressor AVC / MPEG-4 Part 10 video (x264) cannot take frames of 33 x 20"},
      {"stale spool cannot be deleted", 0, 8, 8, existing, spool, spool + "/inside", 0,
       "Can not delete file " + spool},
      {"spool cannot be created", 0, 8, 8, existing, blocked + "/Index.~tmp", {}, 0,
       "Can not create file " + blocked + "/Index.~tmp: Not a directory"},
      {"headers cannot be written", 0, 8, 8, existing, spool, {}, 4096,
       "Can not create file " + existing + ": File too large"},
      {"folder missing", 0, 8, 8, Path("missing/c.avi"), spool, {}, 0,
       "Can not create file " + Path("missing/c.avi") + ": No such file or directory"},
  };
  // clang-format on
  const QByteArray precious("an earlier recording");
  {
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    {
      QFile file(existing);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(precious);
    }
    if (!compressor_.Select(c.Code) || compressor_.CurrentCode() != c.Code) {
      ADD_FAILURE() << "compressor " << FourCCText(c.Code).toStdString() << " missing";
      continue;
    }
    AviWriter writer(c.Spool);
    if (!c.Obstacle.isEmpty()) {
      ASSERT_TRUE(QDir().mkpath(c.Obstacle));
    }
    bool opened = true;
    const auto open = [&] {
      opened = writer.Open(c.Target, Settings(c.Width, c.Height, 10), compressor_);
    };
    if (c.FileSizeLimit)
      WithFileSizeLimit(c.FileSizeLimit, open);
    else
      open();

    EXPECT_FALSE(opened);
    EXPECT_EQ(writer.Failure(), c.Failure);
    EXPECT_TRUE(messages_.Messages().isEmpty()) << messages_.Messages().join('|').toStdString();
    EXPECT_EQ(ReadAll(existing), precious);
    EXPECT_FALSE(QFileInfo(c.Spool).isFile());
    EXPECT_TRUE(test::SideFiles(QFileInfo(c.Target).absolutePath()).isEmpty());
    EXPECT_FALSE(writer.IsOpen());
    CompressedFrame frame;
    EXPECT_FALSE(writer.AddFrame(frame));
    EXPECT_FALSE(writer.Close(0));
    if (!c.Obstacle.isEmpty()) {
      ASSERT_TRUE(QDir(c.Spool).removeRecursively());
    }
  }
}

TEST_F(AviWriterTest, FailedFrameWriteIsUndoneSoTheFileStillCloses) {
  ASSERT_TRUE(compressor_.Select(0));
  AviWriter writer(SpoolPath());
  const QString path = Path(QStringLiteral("limit.avi"));
  ASSERT_TRUE(writer.Open(path, Settings(64, 32, 10), compressor_));
  CompressedFrame frame;
  ASSERT_TRUE(writer.AddFrame(frame));
  ASSERT_TRUE(writer.AddFrame(frame));
  const int64_t size = QFileInfo(path).size();
  bool added = true;
  // Room for the chunk header and half a frame: the file-size limit stops the data write.
  WithFileSizeLimit(rlim_t(size + 8 + 64 * 32 * 3 / 2), [&] { added = writer.AddFrame(frame); });
  EXPECT_FALSE(added);
  EXPECT_EQ(QFileInfo(path).size(), size);
  EXPECT_EQ(writer.FramesWritten(), 2u);
  ASSERT_TRUE(writer.Close(0));

  const AviFile avi = MediaProbe::ReadAvi(path);
  ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
  EXPECT_EQ(avi.TotalFrames(), 2u);
  EXPECT_EQ(avi.Index.size(), 2u);
  EXPECT_EQ(avi.Chunks.size(), 2u);
  EXPECT_EQ(MediaProbe::ProbeVideo(path).Frames, 2);
}

// A next part that cannot be begun (the disk is full) is undone: the file still closes with
// every frame before it.
TEST_F(AviWriterTest, AFailedStartOfTheNextPartIsUndone) {
  ASSERT_TRUE(compressor_.Select(0));
  AviWriter writer(SpoolPath());
  writer.SetRiffLimit(6148 + 3 * (8 + 384) + 32 + 3 * 8 + 8 + 3 * 16);  // three 16x8 frames
  const QString path = Path(QStringLiteral("rollover.avi"));
  ASSERT_TRUE(writer.Open(path, Settings(16, 8, 10), compressor_));
  CompressedFrame frame;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(writer.AddFrame(frame));
  bool added = true;
  WithFileSizeLimit(rlim_t(QFileInfo(path).size() + 40), [&] { added = writer.AddFrame(frame); });
  EXPECT_FALSE(added);
  EXPECT_EQ(writer.Parts(), 1);
  ASSERT_TRUE(writer.Close(0));
  const test::ProbedVideo video = MediaProbe::ProbeVideo(path);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_EQ(video.Frames, 3);
  EXPECT_EQ(MediaProbe::ReadAvi(path).Index.size(), 3u);
}

TEST_F(AviWriterTest, CloseThatCannotWriteTheIndexFails) {
  ASSERT_TRUE(compressor_.Select(0));
  AviWriter writer(SpoolPath());
  const QString path = Path(QStringLiteral("noindex.avi"));
  ASSERT_TRUE(writer.Open(path, Settings(16, 16, 10), compressor_));
  CompressedFrame frame;
  ASSERT_TRUE(writer.AddFrame(frame));
  bool closed = true;
  WithFileSizeLimit(rlim_t(QFileInfo(path).size() + 4), [&] { closed = writer.Close(0); });
  EXPECT_FALSE(closed);
  EXPECT_EQ(writer.Failure(), QString::fromLocal8Bit(std::strerror(EFBIG)) +
                                  ": run `quillmark-capture repair " + path + "`");
  // The spool stays for the repair.
  EXPECT_EQ(QFileInfo(SpoolPath()).size(), 16);
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_FALSE(writer.Close(0));
}

// The writer's side files are new files of its own: links that anyone planted at the names
// it once used lead nowhere, and the recording is a plain file. A writer told to keep
// existing files never replaces one.
TEST_F(AviWriterTest, SideFilesAreNewFilesNeverWhatStandsAtTheirNames) {
  ASSERT_TRUE(compressor_.Select(0));
  const QString victim = Path(QStringLiteral("victim"));
  const QByteArray precious("not a recording");
  {
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(precious);
  }
  const QString path = Path(QStringLiteral("rec.avi"));
  const QString hash = QString::fromLatin1(
      QCryptographicHash::hash(QFile::encodeName(QDir(dir_.path()).canonicalPath() + "/rec.avi"),
                               QCryptographicHash::Sha1)
          .toHex()
          .left(16));
  QStringList planted;
  for (const char* suffix : {".new", ".idx", "-000000000000.new", "-000000000000.idx"}) {
    planted << Path(".~" + hash + suffix);
    ASSERT_TRUE(QFile::link(victim, planted.back()));
  }
  AviWriter writer;
  Record(writer, QStringLiteral("rec.avi"), 16, 8, 3);
  EXPECT_EQ(ReadAll(victim), precious);
  EXPECT_FALSE(QFileInfo(path).isSymLink());
  EXPECT_EQ(MediaProbe::ReadAvi(path).Index.size(), 3u);
  for (const QString& link : planted)
    EXPECT_TRUE(QFileInfo(link).isSymLink()) << link.toStdString();
  EXPECT_EQ(test::SideFiles(dir_.path()).size(), planted.size());

  const QByteArray recorded = ReadAll(path);
  writer.SetKeepExisting(true);
  EXPECT_FALSE(writer.Open(path, Settings(16, 8, 10), compressor_));
  EXPECT_EQ(writer.Failure(), "Can not create file " + path + ": File exists");
  EXPECT_EQ(ReadAll(path), recorded);
  EXPECT_EQ(test::SideFiles(dir_.path()).size(), planted.size());
}

TEST_F(AviWriterTest, SizeLimitStopsBeforeTheFrameThatWouldPassItAndTheFileCompletes) {
  ASSERT_TRUE(compressor_.Select(0));
  const int64_t frameBytes = 16 * 8 * 3;  // 48-byte rows, no padding
  // Header region, two chunks and an index of two entries: exactly the limit.
  const int64_t twoFrames = 6148 + 2 * (8 + frameBytes) + 8 + 2 * 16;
  for (const int64_t limit : {twoFrames, twoFrames - 1}) {
    AviWriter writer(SpoolPath());
    writer.SetSizeLimit(limit);
    RecordingMessages messages;
    const QString path = Path(QStringLiteral("big%1.avi").arg(limit));
    ASSERT_TRUE(writer.Open(path, Settings(16, 8, 10), compressor_));
    CompressedFrame frame;
    int added = 0;
    for (int i = 0; i < 5; ++i) added += writer.AddFrame(frame) ? 1 : 0;
    const int expected = limit == twoFrames ? 2 : 1;
    EXPECT_EQ(added, expected);
    EXPECT_EQ(writer.Failure(), AviWriter::SizeLimitMessage());
    EXPECT_TRUE(messages.Messages().isEmpty()) << "the caller tells the user";
    ASSERT_TRUE(writer.Close(0));
    EXPECT_LE(QFileInfo(path).size(), limit);
    EXPECT_EQ(QFileInfo(path).size(), 6148 + expected * (8 + frameBytes) + 8 + expected * 16);
    const test::ProbedVideo video = MediaProbe::ProbeVideo(path);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.Frames, expected);
  }
}

// The file layout for every listed compressor; how each one's frames decode is judged with the
// compressors themselves.
TEST_F(AviWriterTest, EveryListedCompressorWritesTheSameLayout) {
  ASSERT_TRUE(MediaProbe::Available());
  const std::vector<CompressorEntry> entries = compressor_.Entries();
  ASSERT_FALSE(entries.empty());
  constexpr int kWidth = 96, kHeight = 64, kFrames = 32;
  int oddSizes = 0;
  for (const CompressorEntry& entry : entries) {
    const QString code = entry.Handler ? FourCCText(entry.Handler) : QStringLiteral("DIB ");
    SCOPED_TRACE(code.toStdString() + " " + entry.Description.toStdString());
    ASSERT_TRUE(compressor_.Select(entry.Handler));
    AviWriter writer(SpoolPath());
    const QString path = Record(writer, QStringLiteral("c_%1.avi").arg(code.trimmed()), kWidth,
                                kHeight, kFrames, 15, 0);

    const AviFile avi = MediaProbe::ReadAvi(path);
    ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
    EXPECT_EQ(avi.Handler(), entry.Handler ? entry.Handler : MakeFourCC("DIB "));
    EXPECT_EQ(avi.FormatCompression(), entry.Handler);
    ASSERT_EQ(avi.Index.size(), size_t(kFrames));
    ASSERT_EQ(avi.Chunks.size(), size_t(kFrames));
    uint32_t largest = 0;
    int64_t expected = avi.MoviPosition + 12;
    for (size_t i = 0; i < avi.Index.size(); ++i) {
      const uint32_t chunkCode = entry.Handler ? MakeFourCC("00dc") : MakeFourCC("00db");
      EXPECT_EQ(avi.Chunks[i].ChunkId, chunkCode);
      EXPECT_EQ(avi.Index[i].ChunkId, chunkCode);
      EXPECT_EQ(avi.Chunks[i].Position, expected) << "chunk " << i;
      EXPECT_EQ(avi.Chunks[i].Position % 2, 0);
      EXPECT_EQ(avi.Chunks[i].Size, avi.Index[i].Length);
      EXPECT_TRUE(avi.Chunks[i].PadIsZero);
      EXPECT_EQ(int64_t(avi.Index[i].Offset), avi.Chunks[i].Position - avi.MoviPosition - 8);
      expected += 8 + avi.Chunks[i].Size + (avi.Chunks[i].Size & 1);
      largest = std::max(largest, avi.Index[i].Length);
      oddSizes += avi.Chunks[i].Size & 1;
    }
    EXPECT_EQ(avi.SuggestedBufferSize(), largest);
    EXPECT_EQ(avi.Index[0].Flags & 0x10, 0x10u) << "the first frame is a key frame";

    const test::ProbedVideo video = MediaProbe::ProbeVideo(path);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.Streams, 1);
    EXPECT_EQ(video.Width, kWidth);
    EXPECT_EQ(video.Height, kHeight);
    EXPECT_EQ(video.Frames, kFrames);
  }
  // Compressed sizes are odd often enough that the pad byte was exercised above.
  if (entries.size() > 1) {
    EXPECT_GT(oddSizes, 0);
  }
}

// ffmpeg's picture after seeking to seconds, as packed bgr24.
QByteArray PictureAfterSeek(const QString& path, double seconds) {
  bool ok = false;
  return MediaProbe::Run(QStringLiteral("ffmpeg"),
                         {"-nostdin", "-v", "error", "-ss", QString::number(seconds, 'f', 3), "-i",
                          path, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "bgr24", "-"},
                         &ok);
}

// Past the RIFF limit the recording goes on in "AVIX" parts: every frame reads, with its key
// flag, the duration and seeking hold, and the first part alone is a classic AVI.
TEST_F(AviWriterTest, OpenDmlPartsCarryTheRecordingPastTheRiffLimit) {
  ASSERT_TRUE(MediaProbe::Available());
  struct Case {
    uint32_t Code;
    int64_t RiffLimit;
  };
  const int kFrames = 90;
  for (const Case& c :
       {Case{0, 40000}, Case{MakeFourCC("MP42"), 9000}, Case{MakeFourCC("H264"), 12000}}) {
    SCOPED_TRACE(FourCCText(c.Code).toStdString());
    ASSERT_TRUE(compressor_.Select(c.Code));
    AviWriter writer(SpoolPath());
    writer.SetRiffLimit(c.RiffLimit);
    std::vector<QByteArray> pictures;
    const QString path =
        Record(writer, QStringLiteral("odml%1.avi").arg(c.Code), 64, 48, kFrames, 10, 0, &pictures);
    EXPECT_GE(writer.Parts(), 3);

    const AviFile avi = MediaProbe::ReadAvi(path);
    ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
    ASSERT_EQ(int(avi.Parts.size()), writer.Parts());
    EXPECT_EQ(At32(ReadAll(path), 212), MakeFourCC("indx"));
    EXPECT_EQ(avi.SuperIndexSize, 4112u);
    ASSERT_EQ(avi.SuperIndex.size(), avi.Parts.size());
    ASSERT_EQ(avi.StandardIndexes.size(), avi.Parts.size());
    EXPECT_EQ(avi.ExtendedFrames, uint32_t(kFrames));
    EXPECT_EQ(avi.Length(), uint32_t(kFrames));
    EXPECT_EQ(avi.TotalFrames(), avi.Parts[0].Chunks);  // the first part's frames
    EXPECT_EQ(avi.Index.size(), avi.Parts[0].Chunks);
    uint32_t frames = 0;
    for (size_t i = 0; i < avi.Parts.size(); ++i) {
      EXPECT_LE(int64_t(avi.Parts[i].Size) + 8, c.RiffLimit) << "part " << i;
      EXPECT_EQ(avi.SuperIndex[i].Offset, avi.StandardIndexes[i].Position);
      EXPECT_EQ(avi.SuperIndex[i].Size, avi.StandardIndexes[i].ChunkSize + 8);
      EXPECT_EQ(avi.SuperIndex[i].Duration, avi.Parts[i].Chunks);
      const auto& entries = avi.StandardIndexes[i].Entries;
      ASSERT_EQ(entries.size(), avi.Parts[i].Chunks);
      for (size_t e = 0; e < entries.size(); ++e) {
        EXPECT_EQ(entries[e].DataPosition, avi.Chunks[avi.Parts[i].FirstChunk + e].Position + 8);
      }
      frames += avi.SuperIndex[i].Duration;
    }
    EXPECT_EQ(frames, uint32_t(kFrames));

    const test::ProbedVideo video = MediaProbe::ProbeVideo(path);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.Frames, kFrames);
    EXPECT_EQ(video.Packets, kFrames);
    EXPECT_NEAR(video.Duration, kFrames / 10.0, 0.01);
    const std::vector<bool> indexed = MediaProbe::PacketKeyFlags(path);
    const std::vector<test::ProbedFrame> decoded = MediaProbe::DecodedFrames(path);
    ASSERT_EQ(indexed.size(), decoded.size());
    for (size_t i = 0; i < indexed.size(); ++i) EXPECT_EQ(indexed[i], decoded[i].KeyFrame) << i;

    // Seeking to the last part's last key frame gives that frame.
    int lastKey = -1;
    for (size_t e = 0; e < avi.StandardIndexes.back().Entries.size(); ++e)
      if (avi.StandardIndexes.back().Entries[e].KeyFrame)
        lastKey = int(avi.Parts.back().FirstChunk + e);
    ASSERT_GE(lastKey, 0);
    const QByteArray seeked = PictureAfterSeek(path, lastKey / 10.0);
    ASSERT_EQ(seeked.size(), 64 * 48 * 3);
    if (c.Code == 0) {
      EXPECT_EQ(seeked, pictures[size_t(lastKey)]);
    }

    // A reader that stops at the first RIFF sees a classic AVI of the first part's frames.
    const QString first = Path(QStringLiteral("first%1.avi").arg(c.Code));
    {
      QFile out(first);
      ASSERT_TRUE(out.open(QIODevice::WriteOnly));
      out.write(ReadAll(path).left(qsizetype(avi.Parts[0].Size) + 8));
    }
    const test::ProbedVideo part = MediaProbe::ProbeVideo(first);
    ASSERT_TRUE(part.Valid) << part.Error.toStdString();
    EXPECT_EQ(part.Frames, int64_t(avi.Parts[0].Chunks));
  }
}

// A recording that stays below the RIFF limit is the classic file, byte for byte, and checkpoints
// on the way leave no trace in it.
TEST_F(AviWriterTest, BelowTheRiffLimitTheFileIsTheClassicOne) {
  ASSERT_TRUE(compressor_.Select(0));
  QByteArray classic;
  for (const bool tight : {false, true}) {
    AviWriter writer(SpoolPath());
    if (tight) writer.SetRiffLimit(classic.size() + 32 + 8 * 7);  // room for the "ix00" too
    const QString path = Path(QStringLiteral("below%1.avi").arg(tight));
    ASSERT_TRUE(writer.Open(path, Settings(24, 10, 15), compressor_));
    CompressedFrame frame;
    for (int i = 0; i < 7; ++i) {
      DrawFrame(compressor_.Bitmap(), i);
      ASSERT_TRUE(writer.AddFrame(frame));
      if (tight) {
        ASSERT_TRUE(writer.Checkpoint(14.5L));
      }
    }
    ASSERT_TRUE(writer.Close(14.0L));
    EXPECT_EQ(writer.Parts(), 1);
    if (!tight) {
      classic = ReadAll(path);
    } else {
      EXPECT_EQ(ReadAll(path), classic);
    }
  }
}

// A recording with sound has a second stream, "auds" of "01wb" chunks between the frames, in
// both layouts, that two decoders play back as the tone that went in, as long as the pictures;
// a copy taken while it was recording repairs to both streams.
TEST_F(AviWriterTest, SoundIsASecondStreamInEveryLayoutAndRepairKeepsIt) {
  ASSERT_TRUE(MediaProbe::Available());
  struct Case {
    SoundCodec Codec;
    int64_t RiffLimit;
    const char* Name;
  };
  const int kFrames = 30;
  const size_t kPerFrame = 4800;  // 10 frames a second
  for (const Case& c :
       {Case{SoundCodec::Pcm, AviWriter::kRiffLimit, "pcm_s16le"},
        Case{SoundCodec::Mp3, AviWriter::kRiffLimit, "mp3"},
        Case{SoundCodec::Pcm, 200000, "pcm_s16le"}, Case{SoundCodec::Mp3, 30000, "mp3"}}) {
    SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(c.RiffLimit));
    ASSERT_TRUE(compressor_.Select(MakeFourCC("MP42")));
    SoundEncoder encoder;
    ASSERT_TRUE(encoder.Open(c.Codec));
    AviWriter writer;
    writer.SetRiffLimit(c.RiffLimit);
    AviSettings settings = Settings(64, 48, 10);
    settings.HasAudio = true;
    settings.AudioFormat = encoder.Format();
    const QString path = Path(QStringLiteral("sound-%1-%2.avi").arg(c.Name).arg(c.RiffLimit));
    const QString cut = path + QStringLiteral(".cut.avi");
    ASSERT_TRUE(writer.Open(path, settings, compressor_));
    const auto add = [&writer](const uint8_t* data, uint32_t size) {
      return writer.AddSound(data, size);
    };
    std::vector<int16_t> tone(kPerFrame * 2);
    CompressedFrame frame;
    for (int i = 0; i < kFrames; ++i) {
      DrawFrame(compressor_.Bitmap(), i);
      frame.FrameNumber = uint32_t(i);
      ASSERT_TRUE(writer.AddFrame(frame));
      for (size_t k = 0; k < kPerFrame; ++k)
        tone[2 * k] = tone[2 * k + 1] =
            int16_t(8000 * std::sin(2 * M_PI * 1000 * double(size_t(i) * kPerFrame + k) / 48000));
      ASSERT_TRUE(encoder.Encode(tone.data(), kPerFrame, add));
      if (i == 2 * kFrames / 3) {
        ASSERT_TRUE(writer.Checkpoint(10));
        ASSERT_TRUE(QFile::copy(path, cut));
      }
    }
    ASSERT_TRUE(encoder.Flush(add));
    ASSERT_TRUE(writer.Close(10));
    if (c.RiffLimit < AviWriter::kRiffLimit) {
      EXPECT_GE(writer.Parts(), 2);
    }
    const QByteArray bytes = ReadAll(path);
    EXPECT_EQ(At32(bytes, 56), 2u);
    EXPECT_EQ(At32(bytes, 4352), MakeFourCC("auds"));
    EXPECT_NE(bytes.indexOf("01wb"), -1);

    struct Expect {
      QString File;
      double Seconds;
    };
    const RepairResult repaired = AviRepair::Repair(cut);
    EXPECT_EQ(repaired.Result, RepairResult::Outcome::Repaired) << repaired.Message.toStdString();
    for (const Expect& e : {Expect{path, 3.0}, Expect{cut, 2.1}}) {
      SCOPED_TRACE(e.File.toStdString());
      const test::ProbedStream sound = test::ProbeStream(e.File, QStringLiteral("audio"));
      EXPECT_EQ(sound.Streams, 2);
      EXPECT_EQ(sound.Codec, QString::fromLatin1(c.Name));
      const test::ProbedVideo video = MediaProbe::ProbeVideo(e.File);
      EXPECT_EQ(video.Frames, int64_t(std::lround(e.Seconds * 10)));
      for (const bool gstreamer : {false, true}) {
        QString errors;
        const std::vector<int16_t> samples = test::DecodeSound(e.File, gstreamer, &errors);
        ASSERT_FALSE(samples.empty()) << errors.toStdString();
        // MP3 adds its encoder's delay and the last frame's fill.
        EXPECT_NEAR(double(samples.size()) / 48000, e.Seconds, 0.1) << gstreamer;
        EXPECT_EQ(test::DominantFrequency(samples, 24000, 9600), 1000) << gstreamer;
        EXPECT_NEAR(test::Rms(samples, 24000, 48000), 8000 / std::sqrt(2.0), 300) << gstreamer;
      }
    }
  }
}

// With sound off, the file is the one of a writer that knows no sound, byte for byte.
TEST_F(AviWriterTest, WithoutSoundTheFileIsTheVideoOnlyFile) {
  ASSERT_TRUE(compressor_.Select(0));
  AviWriter writer(SpoolPath());
  const QString path = Record(writer, QStringLiteral("silent.avi"), 24, 10, 5, 15, 14.5L);
  // The digest of this recording as the writer wrote it before it could record sound.
  EXPECT_EQ(QCryptographicHash::hash(ReadAll(path), QCryptographicHash::Sha1).toHex(),
            QByteArray("35b5bb9ce526c1e1ae725691d81a7006b9cc8294"));
}

}  // namespace
}  // namespace qm
