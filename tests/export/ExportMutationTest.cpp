#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

#include "common/LittleEndian.h"
#include "export/ExportClips.h"
#include "export/ExportError.h"
#include "export/Exporter.h"
#include "support/TestFiles.h"

namespace qm {
namespace {

// Thousands of damaged recordings, each exported in-process (where ASan and UBSan watch every
// read): flipped bytes, wrong sizes and counts in the headers and chunks, cut tails. Each
// export ends either in a file or in ExportError, and leaves nothing else behind. The rounds
// come in shards of their own seed, so that each stays within a test's time under the
// sanitizers.
class ExportMutation : public ::testing::TestWithParam<int> {};

TEST_P(ExportMutation, DamagedRecordingsAreRefusedCleanly) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString h264 = dir.filePath(QStringLiteral("h264.avi"));
  const QString sound = dir.filePath(QStringLiteral("sound.avi"));
  ASSERT_TRUE(test::RecordColours(h264, QStringLiteral("H264"), {0xFFFFFF, 0x102030}, 0.5));
  ASSERT_TRUE(test::FfmpegClip(sound, QStringLiteral("testsrc2=s=96x64:r=10:d=1"),
                               {"-c:v", "msmpeg4v2", "-c:a", "libmp3lame", "-ac", "2"},
                               QStringLiteral("sine=f=440:d=1:sample_rate=48000")));
  const QByteArray seeds[] = {test::ReadAll(h264), test::ReadAll(sound)};
  QFile::remove(h264);
  QFile::remove(sound);
  const int rounds = qEnvironmentVariableIntValue("QM_MUTATIONS") > 0
                         ? qEnvironmentVariableIntValue("QM_MUTATIONS")
                         : 250;
  const char* kinds[] = {"gif", "mp4", "mkv", "gif", "mp4", "mkv"};
  std::mt19937 random(31u + uint32_t(GetParam()));
  const QString input = dir.filePath(QStringLiteral("in.avi"));
  int written = 0, refused = 0;
  for (int round = 0; round < rounds; ++round) {
    QByteArray bytes = seeds[round % 2];
    const auto at = [&](qsizetype limit) {
      return qsizetype(random() % uint32_t(std::min(limit, bytes.size())));
    };
    switch (random() % 4) {
      case 0:  // flipped bytes anywhere
        for (int n = int(random() % 16) + 1; n > 0; --n) bytes[at(bytes.size())] = char(random());
        break;
      case 1: {  // a size, count or code in the headers replaced
        static constexpr uint32_t kValues[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF, 0x10000, 8};
        const qsizetype where = at(8192) & ~qsizetype(3);
        const uint32_t value = random() % 2 ? kValues[random() % 6] : uint32_t(random());
        if (where + 4 <= bytes.size())
          PutLE32(reinterpret_cast<uint8_t*>(bytes.data()) + where, value);
        break;
      }
      case 2:  // a cut tail
        bytes.truncate(at(bytes.size()));
        break;
      default:  // damage near the end, where the index lies
        for (int n = int(random() % 8) + 1; n > 0; --n)
          bytes[bytes.size() - 1 - at(2048)] = char(random());
    }
    QFile file(input);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    ExportRequest request;
    request.Input = input;
    request.Output = dir.filePath(QStringLiteral("out.") + QLatin1String(kinds[round % 6]));
    request.Force = true;
    bool done = false;
    try {
      Exporter::Run(request, {});
      done = true;
      ++written;
    } catch (const ExportError&) {
      ++refused;
    }
    QStringList expected{QStringLiteral("in.avi")};
    if (done) expected << QFileInfo(request.Output).fileName();
    ASSERT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected)
        << round;
    QFile::remove(request.Output);
  }
  EXPECT_GT(written, rounds / 10);
  EXPECT_GT(refused, rounds / 10);
}

// 8 x 250: two thousand damaged recordings in all.
INSTANTIATE_TEST_SUITE_P(Shards, ExportMutation, ::testing::Range(0, 8));

}  // namespace
}  // namespace qm
