#pragma once

#include <QByteArray>
#include <QString>

namespace qm {

class BinaryFile;

// An open folder in which files are made, renamed and removed by name through the folder's
// own descriptor: the names follow the folder wherever it is moved meanwhile, and nothing
// that another user plants at a name is ever written through or removed. One thread at a time.
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Opens the folder at path (links on the way are followed).
  bool Open(const QString& path);
  // Opens the folder at path only when it is the process's user's own, not a link, and
  // nobody else may write in it; one that others may only read or enter is made private
  // (0700). False for anything else.
  bool OpenPrivate(const QString& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Makes a new file named prefix + 12 random hexadecimal digits + suffix, exclusively and
  // never through a link, with the given permissions; file receives it. Returns the name, or
  // an empty one (errno tells why).
  QByteArray CreateUnique(const QByteArray& prefix, const QByteArray& suffix, BinaryFile& file,
                          unsigned mode);
  // Opens name for reading when it is a regular file (not a link), without waiting.
  bool OpenRead(const QByteArray& name, BinaryFile& file) const;
  // name in this folder is file itself.
  bool Holds(const QByteArray& name, const BinaryFile& file) const;
  // Something (a link included) stands at name.
  bool Has(const QByteArray& name) const;

  enum class Renamed { Done, Taken, Failed };
  // Gives file, which from names, the name to. With replaced, to must still name that very
  // file, which then goes; without, a to that exists meanwhile is left alone (Taken).
  Renamed Rename(const QByteArray& from, const QByteArray& to, const BinaryFile& file,
                 const BinaryFile* replaced);
  // Removes name only when it still names file.
  bool RemoveIfHolds(const QByteArray& name, const BinaryFile& file);

 private:
  int fd_ = -1;
};

}  // namespace qm
