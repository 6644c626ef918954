#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <optional>
#include <random>
#include <vector>

#include "common/FourCC.h"
#include "common/LittleEndian.h"
#include "platform/audio/SoundEncoder.h"
#include "support/MediaProbe.h"
#include "support/RecordingMessages.h"
#include "support/TestFiles.h"
#include "video/AviCompress.h"
#include "video/AviLayout.h"
#include "video/AviRepair.h"
#include "video/AviSideFiles.h"
#include "video/AviWriter.h"

namespace qm {
namespace {

using test::AviFile;
using test::MediaProbe;
using Outcome = RepairResult::Outcome;

using test::ReadAll;

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

// Moving stripes: a picture that gives a compressor key and delta frames.
void DrawFrame(DIBBitmap& bitmap, int frame) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width() * 3; ++x)
      row[x] = uint8_t(((x / 3 + frame * 2) / 8 + y / 8) % 2 ? 0xE0 : 0x20 + frame);
  }
}

// What a recording leaves on disk after each frame: the file and its spool, as a kill at that
// moment would leave them, and the complete file at the end.
struct Recording {
  std::vector<QByteArray> Files;   // after frame i + 1
  std::vector<QByteArray> Spools;  // after frame i + 1
  std::vector<int> Parts;          // after frame i + 1
  QByteArray Complete;
};

constexpr int kFrames = 40;
constexpr long double kRate = 10;

class AviRepairTest : public ::testing::Test {
 protected:
  QString Path(const QString& name) const { return dir_.filePath(name); }

  // With repeats, frames 1 and 2 of every 4 repeat the one before (empty chunks).
  // With a sound codec, a second of a tone follows every frame.
  Recording Record(uint32_t code, int64_t riffLimit, bool repeats = false,
                   std::optional<SoundCodec> sound = std::nullopt) {
    Recording recording;
    EXPECT_TRUE(compressor_.Select(code));
    const QString spool = Path(QStringLiteral("rec.spool"));
    const QString path = Path(QStringLiteral("rec.avi"));
    AviWriter writer(spool);
    if (riffLimit) writer.SetRiffLimit(riffLimit);
    AviSettings settings;
    settings.FrameRate = 12;  // requested; the checkpoints tell the rate achieved
    settings.Width = 64;
    settings.Height = 48;
    settings.FrameCountHint = 1000000;
    SoundEncoder encoder;
    if (sound) {
      EXPECT_TRUE(encoder.Open(*sound));
      settings.HasAudio = true;
      settings.AudioFormat = encoder.Format();
    }
    std::vector<int16_t> tone(9600);
    for (size_t k = 0; k < tone.size(); ++k) tone[k] = int16_t(k % 48 * 300);
    EXPECT_TRUE(writer.Open(path, settings, compressor_));
    CompressedFrame frame;
    for (int i = 0; i < kFrames; ++i) {
      if (sound) {
        EXPECT_TRUE(encoder.Encode(tone.data(), tone.size() / 2, [&](const uint8_t* d, uint32_t n) {
          return writer.AddSound(d, n);
        }));
      }
      DrawFrame(compressor_.Bitmap(), i);
      frame.FrameNumber = uint32_t(i);
      if (repeats && (i % 4 == 1 || i % 4 == 2)) {
        EXPECT_TRUE(writer.AddEmptyFrame(frame));
      } else {
        EXPECT_TRUE(writer.AddFrame(frame));
      }
      if (i == 0 || i % 10 == 9) {
        EXPECT_TRUE(writer.Checkpoint(i == 0 ? 0 : kRate));
      }
      recording.Files.push_back(ReadAll(path));
      recording.Spools.push_back(ReadAll(spool));
      recording.Parts.push_back(writer.Parts());
    }
    EXPECT_TRUE(writer.Close(kRate));
    recording.Complete = ReadAll(path);
    QFile::remove(path);
    return recording;
  }

  QTemporaryDir dir_;
  test::RecordingMessages messages_;
  AviCompress compressor_;
};

