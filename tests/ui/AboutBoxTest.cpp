#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <random>

#include "common/ErrorReport.h"
#include "common/Product.h"
#include "ui/AboutBox.h"
#include "ui/AppIcon.h"

namespace qm {
namespace {

QString FakeCpuinfo(const QTemporaryDir& dir, const QByteArray& text) {
  const QString path = dir.filePath(QStringLiteral("cpuinfo"));
  QFile file(path);
  file.open(QIODevice::WriteOnly | QIODevice::Truncate);
  file.write(text);
  return path;
}

TEST(AboutBox, CpuSpeedIsTheFirstProcessorsRoundedMHz) {
  QTemporaryDir dir;
  const struct {
    QByteArray text;
    const char* speed;
  } cases[] = {
      {"processor\t: 0\nmodel name\t: X\ncpu MHz\t\t: 2399.612\n\nprocessor\t: 1\n"
       "cpu MHz\t\t: 800.000\n",
       "2400 MHz"},
      {"cpu MHz : 1000.4\n", "1000 MHz"},
      {"processor\t: 0\nBogoMIPS\t: 48.00\n", ""},  // no such line (some ARM machines)
      {"cpu MHz\t\t: fast\n", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CpuSpeedText(FakeCpuinfo(dir, c.text)), c.speed);
  EXPECT_EQ(CpuSpeedText(dir.filePath(QStringLiteral("missing"))), QString());
  // The kernel's own file, which reports no size.
  QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
  if (cpuinfo.open(QIODevice::ReadOnly) && cpuinfo.readAll().contains("cpu MHz")) {
    EXPECT_FALSE(CpuSpeedText(QStringLiteral("/proc/cpuinfo")).isEmpty());
  }

  // Damaged files give a figure or nothing, never anything else.
  static const QRegularExpression figure(QStringLiteral("^(\\d+ MHz)?$"));
  const QByteArray good = cases[0].text;
  std::mt19937 random(7);
  for (int i = 0; i < 1000; ++i) {
    QByteArray text = good;
    for (int n = 1 + int(random() % 6); n > 0; --n)
      text[int(random() % text.size())] = char(random());
    if (i % 3 == 0) text.truncate(int(random() % text.size()));
    const QString speed = CpuSpeedText(FakeCpuinfo(dir, text));
    ASSERT_TRUE(figure.match(speed).hasMatch()) << speed.toStdString();
  }
}

// The icon comes from the Qt resources of the library, rendered from the drawing at every
// size the desktop asks for; the About box shows it at 32 x 32.
TEST(AboutBox, ShowsTheApplicationIconFromTheResources) {
  const QIcon icon = AppIcon();
  for (const int size : {16, 32, 48, 256})
    EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
  AboutBox box(nullptr);
  bool shown = false;
  for (const QLabel* label : box.findChildren<QLabel*>()) {
    if (label->pixmap().isNull()) continue;
    shown = label->pixmap().toImage() == icon.pixmap(32, 32).toImage();
  }
  EXPECT_TRUE(shown);
}

TEST(AboutBox, ShowsVersionAndSpeedAndClosesOnAnyPress) {
  QTemporaryDir dir;
  const QString cpuinfo = FakeCpuinfo(dir, "cpu MHz\t\t: 3092.734\n");
  QWidget window;
  enum class Press { Key, Panel, Email, Website };
  const struct {
    Press press;
    QString opened;
  } cases[] = {
      {Press::Key, QString()},
      {Press::Panel, QString()},
      {Press::Email, QStringLiteral("mailto:") + QLatin1String(kSupportEmail)},
      {Press::Website, QLatin1String(kWebsite)},
  };
  for (const auto& c : cases) {
    QStringList opened;
    AboutBox box(&window, cpuinfo, [&](const QString& address) { opened << address; });
    QString version, speed;
    QTimer::singleShot(0, [&] {
      version = box.findChild<QLabel*>(QStringLiteral("lbVersion"))->text();
      speed = box.findChild<QLabel*>(QStringLiteral("lbCPUSpeed"))->text();
      QWidget* target = &box;
      if (c.press == Press::Email) target = box.findChild<QLabel*>(QStringLiteral("lbEmail"));
      if (c.press == Press::Website) target = box.findChild<QLabel*>(QStringLiteral("lbWebsite"));
      if (c.press == Press::Key) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
        QApplication::sendEvent(&box, &key);
      } else {
        QMouseEvent click(QEvent::MouseButtonPress, QPointF(2, 2),
                          target->mapToGlobal(QPointF(2, 2)), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &click);
      }
    });
    box.exec();  // returns only when the press closed it
    EXPECT_EQ(version, QStringLiteral("Version ") + QLatin1String(kVersion));
    EXPECT_EQ(speed, QStringLiteral("CPU speed: 3093 MHz"));
    EXPECT_EQ(opened, c.opened.isEmpty() ? QStringList() : QStringList{c.opened});
    EXPECT_EQ(box.size(), QSize(332, 239));
  }
}

}  // namespace
}  // namespace qm
