#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace qm {

// One running Quillmark per user: a lock file named after the guard's name in the user's
// private runtime folder marks the first instance, and a local socket beside it lets a second
// instance wake the first.
//
// The mark is an advisory lock (flock) held on the file for the life of the process: the
// system drops it when the process ends however it ends, so whatever a lock file holds (an
// empty file left by a crash, another host's lines, anything) never keeps a start out; only a
// live instance does. User-interface thread only.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Claim {
    First,    // this is the first instance; it listens for wake-ups
    Running,  // another instance holds the lock
    Failed,   // the lock could not be taken or tested; Failure() says why
  };

  // $XDG_RUNTIME_DIR when it is the user's private folder, else $TMPDIR/quillmark-<uid>, made
  // private when missing. Empty when neither can be trusted (another user's folder, a link, a
  // folder open to others); problem then says why.
  static QString RuntimeFolder(QString* problem);

  explicit SingleInstance(const QString& folder, const QString& name = QStringLiteral("Glintcast"),
                          QObject* parent = nullptr);
  ~SingleInstance() override;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  Claim TryClaim();
  // What failed, for the user, after TryClaim answered Failed.
  const QString& Failure() const { return failure_; }
  // Asks the first instance to come forward; false when it could not be reached.
  bool WakeFirst();
  // "Glintcast is already running"
  QString RunningMessage() const;

 signals:
  void WakeRequested();

 private:
  Claim Fail(const QString& reason);

  QString name_;
  QString socketPath_;
  QString lockPath_;
  int lock_ = -1;  // the open lock file while it is held
  QString failure_;
  QLocalServer server_;
};

}  // namespace qm