// Killed at any moment, a recording reads with a duration; the repair keeps every complete
// frame with the decoder's key flags and the rate achieved, and a second repair changes nothing.
TEST_F(AviRepairTest, AnInterruptedRecordingIsCompletedWithEveryWholeFrame) {
  ASSERT_TRUE(MediaProbe::Available());
  enum class Cut { BetweenFrames, InsideAFrame, InsideTheIndex, AtTheNextPart };
  struct Case {
    const char* Name;
    uint32_t Code;
    int64_t RiffLimit;  // 0: the default
    int After;          // frames written when the kill came
    Cut Where;
    bool Spool;  // the spool survived
    int Kept;
  };
  const uint32_t mp42 = MakeFourCC("MP42"), h264 = MakeFourCC("H264");
  // clang-format off
  const std::vector<Case> cases = {
      {"dib between frames",         0,    0,     23, Cut::BetweenFrames, true,  23},
      {"dib inside a frame",         0,    0,     23, Cut::InsideAFrame,  true,  23},
      {"dib inside the index",       0,    0,     40, Cut::InsideTheIndex, true, 40},
      {"dib no spool",               0,    0,     17, Cut::InsideAFrame,  false, 17},
      {"mp42 inside a frame",        mp42, 0,     31, Cut::InsideAFrame,  true,  31},
      {"mp42 no spool",              mp42, 0,     31, Cut::BetweenFrames, false, 31},
      {"h264 inside the index",      h264, 0,     40, Cut::InsideTheIndex, true, 40},
      {"h264 no spool",              h264, 0,     26, Cut::InsideAFrame,  false, 26},
      {"dib odml last part",         0,    50000, 33, Cut::InsideAFrame,  true,  33},
      {"mp42 odml no spool",         mp42, 9000,  37, Cut::InsideAFrame,  false, 37},
      {"dib odml at the next part",  0,    50000, 0,  Cut::AtTheNextPart, true,  0},
  };
  // clang-format on
  uint32_t recorded = ~0u;
  int64_t recordedLimit = -1;
  Recording recording;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Code != recorded || c.RiffLimit != recordedLimit) {
      recording = Record(c.Code, c.RiffLimit);
      recorded = c.Code;
      recordedLimit = c.RiffLimit;
    }
    int after = c.After;
    int kept = c.Kept;
    QByteArray file = recording.Files[size_t(after - (after > 0))];
    if (c.Where == Cut::AtTheNextPart) {
      // Killed after the first part was finished, before the next part's head was written.
      const auto next = std::find(recording.Parts.begin(), recording.Parts.end(), 2);
      ASSERT_NE(next, recording.Parts.end());
      after = int(next - recording.Parts.begin()) + 1;
      kept = after - 1;
      file = recording.Files[size_t(after - 1)];
      // The second part starts where the first one ends.
      file.truncate(qsizetype(GetLE32(reinterpret_cast<const uint8_t*>(file.constData()) + 4)) + 8);
    } else if (c.Where == Cut::InsideAFrame) {
      // Part of the next frame's chunk.
      const QByteArray& longer = recording.Files[size_t(after)];
      file = longer.left(file.size() + (longer.size() - file.size()) / 2);
    } else if (c.Where == Cut::InsideTheIndex) {
      file = recording.Complete.left(file.size() + 8 + 16 * 5);
    }
    const QString path = Path(QStringLiteral("cut.avi"));
    const QString spool = AviSideFiles::SpoolPathFor(path);
    WriteAll(path, file);
    QFile::remove(spool);
    if (c.Spool) WriteAll(spool, recording.Spools[size_t(after - 1)]);

    const test::ProbedVideo before = MediaProbe::ProbeVideo(path);
    EXPECT_GT(before.Duration, 0) << before.Error.toStdString();

    const RepairResult result = AviRepair::Repair(path, spool);
    ASSERT_EQ(result.Result, Outcome::Repaired) << result.Message.toStdString();
    EXPECT_EQ(result.FramesKept, uint32_t(kept));
    EXPECT_FALSE(QFileInfo::exists(spool));
    const QByteArray repaired = ReadAll(path);
    if (c.Where == Cut::InsideTheIndex) {
      EXPECT_EQ(repaired, recording.Complete);
    }

    const test::ProbedVideo video = MediaProbe::ProbeVideo(path);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.Frames, kept);
    const std::vector<bool> indexed = MediaProbe::PacketKeyFlags(path);
    const std::vector<test::ProbedFrame> decoded = MediaProbe::DecodedFrames(path);
    ASSERT_EQ(indexed.size(), size_t(kept));
    ASSERT_EQ(decoded.size(), size_t(kept));
    for (size_t i = 0; i < indexed.size(); ++i) EXPECT_EQ(indexed[i], decoded[i].KeyFrame) << i;
    const AviFile avi = MediaProbe::ReadAvi(path);
    ASSERT_TRUE(avi.Valid) << avi.Error.toStdString();
    if (kept >= 10) {
      EXPECT_NEAR(avi.Rate() / double(avi.Scale()), double(kRate), 0.02 * double(kRate));
    }
    EXPECT_EQ(avi.Length(), uint32_t(kept));

    const RepairResult again = AviRepair::Repair(path, spool);
    EXPECT_EQ(again.Result, Outcome::AlreadyComplete) << again.Message.toStdString();
    EXPECT_EQ(ReadAll(path), repaired);
  }
}

