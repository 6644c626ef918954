#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/files/BinaryFile.h"
#include "support/TestFiles.h"

namespace qm {
namespace {

using test::ReadAll;

// Seeded runs of appends (copied and built in place), rewrites anywhere, cuts, flushes and
// tail hand-overs on a file with direct I/O and on an ordinary one: the files read the same
// after every step that brings the tail to the file, and at the end.
TEST(BinaryFileDirect, EveryOperationLeavesTheBytesOfAnOrdinaryFile) {
  QTemporaryDir dir(QDir::current().filePath(QStringLiteral("binary-XXXXXX")));
  ASSERT_TRUE(dir.isValid());
  const QString directPath = dir.filePath(QStringLiteral("direct"));
  const QString plainPath = dir.filePath(QStringLiteral("plain"));
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    const auto below = [&](size_t n) { return n ? size_t(random() % n) : 0; };
    BinaryFile direct, plain;
    ASSERT_TRUE(direct.CreateDirect(directPath, 3 * 4096 + below(20000)));
    ASSERT_TRUE(plain.Create(plainPath));
    if (!direct.IsDirect()) GTEST_SKIP() << "the build folder's file system takes no direct I/O";
    std::vector<uint8_t> bytes(40000);
    for (int step = 0; step < 80; ++step) {
      const size_t size = below(4) == 0 ? below(30000) : below(600);
      for (auto& b : bytes) b = uint8_t(random());
      const int64_t length = plain.Size();
      switch (below(6)) {
        case 0:
        case 1: {  // append, in place where the stage has room
          ASSERT_TRUE(direct.Seek(length) && plain.Seek(length));
          if (uint8_t* slot = direct.AppendSlot(0, size)) {
            std::memcpy(slot, bytes.data(), size);
            ASSERT_TRUE(direct.AppendInPlace(size));
          } else {
            ASSERT_TRUE(direct.Write(bytes.data(), size));
          }
          ASSERT_TRUE(plain.Write(bytes.data(), size));
          break;
        }
        case 2: {  // rewrite, maybe past the end
          const int64_t at = int64_t(below(size_t(length) + 1));
          ASSERT_TRUE(direct.WriteAt(at, bytes.data(), size));
          ASSERT_TRUE(plain.WriteAt(at, bytes.data(), size));
          break;
        }
        case 3: {  // cut
          const int64_t at = int64_t(below(size_t(length) + 1));
          ASSERT_TRUE(direct.Truncate(at) && plain.Truncate(at));
          break;
        }
        case 4:
          ASSERT_TRUE(direct.Flush());
          break;
        default:
          ASSERT_TRUE(direct.Flush() && direct.WriteTail());
          ASSERT_EQ(ReadAll(directPath), ReadAll(plainPath)) << "step " << step;
      }
      ASSERT_EQ(direct.Size(), plain.Size());
      const int64_t at = int64_t(below(size_t(plain.Size()) + 1));
      const size_t n = std::min<size_t>(size_t(plain.Size() - at), 5000);
      std::vector<uint8_t> fromDirect(n), fromPlain(n);
      ASSERT_TRUE(direct.ReadAt(at, fromDirect.data(), n) && plain.ReadAt(at, fromPlain.data(), n));
      ASSERT_EQ(fromDirect, fromPlain) << "step " << step;
    }
    ASSERT_TRUE(direct.Close() && plain.Close());
    ASSERT_EQ(ReadAll(directPath), ReadAll(plainPath));
  }
}

}  // namespace
}  // namespace qm
