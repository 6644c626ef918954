#include "support/TrayHost.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSystemTrayIcon>
#include <QThread>

namespace qm::test {

bool SpinUntil(const std::function<bool()>& done, int seconds) {
  const QDeadlineTimer deadline{std::chrono::seconds(seconds)};
  while (!done()) {
    if (deadline.hasExpired()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  return true;
}

TrayHost::TrayHost() {
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.setStandardOutputFile(QProcess::nullDevice());
  process_.start(QStringLiteral("trayer"),
                 {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                  QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                  QStringLiteral("--height"), QStringLiteral("24"), QStringLiteral("--transparent"),
                  QStringLiteral("false")});
  ok_ =
      process_.waitForStarted() && SpinUntil([this] {
        return QSystemTrayIcon::isSystemTrayAvailable() || process_.state() == QProcess::NotRunning;
      }) &&
      process_.state() == QProcess::Running;
}

TrayHost::~TrayHost() {
  Kill();
}

void TrayHost::Kill() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.kill();
  process_.waitForFinished();
}

}  // namespace qm::test