// Empty chunks (frames that repeat the one before) come through the repair as they were
// written: size 0, index flags 0, the whole frames around them with their key flags, with the
// spool and without it.
TEST_F(AviRepairTest, EmptyChunksSurviveTheRepair) {
  constexpr int kKept = 30;
  for (const uint32_t code : {0u, MakeFourCC("MP42")}) {
    const Recording recording = Record(code, 0, true);
    WriteAll(Path(QStringLiteral("complete.avi")), recording.Complete);
    const AviFile whole = MediaProbe::ReadAvi(Path(QStringLiteral("complete.avi")));
    ASSERT_EQ(whole.Index.size(), size_t(kFrames));
    for (const bool spool : {true, false}) {
      SCOPED_TRACE(testing::Message() << code << (spool ? " with spool" : " without spool"));
      const QString path = Path(QStringLiteral("cut.avi"));
      const QString spoolPath = AviSideFiles::SpoolPathFor(path);
      WriteAll(path, recording.Files[kKept - 1]);
      QFile::remove(spoolPath);
      if (spool) WriteAll(spoolPath, recording.Spools[kKept - 1]);
      const RepairResult result = AviRepair::Repair(path, spoolPath);
      ASSERT_EQ(result.Result, Outcome::Repaired) << result.Message.toStdString();
      EXPECT_EQ(result.FramesKept, uint32_t(kKept));
      const AviFile avi = MediaProbe::ReadAvi(path);
      ASSERT_EQ(avi.Index.size(), size_t(kKept));
      int wholeFrames = 0;
      for (size_t i = 0; i < avi.Index.size(); ++i) {
        const bool repeat = i % 4 == 1 || i % 4 == 2;
        EXPECT_EQ(avi.Index[i].Length == 0, repeat) << i;
        EXPECT_EQ(avi.Index[i].Flags, whole.Index[i].Flags) << i;
        EXPECT_EQ(avi.Index[i].Offset, whole.Index[i].Offset) << i;
        wholeFrames += repeat ? 0 : 1;
      }
      const test::ProbedVideo video = MediaProbe::ProbeVideo(path);
      ASSERT_TRUE(video.Valid) << video.Error.toStdString();
      EXPECT_EQ(video.Packets, wholeFrames);
    }
  }
}

// A finished OpenDML recording cut short afterwards is no complete file: the repair completes
// it with the frames that are still whole.
TEST_F(AviRepairTest, AFinishedOpenDmlFileCutShortIsRepaired) {
  const Recording recording = Record(0, 50000);
  ASSERT_GE(recording.Parts.back(), 3);
  const QString path = Path(QStringLiteral("cut.avi"));
  const qsizetype whole = recording.Complete.size();
  // Cuts in the last part, in its index, in a middle part and in the first part.
  for (const qsizetype cut : {whole * 7 / 10, whole - 1, whole - 40, whole / 3, qsizetype(24700)}) {
    SCOPED_TRACE(cut);
    WriteAll(path, recording.Complete.left(cut));
    const RepairResult result = AviRepair::Repair(path);
    ASSERT_EQ(result.Result, Outcome::Repaired) << result.Message.toStdString();
    const test::ProbedVideo video = MediaProbe::ProbeVideo(path);
    ASSERT_TRUE(video.Valid) << video.Error.toStdString();
    EXPECT_EQ(video.Frames, int64_t(result.FramesKept));
    EXPECT_EQ(AviRepair::Repair(path).Result, Outcome::AlreadyComplete);
  }
}

