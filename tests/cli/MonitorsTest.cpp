#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <vector>

#include "common/Monitor.h"
#include "support/MediaProbe.h"
#include "support/MonitorLayout.h"
#include "support/ScreenTest.h"
#include "support/ToolRun.h"
#include "support/XScreen.h"

namespace qm {
namespace {

using test::XScreen;

using test::MonitorLayout;

class Monitors : public test::ScreenTest {};

// The listing, each monitor by its name and its number pixel for pixel, and an unknown one.
TEST_F(Monitors, ListedAndTakenByNameAndNumber) {
  for (const std::vector<Monitor>& layout : test::TestLayouts()) {
    SCOPED_TRACE(layout.back().Name.toStdString());
    const MonitorLayout set(layout);
    QString listing;
    for (const Monitor& m : layout)
      listing += MonitorText(m) + (m.Primary ? " primary" : "") + " scale 2\n";
    qputenv("QT_SCALE_FACTOR", "2");
    const test::ProcessResult listed = test::RunTool({"monitors"});
    qunsetenv("QT_SCALE_FACTOR");
    EXPECT_EQ(listed.ExitCode, 0) << listed.Err.toStdString();
    EXPECT_EQ(listed.Out.toStdString(), listing.toStdString());

    for (size_t i = 0; i < layout.size(); ++i) {
      const Rect& r = layout[i].Bounds;
      for (const QString& which : {layout[i].Name, QString::number(i)}) {
        const QString file = Path(QStringLiteral("m%1.bmp").arg(which));
        const test::ProcessResult run = test::RunTool({"photo", file, "--monitor", which});
        ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
        EXPECT_EQ(run.Out.toStdString(), QStringLiteral("%1: %2,%3,%4,%5\n")
                                             .arg(file)
                                             .arg(r.Left)
                                             .arg(r.Top)
                                             .arg(r.Width())
                                             .arg(r.Height())
                                             .toStdString());
        const QImage image(file);
        ASSERT_EQ(image.size(), QSize(r.Width(), r.Height()));
        int wrong = 0;
        for (int y = 0; y < r.Height(); ++y)
          for (int x = 0; x < r.Width(); ++x)
            wrong += (image.pixel(x, y) & 0xFFFFFF) != XScreen::Pattern(r.Left + x, r.Top + y);
        EXPECT_EQ(wrong, 0);
      }
    }

    const QString none = Path("none.avi");
    for (const QString& command : {QStringLiteral("photo"), QStringLiteral("record")}) {
      const QString file = command == "photo" ? Path("none.bmp") : none;
      const test::ProcessResult run =
          test::RunTool({command, file, "--monitor", QString::number(layout.size())});
      EXPECT_EQ(run.ExitCode, 2);
      for (const Monitor& m : layout) EXPECT_TRUE(run.Err.contains(MonitorText(m)));
      EXPECT_FALSE(QFile::exists(file));
    }
  }
}

// Following the cursor keeps the area inside the monitor the cursor is on, on both sides of
// the border; an area larger than that monitor stays inside the screen.
TEST_F(Monitors, FollowingKeepsTheAreaOnTheCursorsMonitor) {
  const MonitorLayout set(test::TestLayouts()[1]);
  struct Row {
    Point Cursor;
    const char* Area;
    const char* Taken;
  } rows[] = {
      {{950, 700}, "0,0,200,100", "760,650,200,100"},
      {{970, 700}, "0,0,200,100", "960,650,200,100"},
      {{970, 560}, "0,0,200,100", "960,540,200,100"},
      {{900, 390}, "0,0,200,100", "800,300,200,100"},
      {{900, 410}, "0,0,200,100", "800,360,200,100"},  // on no monitor: inside the screen
      {{950, 700}, "0,0,1000,200", "450,600,1000,200"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Taken);
    screen_.MovePointer(row.Cursor.X, row.Cursor.Y);
    const QString file = Path("follow.bmp");
    const test::ProcessResult run = test::RunTool({"photo", file, "--area", row.Area, "--follow"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out.toStdString(), (file + ": " + row.Taken + "\n").toStdString());
  }
}

// A monitor removed during a recording of it: the frames keep their size, pixel for pixel the
// screen until then and black after, and the recording ends as asked.
TEST_F(Monitors, ARemovedMonitorTurnsBlackInTheSameFrameSize) {
  ASSERT_TRUE(test::MediaProbe::Available());
  const test::MonitorLayout set(test::TestLayouts()[0]);
  const Rect& right = test::TestLayouts()[0][1].Bounds;
  const QString file = Path("gone.avi");
  QProcess tool;
  test::StartTool(tool, {"record", file, "--monitor", "qm-right", "--fps", "5", "--seconds", "4",
                         "--codec", "DIB"});
  QThread::msleep(1500);
  test::MonitorLayout::Xrandr({"--delmonitor", "qm-right"});
  const test::ProcessResult run = test::FinishTool(tool);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_TRUE(run.Err.contains("The monitors changed during the recording"))
      << run.Err.toStdString();
  std::vector<QByteArray> frames;
  QString errors;
  ASSERT_TRUE(test::MediaProbe::DecodeBgr24(file, right.Width(), right.Height(), frames, &errors))
      << errors.toStdString();
  ASSERT_GE(frames.size(), 2u);
  const QByteArray& first = frames.front();
  int wrong = 0;
  for (int y = 0; y < right.Height(); ++y)
    for (int x = 0; x < right.Width(); ++x) {
      const test::Colour want = XScreen::Pattern(right.Left + x, right.Top + y);
      const auto* p = reinterpret_cast<const uint8_t*>(first.constData()) +
                      (size_t(y) * size_t(right.Width()) + size_t(x)) * 3;
      wrong += p[0] != (want & 0xFF) || p[1] != (want >> 8 & 0xFF) || p[2] != (want >> 16 & 0xFF);
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(frames.back().count('\0'), frames.back().size());
}

}  // namespace
}  // namespace qm
