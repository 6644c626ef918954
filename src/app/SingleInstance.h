#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

namespace qm {

// One running Quillmark per user: a lock file named after the guard's name in the user's
// runtime folder marks the first instance (a lock left by a killed instance is taken over
// at once), and a local socket beside it lets a second instance wake the first.
// User-interface thread only.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // $XDG_RUNTIME_DIR, else a private folder below the temporary one.
  static QString RuntimeFolder();

  explicit SingleInstance(const QString& name = QStringLiteral("Glintcast"),
                          const QString& folder = RuntimeFolder(), QObject* parent = nullptr);

  // True when this is the first instance; it then listens for wake-ups.
  bool Claim();
  // Asks the first instance to come forward; false when it could not be reached.
  bool WakeFirst();
  // "Glintcast is already running"
  QString RunningMessage() const;

 signals:
  void WakeRequested();

 private:
  QString name_;
  QString socketPath_;
  QLockFile lock_;
  QLocalServer server_;
};

}  // namespace qm
