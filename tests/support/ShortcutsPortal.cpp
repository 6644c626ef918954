#include "support/ShortcutsPortal.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>

namespace qm::test {

ShortcutsPortal::ShortcutsPortal(const QStringList& options) {
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.start(QStringLiteral(QM_SOURCE_DIR "/tests/shortcutportal/GlobalShortcutsPortal.py"),
                 QStringList{folder_.filePath(QStringLiteral("log"))} + options);
  QString address;
  const QDeadlineTimer deadline(30000);
  while (!deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
    if (!process_.canReadLine() && !process_.waitForReadyRead(500)) continue;
    while (process_.canReadLine()) {
      const QString line = QString::fromUtf8(process_.readLine()).trimmed();
      if (line.startsWith(QLatin1String("DBUS_SESSION_BUS_ADDRESS=")))
        address = line.section(QLatin1Char('='), 1);
      if (line == QLatin1String("ready")) {
        address_ = address;
        return;
      }
    }
  }
}

ShortcutsPortal::~ShortcutsPortal() {
  // It ends, with its bus, when its input closes.
  process_.closeWriteChannel();
  if (!process_.waitForFinished(10000)) {
    process_.kill();
    process_.waitForFinished();
  }
}

void ShortcutsPortal::Send(const QString& command) {
  process_.write(command.toUtf8() + '\n');
  process_.waitForBytesWritten();
}

QList<QJsonObject> ShortcutsPortal::Log() const {
  QList<QJsonObject> entries;
  QFile log(folder_.filePath(QStringLiteral("log")));
  if (!log.open(QIODevice::ReadOnly)) return entries;
  for (const QByteArray& line : log.readAll().split('\n')) {
    if (!line.isEmpty()) entries << QJsonDocument::fromJson(line).object();
  }
  return entries;
}

QList<QJsonObject> ShortcutsPortal::Calls(const QString& method) const {
  QList<QJsonObject> calls;
  for (const QJsonObject& entry : Log()) {
    if (entry.value(QStringLiteral("call")).toString() == method) calls << entry;
  }
  return calls;
}

}  // namespace qm::test
