#pragma once

#include <QString>

#include <cstdint>

namespace qm {

// What a repair did.
struct RepairResult {
  enum class Outcome {
    Repaired,         // the interrupted recording is complete now
    AlreadyComplete,  // a complete recording of ours; nothing changed
    Refused,          // not an interrupted recording of ours, or in use; nothing changed
  };
  Outcome Result = Outcome::Refused;
  QString Message;          // one line for the user
  uint32_t FramesKept = 0;  // frames in the completed file
  int64_t BytesCut = 0;     // bytes of an unfinished last chunk (or index) cut away
};

// Completes a recording of AviWriter that never reached Close (a crash, a kill, a power loss):
// it cuts a partly written last chunk, rebuilds the index (key flags from the recording's spool
// when it survived and agrees with the file, else from the decoder), writes the final header
// values, and for an OpenDML file the last part's "ix00" and the super index. A file that is
// not an interrupted recording of ours, or that a recorder still holds, is left unchanged.
// Repairing a repaired file changes nothing. The file is outside input: nothing in it is
// trusted beyond what the checks below establish.
class AviRepair {
 public:
  // spoolPath: the recording's index spool; empty for those that stand beside the file
  // (AviSideFiles::SpoolsOf). Only a spool by the name the writer gives one of this file, and a
  // regular file of the user's own, is read and then removed.
  static RepairResult Repair(const QString& fileName, const QString& spoolPath = QString());
};

}  // namespace qm
