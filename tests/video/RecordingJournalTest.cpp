#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

#include <sys/stat.h>
#include <unistd.h>

#include "support/RecordingMessages.h"
#include "support/SideFiles.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"
#include "video/AviCompress.h"
#include "video/AviSideFiles.h"
#include "video/AviWriter.h"
#include "video/MovieWriter.h"
#include "video/RecordingJournal.h"

namespace qm {
namespace {

using test::ReadAll;

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
    RecordingJournal::Begin(journal, done, AviSideFiles::SpoolPathFor(done));
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

// Notes in a folder that is not the user's own and private are neither written nor followed:
// a shared folder, another user's, a link to a private one. Another user plants notes there.
TEST(RecordingJournal, OnlyAPrivateFolderOfTheUsersOwnHoldsNotes) {
  QTemporaryDir dir;
  // The other user must reach the folders inside.
  ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
  test::RecordingMessages messages;
  const QString victim = dir.filePath(QStringLiteral("victim.avi"));
  {
    MovieWriter writer;
    ASSERT_TRUE(writer.Open(victim, Small()));
    ASSERT_TRUE(writer.AddFrame());
    ASSERT_TRUE(writer.Checkpoint(10));
    // Left as a crash leaves it: the header's values as the checkpoint wrote them.
    const QByteArray bytes = ReadAll(victim);
    ASSERT_TRUE(writer.Close(0));
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
  }
  const QByteArray before = ReadAll(victim);
  enum class Kind { Shared, Others, Link };
  for (const Kind kind : {Kind::Shared, Kind::Others, Kind::Link}) {
    SCOPED_TRACE(int(kind));
    const QString folder = dir.filePath(QStringLiteral("state%1").arg(int(kind)));
    const QString privateOne = folder + QStringLiteral("-private");
    ASSERT_TRUE(QDir().mkpath(kind == Kind::Link ? privateOne : folder));
    if (kind == Kind::Link) {
      ASSERT_TRUE(QFile::setPermissions(privateOne,
                                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
      ASSERT_TRUE(QFile::link(privateOne, folder));
    } else {
      ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), kind == Kind::Shared ? 0777 : 0700),
                0);
    }
    if (kind == Kind::Others && ::chown(QFile::encodeName(folder).constData(), 65534, 65534) != 0)
      continue;  // only root can give a folder away
    // The note as another user writes it, where that user may write.
    const QString note = folder + QStringLiteral("/planted.recording");
    const QByteArray text = "Quillmark recording\n" + victim.toUtf8() + "\n" +
                            AviSideFiles::SpoolPathFor(victim).toUtf8() + "\n";
    const QStringList asNobody{"--reuid=65534",
                               "--regid=65534",
                               "--clear-groups",
                               "sh",
                               "-c",
                               "printf '%s' \"$1\" > \"$2\"",
                               "sh",
                               QString::fromUtf8(text),
                               note};
    if (::geteuid() == 0 && kind != Kind::Link) {
      ASSERT_EQ(test::RunProcess(QStringLiteral("setpriv"), asNobody).ExitCode, 0);
    } else {
      QFile file(note);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(text);
    }
    EXPECT_TRUE(
        RecordingJournal::Begin(folder, victim, AviSideFiles::SpoolPathFor(victim)).isEmpty());
    EXPECT_TRUE(RecordingJournal::Pending(folder).empty());
    EXPECT_TRUE(RecoverInterrupted(folder).empty());
    EXPECT_EQ(ReadAll(victim), before);
    EXPECT_TRUE(QFileInfo::exists(note));
    // The user learns that, and why.
    const QString refusal = RecordingJournal::Refusal(folder);
    EXPECT_TRUE(refusal.startsWith(
        "Interrupted recordings can not be completed automatically: the folder " + folder + ","))
        << refusal.toStdString();
    const char* why[] = {"and others may write in it.", "belongs to nobody.", "is a link."};
    EXPECT_TRUE(refusal.endsWith(QLatin1String(why[int(kind)]))) << refusal.toStdString();
  }
  EXPECT_EQ(RecordingJournal::Refusal(dir.filePath(QStringLiteral("state2-private"))), QString());
}

// The notes are outside input: thousands of notes naming whatever a damaged or planted note
// may name (other files, links, FIFOs, spools of other recordings) complete only the
// recordings they name and remove nothing but a recording's own spool.
TEST(RecordingJournal, PlantedNotesRemoveNothingButTheirRecordingsSpools) {
  QTemporaryDir dir;
  test::RecordingMessages messages;
  const QString journal = dir.filePath(QStringLiteral("journal"));
  const QString victim = dir.filePath(QStringLiteral("victim"));
  const QString fifo = dir.filePath(QStringLiteral("fifo.avi"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  QByteArray crashed;
  {
    MovieWriter writer;
    const QString file = dir.filePath(QStringLiteral("base.avi"));
    ASSERT_TRUE(writer.Open(file, Small()));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(writer.AddFrame());
    ASSERT_TRUE(writer.Checkpoint(10));
    crashed = ReadAll(file);
    ASSERT_TRUE(writer.Close(0));
  }
  const auto write = [](const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
  };
  std::mt19937 random(22);
  const auto pick = [&](int n) { return int(random() % uint32_t(n)); };
  int repaired = 0;
  for (int round = 0; round < 1500; ++round) {
    const QString file = dir.filePath(QStringLiteral("r%1.avi").arg(round % 7));
    ASSERT_TRUE(write(file, crashed));
    ASSERT_TRUE(write(victim, "precious"));
    const QString ownSpool = AviSideFiles::SpoolPathFor(file);
    QString spool;
    switch (pick(6)) {
      case 0:  // its own spool
        spool = ownSpool;
        ASSERT_TRUE(write(spool, QByteArray(48, '\0')));
        break;
      case 1:  // a link at a spool's name
        spool = ownSpool;
        ASSERT_TRUE(QFile::link(victim, spool));
        break;
      case 2:  // another file
        spool = victim;
        break;
      case 3:  // a FIFO
        spool = fifo;
        break;
      case 4:  // the spool of another recording
        spool = AviSideFiles::SpoolPathFor(dir.filePath(QStringLiteral("other.avi")));
        ASSERT_TRUE(write(spool, QByteArray(48, '\0')));
        break;
      default:  // the folder's way up and back
        spool = dir.filePath(QStringLiteral("journal/../") + QFileInfo(ownSpool).fileName());
        ASSERT_TRUE(write(ownSpool, QByteArray(48, '\0')));
        break;
    }
    QByteArray note = "Quillmark recording\n" +
                      (pick(5) == 0   ? fifo
                       : pick(5) == 0 ? victim
                                      : file)
                          .toUtf8() +
                      "\n" + spool.toUtf8() + "\n";
    for (int k = pick(3); k > 0; --k) note[qsizetype(pick(int(note.size())))] = char(random());
    const QString notePath = RecordingJournal::Begin(journal, file, ownSpool);
    ASSERT_FALSE(notePath.isEmpty());
    ASSERT_TRUE(write(notePath, note));
    repaired += int(RecoverInterrupted(journal).size());
    EXPECT_EQ(ReadAll(victim), "precious") << round;
    EXPECT_TRUE(QFileInfo(fifo).exists()) << round;
    EXPECT_TRUE(RecordingJournal::Pending(journal).empty()) << round;
    for (const QString& left : test::SideFiles(dir.path())) QFile::remove(dir.filePath(left));
  }
  EXPECT_GT(repaired, 300);
}

}  // namespace
}  // namespace qm
