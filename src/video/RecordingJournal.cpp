#include "video/RecordingJournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/files/Folder.h"

namespace qm {

namespace {

const char kMagic[] = "Quillmark recording";
constexpr qint64 kMaxNote = 16384;

// The notes' folder must be the user's own and private (not a link, nobody else may write
// in it): another user who could put notes there could have the recovery work on any file.
// A missing one is made so.
bool PrivateFolder(const QString& folder, bool make) {
  const QString path = QDir::cleanPath(folder);
  if (make && !QFileInfo::exists(path)) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) return false;
    QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  Folder checked;
  return checked.OpenPrivate(path);
}

}  // namespace

QString RecordingJournal::DefaultFolder() {
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (state.isEmpty() || !QDir::isAbsolutePath(state))
    state = QDir::homePath() + QStringLiteral("/.local/state");
  return state + QStringLiteral("/Quillmark/");
}

QString RecordingJournal::Begin(const QString& folder, const QString& file, const QString& spool) {
  if (!PrivateFolder(folder, true)) return QString();
  const QByteArray hash =
      QCryptographicHash::hash(file.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
  const QString path =
      QDir(folder).filePath(QString::fromLatin1(hash) + QStringLiteral(".recording"));
  QSaveFile note(path);
  if (!note.open(QIODevice::WriteOnly)) return QString();
  note.write(QByteArray(kMagic) + '\n' + file.toUtf8() + '\n' + spool.toUtf8() + '\n');
  return note.commit() ? path : QString();
}

void RecordingJournal::End(const QString& journal) {
  if (!journal.isEmpty()) QFile::remove(journal);
}

std::vector<RecordingJournal::Entry> RecordingJournal::Pending(const QString& folder) {
  std::vector<Entry> entries;
  if (!PrivateFolder(folder, false)) return entries;
  // Only regular files: a link, a FIFO or a device is no note of ours.
  const QFileInfoList notes = QDir(folder).entryInfoList(
      {QStringLiteral("*.recording")}, QDir::Files | QDir::NoSymLinks, QDir::Name);
  for (const QFileInfo& info : notes) {
    QFile note(info.filePath());
    bool good = info.size() <= kMaxNote && note.open(QIODevice::ReadOnly);
    Entry entry;
    if (good) {
      const QList<QByteArray> lines = note.read(kMaxNote).split('\n');
      good = lines.size() == 4 && lines[0] == kMagic && lines[3].isEmpty();
      if (good) {
        entry.File = QString::fromUtf8(lines[1]);
        entry.Spool = QString::fromUtf8(lines[2]);
        good = QDir::isAbsolutePath(entry.File) && QDir::isAbsolutePath(entry.Spool) &&
               entry.File.endsWith(QStringLiteral(".avi"), Qt::CaseInsensitive) &&
               !entry.File.contains(QChar(0)) && !entry.Spool.contains(QChar(0));
      }
    }
    if (!good) {
      QFile::remove(info.filePath());
      continue;
    }
    entry.Journal = info.filePath();
    entries.push_back(entry);
  }
  return entries;
}

QString RecordingJournal::Refusal(const QString& folder) {
  const QString path = QDir::cleanPath(folder);
  const QFileInfo info(path);
  if ((!info.exists() && !info.isSymLink()) || PrivateFolder(path, false)) return QString();
  // Owned by the user and closed to others it would have been taken: the owner says enough.
  QString why = QStringLiteral("belongs to ") + info.owner();
  if (info.isSymLink())
    why = QStringLiteral("is a link");
  else if (info.permissions() & (QFile::WriteGroup | QFile::WriteOther))
    why += QStringLiteral(" and others may write in it");
  return QStringLiteral(
             "Interrupted recordings can not be completed automatically: the folder %1, "
             "where Quillmark notes the recordings in progress, %2.")
      .arg(path, why);
}

std::vector<RecoveredRecording> RecoverInterrupted(const QString& folder) {
  std::vector<RecoveredRecording> recovered;
  for (const RecordingJournal::Entry& entry : RecordingJournal::Pending(folder)) {
    const RepairResult result = AviRepair::Repair(entry.File, entry.Spool);
    // A recording still held by a recorder keeps its note; any other outcome ends it.
    if (result.Result == RepairResult::Outcome::Refused && QFileInfo(entry.File).isFile() &&
        result.Message.endsWith(QStringLiteral(" is being recorded.")))
      continue;
    RecordingJournal::End(entry.Journal);
    if (result.Result == RepairResult::Outcome::Repaired) recovered.push_back({entry.File, result});
  }
  return recovered;
}

QString RecoveryMessage(const RecoveredRecording& recovered) {
  return QStringLiteral("The recording %1 was interrupted. It has been completed with %2 frames.")
      .arg(recovered.File)
      .arg(recovered.Repair.FramesKept);
}

}  // namespace qm
