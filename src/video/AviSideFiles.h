#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace qm {

// The names of a recording's side files: the headers' file until it takes the recording's
// name, and the index spool. They stand beside the recording under hidden names that begin
// with a hash of its full name, which ties them to that file and keeps them short whatever its
// length; a random part follows, so that nobody can put anything at a side file's name
// beforehand. A name alone tells nothing about what stands there.
class AviSideFiles {
 public:
  // The canonical folder of fileName and the start of its side files' names there.
  struct Prefix {
    QString Folder;
    QByteArray Start;
  };
  static Prefix PrefixOf(const QString& fileName);

  // A new name for a spool of a recording of fileName.
  static QString SpoolPathFor(const QString& fileName);
  // spoolPath has the name of a spool of fileName (beside it, of its name).
  static bool IsSpoolOf(const QString& spoolPath, const QString& fileName);
  // The spools of fileName's recordings that stand beside it, by name.
  static QStringList SpoolsOf(const QString& fileName);
};

}  // namespace qm