// A spool is read and removed only when it is one of the recording's by name and a regular
// file of the user's own: anything else at such a name, or named otherwise, stays untouched.
TEST_F(AviRepairTest, OnlyTheRecordingsOwnSpoolIsUsedAndRemoved) {
  const Recording recording = Record(MakeFourCC("MP42"), 0);
  const QString path = Path(QStringLiteral("planted.avi"));
  const QString victim = Path(QStringLiteral("victim"));
  enum class Kind { Ours, Link, Fifo, OtherName, OthersFile };
  for (const Kind kind : {Kind::Ours, Kind::Link, Kind::Fifo, Kind::OtherName, Kind::OthersFile}) {
    SCOPED_TRACE(int(kind));
    WriteAll(path, recording.Files[20]);
    WriteAll(victim, recording.Spools[20]);
    QString spool = AviSideFiles::SpoolPathFor(path);
    switch (kind) {
      case Kind::Ours:
        WriteAll(spool, recording.Spools[20]);
        break;
      case Kind::Link:
        ASSERT_TRUE(QFile::link(victim, spool));
        break;
      case Kind::Fifo:
        ASSERT_EQ(::mkfifo(QFile::encodeName(spool).constData(), 0600), 0);
        break;
      case Kind::OtherName:
        spool = victim;
        break;
      case Kind::OthersFile:
        WriteAll(spool, recording.Spools[20]);
        if (::geteuid() != 0) continue;
        ASSERT_EQ(::chown(QFile::encodeName(spool).constData(), 65534, 65534), 0);
        break;
    }
    const RepairResult result = AviRepair::Repair(path, spool);
    ASSERT_EQ(result.Result, Outcome::Repaired) << result.Message.toStdString();
    EXPECT_EQ(result.FramesKept, 21u);
    EXPECT_EQ(ReadAll(victim), recording.Spools[20]);
    EXPECT_EQ(QFileInfo(spool).exists() || QFileInfo(spool).isSymLink(), kind != Kind::Ours);
    QFile::remove(spool);
  }
}

// What is not an interrupted recording of ours, or is still being recorded, stays as it is.
TEST_F(AviRepairTest, ForeignOrBusyFilesAreRefusedUnchanged) {
  const Recording recording = Record(0, 0);
  const QString path = Path(QStringLiteral("other.avi"));
  QByteArray foreign = recording.Files[5];
  foreign[20] = 'x';  // another list where "hdrl" belongs
  for (const QByteArray& bytes : {QByteArray(), QByteArray("RIFF"), foreign}) {
    WriteAll(path, bytes);
    EXPECT_EQ(AviRepair::Repair(path).Result, Outcome::Refused);
    EXPECT_EQ(ReadAll(path), bytes);
  }
  EXPECT_EQ(AviRepair::Repair(Path(QStringLiteral("missing.avi"))).Result, Outcome::Refused);

  ASSERT_TRUE(compressor_.Select(0));
  AviWriter writer;
  const QString live = Path(QStringLiteral("live.avi"));
  AviSettings settings;
  settings.FrameRate = 10;
  settings.Width = 8;
  settings.Height = 8;
  ASSERT_TRUE(writer.Open(live, settings, compressor_));
  CompressedFrame frame;
  ASSERT_TRUE(writer.AddFrame(frame));
  const QByteArray before = ReadAll(live);
  const RepairResult busy = AviRepair::Repair(live);
  EXPECT_EQ(busy.Result, Outcome::Refused);
  EXPECT_TRUE(busy.Message.contains(QStringLiteral("being recorded")));
  EXPECT_EQ(ReadAll(live), before);
  ASSERT_TRUE(writer.Close(0));
}

// A sound format the recorder never writes is refused, and the file left as it was: its lengths
// would come out wrong.
TEST_F(AviRepairTest, SoundFormatsTheRecorderNeverWritesAreRefused) {
  struct Case {
    SoundCodec Codec;
    int Field;  // the offset in the WAVEFORMATEX
    uint32_t Value;
    int Bytes;
  };
  const Recording pcm = Record(MakeFourCC("MP42"), 0, false, SoundCodec::Pcm);
  const Recording mp3 = Record(MakeFourCC("MP42"), 0, false, SoundCodec::Mp3);
  const QString path = Path(QStringLiteral("sound.avi"));
  for (const Case& c : {Case{SoundCodec::Pcm, 4, 0, 4}, Case{SoundCodec::Pcm, 12, 3, 2},
                        Case{SoundCodec::Pcm, 12, 65535, 2}, Case{SoundCodec::Pcm, 2, 7, 2},
                        Case{SoundCodec::Pcm, 14, 8, 2}, Case{SoundCodec::Pcm, 8, 1, 4},
                        Case{SoundCodec::Mp3, 4, 0, 4}, Case{SoundCodec::Mp3, 12, 3, 2},
                        Case{SoundCodec::Mp3, 0, 0x99, 2}}) {
    SCOPED_TRACE(testing::Message() << int(c.Codec) << " field " << c.Field << " = " << c.Value);
    QByteArray bytes = (c.Codec == SoundCodec::Pcm ? pcm : mp3).Files[27];
    auto* format = reinterpret_cast<uint8_t*>(bytes.data()) +
                   AviLayout(c.Codec == SoundCodec::Pcm ? 18 : 30).SoundFormat() + c.Field;
    c.Bytes == 4 ? PutLE32(format, c.Value) : PutLE16(format, c.Value);
    WriteAll(path, bytes);
    EXPECT_EQ(AviRepair::Repair(path).Result, Outcome::Refused);
    EXPECT_EQ(ReadAll(path), bytes);
  }
}

