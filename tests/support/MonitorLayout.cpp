#include "support/MonitorLayout.h"

#include <gtest/gtest.h>

#include "support/ToolRun.h"

namespace qm::test {

MonitorLayout::MonitorLayout(const std::vector<Monitor>& monitors) : monitors_(monitors) {
  bool first = true;
  for (const Monitor& m : monitors) {
    const Rect& r = m.Bounds;
    const QString name = (m.Primary ? QStringLiteral("*") : QString()) + m.Name;
    const QString geometry =
        QStringLiteral("%1/254x%2/143+%3+%4").arg(r.Width()).arg(r.Height()).arg(r.Left).arg(r.Top);
    Xrandr({QStringLiteral("--setmonitor"), name, geometry,
            first ? QStringLiteral("screen") : QStringLiteral("none")});
    first = false;
  }
}

MonitorLayout::~MonitorLayout() {
  for (const Monitor& m : monitors_) Xrandr({QStringLiteral("--delmonitor"), m.Name});
}

void MonitorLayout::Xrandr(const QStringList& args) {
  const ProcessResult run = RunProcess(QStringLiteral("xrandr"), args, 30000);
  EXPECT_EQ(run.ExitCode, 0) << args.join(' ').toStdString() << run.Err.toStdString();
}

const std::vector<std::vector<Monitor>>& TestLayouts() {
  static const std::vector<std::vector<Monitor>> layouts = {
      {{"qm-left", {0, 0, 960, 1080}, true}, {"qm-right", {960, 0, 1920, 1080}, false}},
      {{"qm-low-right", {960, 540, 1920, 1080}, true},
       {"qm-low-left", {0, 540, 960, 1080}, false},
       {"qm-top", {560, 0, 1360, 400}, false}},
  };
  return layouts;
}

}  // namespace qm::test
