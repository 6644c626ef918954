#pragma once

#include <QString>

#include <vector>

#include "video/AviRepair.h"

namespace qm {

// The application's note of the recordings in progress, one small file each in its state
// folder, so that the next start can complete a recording that a crash interrupted before
// anything removes its spool. Written when a recording starts, removed when it is complete.
// The folder must be the user's own and private; any other holds no notes and gets none.
class RecordingJournal {
 public:
  struct Entry {
    QString File;     // the recording's file
    QString Spool;    // its index spool
    QString Journal;  // the note itself
  };

  // $XDG_STATE_HOME/Quillmark/ (~/.local/state/Quillmark/ when unset).
  static QString DefaultFolder();
  // Notes the recording of file with spool; returns the note's path, empty when it could not
  // be written (the recording goes on without it).
  static QString Begin(const QString& folder, const QString& file, const QString& spool);
  static void End(const QString& journal);
  // The notes found in folder; notes that cannot be read are removed and skipped.
  static std::vector<Entry> Pending(const QString& folder);
  // Why no note can be kept in folder (it is there but not the user's own and private), for the
  // user; empty when notes can be kept.
  static QString Refusal(const QString& folder = DefaultFolder());
};

// One recording completed at start.
struct RecoveredRecording {
  QString File;
  RepairResult Repair;
};

// Completes every recording the journal in folder names as interrupted and drops the notes
// of those that are done or gone. A spool is used, and removed, only when it is one of that
// recording's by name and a regular file of the user's own. Call it at start, before any recording
// begins. Returns the recordings it completed; RecoveryMessage tells the user about each.
std::vector<RecoveredRecording> RecoverInterrupted(
    const QString& folder = RecordingJournal::DefaultFolder());
QString RecoveryMessage(const RecoveredRecording& recovered);

}  // namespace qm
