#pragma once

#include <QByteArray>
#include <QString>

namespace qm {

class BinaryFile;

// The file a name the user gave stands for, when something is written there: the name itself,
// or, where a link stands at the name, the file the link names. A link at the name is followed
// only when it is the user's own and does not lie in a sticky folder that everybody may write to
// (/tmp): any other link may have been planted by another user to make the program replace one of
// the user's files. A link on the way to the name (a folder's) in such a folder is followed only
// when the user or the folder's owner owns it, whatever the kernel's own guard is set to.
struct OutputName {
  QString Path;     // the real name to write (no link on the way), or empty with a Refusal
  QString Refusal;  // why nothing may be written there; empty when it may
};
OutputName ResolveOutputName(const QString& path);

// Opens the existing file behind path (ResolveOutputName) for reading, without waiting: only a
// regular file is taken. False with problem empty when nothing is there; false with the reason
// in problem when something else is (a planted link, a FIFO, a device, a folder).
bool OpenOutputRead(const QString& path, BinaryFile& file, QString& problem);

// Makes bytes the whole contents of the file behind path (ResolveOutputName), all or nothing: a
// new file is written beside it and renamed over it once complete. Only a regular file is
// replaced, keeping its permissions; a new one gets mode (less the umask). Empty when done, else
// the reason, naming path.
QString ReplaceOutput(const QString& path, const QByteArray& bytes, unsigned mode = 0644);

}  // namespace qm
