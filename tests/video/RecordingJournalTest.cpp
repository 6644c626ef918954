#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

#include "support/RecordingMessages.h"
#include "video/AviCompress.h"
#include "video/AviWriter.h"
#include "video/MovieWriter.h"
#include "video/RecordingJournal.h"

namespace qm {
namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

AviSettings Small() {
  AviSettings settings;
  settings.FrameRate = 10;
  settings.Width = 16;
  settings.Height = 8;
  settings.FrameCountHint = 1000000;
  return settings;
}

// A recording the application never completed is completed at its next start, and the user
// learns which file and how many frames; complete, missing and live recordings are not touched.
TEST(RecordingJournal, TheNextStartCompletesAnInterruptedRecording) {
  QTemporaryDir dir;
  test::RecordingMessages messages;
  const QString journal = dir.filePath(QStringLiteral("state/Quillmark/"));
  const QString crashed = dir.filePath(QStringLiteral("crashed.avi"));
  const QString done = dir.filePath(QStringLiteral("done.avi"));
  const QString live = dir.filePath(QStringLiteral("live.avi"));

  // A crash: the recording's bytes as they were while it ran; its note stays.
  {
    MovieWriter writer;
    writer.KeepJournal(journal);
    ASSERT_TRUE(writer.Open(crashed, Small()));
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(writer.AddFrame());
    ASSERT_TRUE(writer.Checkpoint(10));
    const QByteArray bytes = ReadAll(crashed);
    const QString spool = writer.Writer().SpoolPath();
    const QByteArray spoolBytes = ReadAll(spool);
    ASSERT_EQ(RecordingJournal::Pending(journal).size(), 1u);
    ASSERT_TRUE(writer.Close(0));
    ASSERT_TRUE(RecordingJournal::Pending(journal).empty());
    for (const auto& [path, data] : {std::pair{crashed, bytes}, std::pair{spool, spoolBytes}}) {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
      file.write(data);
    }
    RecordingJournal::Begin(journal, crashed, spool);
  }
  // Complete, and then gone.
  {
    MovieWriter writer;
    writer.KeepJournal(journal);
    ASSERT_TRUE(writer.Open(done, Small()));
    ASSERT_TRUE(writer.Close(0));
    RecordingJournal::Begin(journal, done, AviWriter::SpoolPathFor(done));
    RecordingJournal::Begin(journal, dir.filePath(QStringLiteral("gone.avi")),
                            dir.filePath(QStringLiteral("gone.spool")));
  }
  const QByteArray completeBytes = ReadAll(done);
  MovieWriter running;
  running.KeepJournal(journal);
  ASSERT_TRUE(running.Open(live, Small()));
  ASSERT_TRUE(running.AddFrame());
  const QByteArray liveBytes = ReadAll(live);

  const std::vector<RecoveredRecording> recovered = RecoverInterrupted(journal);
  ASSERT_EQ(recovered.size(), 1u);
  EXPECT_EQ(recovered[0].File, crashed);
  EXPECT_EQ(recovered[0].Repair.FramesKept, 6u);
  EXPECT_EQ(RecoveryMessage(recovered[0]),
            QStringLiteral("The recording %1 was interrupted. It has been completed with 6 frames.")
                .arg(crashed));
  EXPECT_EQ(ReadAll(done), completeBytes);
  EXPECT_EQ(ReadAll(live), liveBytes);
  ASSERT_EQ(RecordingJournal::Pending(journal).size(), 1u);  // the live one's
  EXPECT_EQ(RecordingJournal::Pending(journal)[0].File, live);
  EXPECT_TRUE(RecoverInterrupted(journal).empty());
  ASSERT_TRUE(running.Close(0));
  EXPECT_TRUE(RecordingJournal::Pending(journal).empty());
}

// The notes are outside input too: damaged ones are dropped, never followed.
TEST(RecordingJournal, DamagedNotesAreDropped) {
  QTemporaryDir dir;
  const QString journal = dir.filePath(QStringLiteral("j"));
  const QString good = RecordingJournal::Begin(journal, dir.filePath("a.avi"), dir.filePath("s"));
  const QByteArray original = ReadAll(good);
  std::mt19937 random(7);
  for (int round = 0; round < 500; ++round) {
    QByteArray bytes = original;
    for (int k = 0; k < 1 + round % 4; ++k) {
      const qsizetype at = qsizetype(random() % uint32_t(bytes.size()));
      if (random() % 3 == 0)
        bytes.truncate(at);
      else
        bytes[at] = char(random());
      if (bytes.isEmpty()) break;
    }
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    const auto entries = RecordingJournal::Pending(journal);
    for (const auto& entry : entries) {
      EXPECT_TRUE(QDir::isAbsolutePath(entry.File));
      EXPECT_TRUE(entry.File.endsWith(QStringLiteral(".avi"), Qt::CaseInsensitive));
    }
    EXPECT_EQ(QFileInfo::exists(good), !entries.empty());
  }
}

}  // namespace
}  // namespace qm