// The repair reads outside input: thousands of damaged files, each refused unchanged or
// completed into a file that a second repair leaves as it is; none may crash (ASan, UBSan).
TEST_F(AviRepairTest, DamagedFilesAreRefusedOrCompletedNeverWorse) {
  std::vector<std::pair<QByteArray, QByteArray>> bases;  // file, spool
  for (const auto& [code, limit] :
       {std::pair<uint32_t, int64_t>{0, 0}, {MakeFourCC("MP42"), 0}, {0, 40000}}) {
    const Recording recording = Record(code, limit);
    bases.push_back({recording.Files[27], recording.Spools[27]});
    bases.push_back({recording.Complete, QByteArray()});
  }
  // Recordings with sound, in both layouts.
  for (const auto& [codec, limit] :
       {std::pair<SoundCodec, int64_t>{SoundCodec::Pcm, 0}, {SoundCodec::Mp3, 40000}}) {
    const Recording recording = Record(MakeFourCC("MP42"), limit, false, codec);
    bases.push_back({recording.Files[27], recording.Spools[27]});
    bases.push_back({recording.Complete, QByteArray()});
  }
  const QString path = Path(QStringLiteral("mutant.avi"));
  const QString spool = AviSideFiles::SpoolPathFor(path);
  std::mt19937 random(20261207);
  const auto pick = [&](int64_t n) {
    return int64_t(random() % uint64_t(std::max<int64_t>(n, 1)));
  };
  int refused = 0, repaired = 0, complete = 0;
  for (int round = 0; round < 3000; ++round) {
    const auto& [base, baseSpool] = bases[size_t(round) % bases.size()];
    QByteArray bytes = base;
    QByteArray spoolBytes = baseSpool;
    const int mutations = 1 + int(pick(3));
    for (int m = 0; m < mutations; ++m) {
      switch (pick(6)) {
        case 0:  // a few bytes anywhere
          for (int64_t k = 0, n = 1 + pick(8); k < n; ++k)
            bytes[qsizetype(pick(bytes.size()))] = char(random());
          break;
        case 1:  // a byte of the header region
          bytes[qsizetype(pick(std::min<qsizetype>(bytes.size(), 10400)))] = char(random());
          break;
        case 2: {  // a 32-bit field, often a size or an offset, gets a telling value
          const uint32_t values[] = {
              0, 1, 0x7FFFFFFF, 0xFFFFFFFF, uint32_t(bytes.size()), uint32_t(random())};
          // Half of them in the header region, where the super index lies.
          const qsizetype at =
              qsizetype(pick(
                  (random() % 2 ? std::min<qsizetype>(bytes.size(), 10400) : bytes.size()) / 4)) *
              4;
          if (at + 4 <= bytes.size())
            PutLE32(reinterpret_cast<uint8_t*>(bytes.data()) + at, values[pick(6)]);
          break;
        }
        case 3:
          bytes.truncate(qsizetype(pick(bytes.size() + 1)));
          break;
        case 4:
          bytes.insert(qsizetype(pick(bytes.size() + 1)),
                       QByteArray(int(1 + pick(40)), char(random())));
          break;
        default:
          if (!spoolBytes.isEmpty())
            spoolBytes[qsizetype(pick(spoolBytes.size()))] = char(random());
          break;
      }
    }
    WriteAll(path, bytes);
    QFile::remove(spool);
    if (!spoolBytes.isEmpty()) WriteAll(spool, spoolBytes);
    const RepairResult result = AviRepair::Repair(path, spool);
    const QByteArray after = ReadAll(path);
    if (result.Result == Outcome::Repaired) {
      ++repaired;
      const RepairResult again = AviRepair::Repair(path, spool);
      ASSERT_EQ(again.Result, Outcome::AlreadyComplete) << "round " << round;
      ASSERT_EQ(ReadAll(path), after) << "round " << round;
      const AviFile avi = MediaProbe::ReadAvi(path);
      ASSERT_TRUE(avi.Valid) << "round " << round << ": " << avi.Error.toStdString();
    } else {
      ++(result.Result == Outcome::Refused ? refused : complete);
      ASSERT_EQ(after, bytes) << "round " << round << ": " << result.Message.toStdString();
    }
  }
  // The mutations reach every outcome.
  EXPECT_GT(refused, 100);
  EXPECT_GT(repaired, 100);
  EXPECT_GT(complete, 10);
}

}  // namespace
}  // namespace qm
