#include "common/Monitor.h"

namespace qm {

const Monitor* FindMonitor(const std::vector<Monitor>& monitors, const QString& nameOrNumber) {
  for (const Monitor& monitor : monitors)
    if (monitor.Name == nameOrNumber) return &monitor;
  bool number = false;
  const qsizetype index = nameOrNumber.toLongLong(&number);
  if (number && index >= 0 && index < qsizetype(monitors.size()) &&
      nameOrNumber == QString::number(index))
    return &monitors[size_t(index)];
  return nullptr;
}

const Monitor* MonitorAt(const std::vector<Monitor>& monitors, Point point) {
  for (const Monitor& monitor : monitors)
    if (monitor.Bounds.Contains(point)) return &monitor;
  return nullptr;
}

const Monitor* PrimaryMonitor(const std::vector<Monitor>& monitors) {
  for (const Monitor& monitor : monitors)
    if (monitor.Primary) return &monitor;
  return monitors.empty() ? nullptr : &monitors.front();
}

QString MonitorText(const Monitor& monitor) {
  const Rect& r = monitor.Bounds;
  return QStringLiteral("%1 %2x%3+%4+%5")
      .arg(monitor.Name)
      .arg(r.Width())
      .arg(r.Height())
      .arg(r.Left)
      .arg(r.Top);
}

QString MonitorCaption(const Monitor& monitor) {
  return QStringLiteral("%1 (%2 x %3)")
      .arg(monitor.Name)
      .arg(monitor.Bounds.Width())
      .arg(monitor.Bounds.Height());
}

}  // namespace qm
