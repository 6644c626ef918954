#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/ScreenTest.h"
#include "support/ToolRun.h"
#include "support/XKeys.h"
#include "support/XScreen.h"

namespace qm {
namespace {

using test::Colour;
using test::XScreen;

test::ProcessResult RunPhoto(const QStringList& args) {
  return test::RunTool(QStringList{QStringLiteral("photo")} + args, 120000);
}

// Colour channels of a pattern pixel.
int Red(Colour c) {
  return int(c >> 16 & 0xFF);
}
int Green(Colour c) {
  return int(c >> 8 & 0xFF);
}
int Blue(Colour c) {
  return int(c & 0xFF);
}
int CubeLevel(int v) {
  return (v + 3) / 51 * 51;
}

// The first quantisation value (luminance DC) of a JPEG file.
int FirstQuantValue(const QByteArray& data) {
  const qsizetype at = data.indexOf(QByteArray("\xFF\xDB", 2));
  return at < 0 || at + 5 >= data.size() ? -1 : uint8_t(data[at + 5]);
}

class PhotoCommand : public test::ScreenTest {};

TEST_F(PhotoCommand, StoresTheAreaAsEachPictureType) {
  const Rect area{100, 50, 420, 250};
  for (const QString& name :
       {QStringLiteral("a.gif"), QStringLiteral("b.BMP"), QStringLiteral("c.jpg")}) {
    SCOPED_TRACE(name.toStdString());
    const QString path = Path(name);
    const test::ProcessResult run =
        RunPhoto({path, QStringLiteral("--area"), QStringLiteral("100,50,320,200"),
                  QStringLiteral("--quality"), QStringLiteral("24")});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out, path + QStringLiteral(": 100,50,320,200\n"));

    const QImage image(path);
    ASSERT_EQ(image.size(), QSize(320, 200));
    const QString kind = QFileInfo(path).suffix().toLower();
    int wrong = 0;
    long long error = 0;
    for (int y = 0; y < 200; ++y) {
      for (int x = 0; x < 320; ++x) {
        const Colour want = XScreen::Pattern(area.Left + x, area.Top + y);
        const QRgb got = image.pixel(x, y);
        if (kind == QLatin1String("gif")) {
          wrong += qRed(got) != CubeLevel(Red(want)) || qGreen(got) != CubeLevel(Green(want)) ||
                   qBlue(got) != CubeLevel(Blue(want));
        } else if (kind == QLatin1String("bmp")) {
          wrong += (got & 0xFFFFFF) != want;
        } else {
          error += std::abs(qRed(got) - Red(want)) + std::abs(qGreen(got) - Green(want)) +
                   std::abs(qBlue(got) - Blue(want));
        }
      }
    }
    EXPECT_EQ(wrong, 0);
    // A smooth pattern at quality 100 stays within a few levels on average.
    EXPECT_LT(double(error) / (320 * 200 * 3), 3.0);
  }
}

TEST_F(PhotoCommand, QualityIsTheSliderPositionAndDefaultsTo17) {
  const QStringList area{QStringLiteral("--area"), QStringLiteral("0,0,64,64")};
  // Luminance DC entry 16 scaled for quality 4, 72 and 100.
  for (const auto& [position, expected] :
       {std::pair{QStringLiteral("0"), 200}, std::pair{QString(), 9},
        std::pair{QStringLiteral("24"), 1}}) {
    const QString path = Path(QStringLiteral("q%1.jpg").arg(position));
    QStringList args{path};
    args += area;
    if (!position.isEmpty()) args << QStringLiteral("--quality") << position;
    const test::ProcessResult run = RunPhoto(args);
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(FirstQuantValue(file.readAll()), expected) << position.toStdString();
  }
}

TEST_F(PhotoCommand, TakesTheWholeScreenByDefault) {
  const QString path = Path(QStringLiteral("screen.bmp"));
  const test::ProcessResult run = RunPhoto({path});
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  const Rect bounds = screen_.Bounds();
  EXPECT_EQ(run.Out,
            path + QStringLiteral(": 0,0,%1,%2\n").arg(bounds.Width()).arg(bounds.Height()));
  const QImage image(path);
  ASSERT_EQ(image.size(), QSize(bounds.Width(), bounds.Height()));
  const Colour corner = XScreen::Pattern(bounds.Right - 1, bounds.Bottom - 1);
  EXPECT_EQ(image.pixel(bounds.Width() - 1, bounds.Height() - 1) & 0xFFFFFF, corner);
}

TEST_F(PhotoCommand, FollowCentresOnTheMouseAndCursorIsDrawnOnlyWhenAsked) {
  constexpr Colour kBox = 0xFF00FF;
  screen_.SetBoxCursor(6, 6, 0, 0, kBox);
  screen_.MovePointer(1000, 600);
  const QStringList area{QStringLiteral("--area"), QStringLiteral("0,0,320,240")};

  const QString plain = Path(QStringLiteral("plain.bmp"));
  test::ProcessResult run = RunPhoto(QStringList{plain, QStringLiteral("--follow")} + area);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_EQ(run.Out, plain + QStringLiteral(": 840,480,320,240\n"));
  QImage image(plain);
  ASSERT_EQ(image.size(), QSize(320, 240));
  EXPECT_EQ(image.pixel(160, 120) & 0xFFFFFF, XScreen::Pattern(1000, 600));

  const QString withCursor = Path(QStringLiteral("cursor.bmp"));
  run = RunPhoto(QStringList{withCursor, QStringLiteral("--follow"), QStringLiteral("--cursor")} +
                 area);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  image = QImage(withCursor);
  ASSERT_EQ(image.size(), QSize(320, 240));
  EXPECT_EQ(image.pixel(160, 120) & 0xFFFFFF, kBox);
  EXPECT_EQ(image.pixel(165, 125) & 0xFFFFFF, kBox);
  EXPECT_EQ(image.pixel(166, 126) & 0xFFFFFF, XScreen::Pattern(1006, 606));
}

TEST_F(PhotoCommand, BadArgumentsExitWithTwoAndWriteNothing) {
  const QString gif = Path(QStringLiteral("x.gif"));
  const QList<QStringList> cases{
      {},
      {Path(QStringLiteral("x.png"))},
      {Path(QStringLiteral("noextension"))},
      {gif, QStringLiteral("--bogus")},
      {gif, QStringLiteral("--area"), QStringLiteral("1,2,3")},
      {gif, QStringLiteral("--area"), QStringLiteral("0,0,0,10")},
      {gif, QStringLiteral("--area")},
      {gif, QStringLiteral("--quality"), QStringLiteral("25")},
      {gif, QStringLiteral("--quality"), QStringLiteral("-1")},
      {gif, QStringLiteral("--quality"), QStringLiteral("high")},
      {gif, Path(QStringLiteral("y.gif"))},
      {QStringLiteral("--cursor")},
  };
  for (const QStringList& args : cases) {
    const test::ProcessResult run = RunPhoto(args);
    EXPECT_EQ(run.ExitCode, 2) << args.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(run.Out.isEmpty());
    EXPECT_TRUE(run.Err.contains(QStringLiteral("usage:"))) << run.Err.toStdString();
  }
  EXPECT_TRUE(QDir(dir_.path()).isEmpty());
}

TEST_F(PhotoCommand, UnwritableFileExitsWithOneAndSaysWhich) {
  const QString path = Path(QStringLiteral("missing/folder/p.gif"));
  const test::ProcessResult run =
      RunPhoto({path, QStringLiteral("--area"), QStringLiteral("0,0,10,10")});
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_TRUE(run.Out.isEmpty());
  EXPECT_TRUE(run.Err.contains(path)) << run.Err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(PhotoCommand, WindowPicksTheWindowUnderThePointer) {
  const unsigned long window = screen_.OpenWindow(Rect{300, 200, 501, 357}, 0x2040C0);
  screen_.MovePointer(400, 280);
  const QString path = Path(QStringLiteral("window.bmp"));
  QProcess tool;
  test::StartTool(tool, {QStringLiteral("photo"), path, QStringLiteral("--window")});
  // The tool's selection screen, once it has the keyboard.
  for (int i = 0; i < 3000; ++i) {
    const unsigned long shown = screen_.FindWindowNamed("Capture area");
    if (shown && screen_.FocusWindow() == shown) break;
    QThread::msleep(10);
  }
  test::XKeys().Tap(XK_Return);
  const test::ProcessResult run = test::FinishTool(tool);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  // The window's rectangle, its size rounded up to multiples of 8.
  EXPECT_TRUE(
      run.Err.contains(QStringLiteral("area: 300,200,208,160 (window 0x%1)").arg(window, 0, 16)))
      << run.Err.toStdString();
  EXPECT_EQ(QImage(path).size(), QSize(208, 160));
}

}  // namespace
}  // namespace qm
