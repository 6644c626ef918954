#include <QGuiApplication>
#include <QScreen>

#include <cstdio>

#include "capture/Grabber.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "common/Monitor.h"

namespace qm::cli {

namespace {

// The toolkit's screen for a monitor: the one of its name, else the one that starts at its
// corner (the toolkit keeps a screen's corner in device pixels whatever its scale).
const QScreen* ScreenOf(const Monitor& monitor) {
  const QList<QScreen*> screens = QGuiApplication::screens();
  for (const QScreen* screen : screens)
    if (screen->name() == monitor.Name) return screen;
  for (const QScreen* screen : screens)
    if (screen->geometry().topLeft() == QPoint(monitor.Bounds.Left, monitor.Bounds.Top))
      return screen;
  return nullptr;
}

}  // namespace

int RunMonitors(const QStringList& args) {
  if (!args.isEmpty()) throw UsageError("monitors takes no arguments");
  const std::vector<Monitor> monitors = Grabber::Monitors();
  if (monitors.empty()) {
    PrintError(Grabber::NoDisplayMessage());
    return kExitFailed;
  }
  for (const Monitor& monitor : monitors) {
    QString line = MonitorText(monitor);
    if (monitor.Primary) line += QStringLiteral(" primary");
    const QScreen* screen =
        qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? ScreenOf(monitor) : nullptr;
    line += QStringLiteral(" scale ") + QString::number(screen ? screen->devicePixelRatio() : 1.0);
    std::printf("%s\n", line.toLocal8Bit().constData());
  }
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

}  // namespace qm::cli
