#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/files/BinaryFile.h"
#include "platform/files/FileSyncer.h"

namespace qm {
namespace {

// Noted data reaches the disk on the syncer's own thread once it is old enough; the writer
// never waits for it.
TEST(FileSyncer, NotedDataIsSyncedInTheBackground) {
  QTemporaryDir dir;
  BinaryFile file;
  ASSERT_TRUE(file.Create(dir.filePath(QStringLiteral("data"))));
  const std::string bytes(100000, 'x');
  ASSERT_TRUE(file.Write(bytes.data(), bytes.size()));
  FileSyncer syncer(file.Descriptor(), 0);
  EXPECT_EQ(syncer.Synced(), 0);
  syncer.Note(file.Position());
  // Waits for the background thread; no figure of time is asserted.
  for (int i = 0; i < 600 && syncer.Synced() < file.Position(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(syncer.Synced(), file.Position());
}

}  // namespace
}  // namespace qm
