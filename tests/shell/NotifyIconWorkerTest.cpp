#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QList>

#include <gtest/gtest.h>

#include <vector>

#include "shell/NotifyIcon.h"
#include "support/TrayHost.h"

namespace qm {
namespace {

// count images, each filled with a colour of its own that tells its number and list.
QList<QImage> Numbered(int count, int list) {
  QList<QImage> images;
  for (int i = 0; i < count; ++i) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(QColor(list, i, 0));
    images << image;
  }
  return images;
}

int ListOf(const QImage& image) {
  return image.isNull() ? -1 : qRed(image.pixel(0, 0));
}
int NumberOf(const QImage& image) {
  return image.isNull() ? -1 : qGreen(image.pixel(0, 0));
}

// What the icon showed, in order.
struct Seen {
  explicit Seen(NotifyIcon& icon) {
    QObject::connect(&icon, &NotifyIcon::Shown, [this](const QImage& image, const QString& tip) {
      Images.push_back(image);
      Tips.push_back(tip);
    });
  }
  std::vector<QImage> Images;
  std::vector<QString> Tips;
};

// These run without a notification area: the worker and its hand-over do not need one.
TEST(NotifyIconWorkerTest, NotAnimatedItShowsTheChosenImageAndTheHintCutTo64Characters) {
  const struct {
    int Index, HintLength, Number;  // Number -1: no image
  } cases[] = {{2, 1, 2}, {0, 64, 0}, {1, 65, 1}, {3, 200, -1}};
  NotifyIcon icon;
  Seen seen(icon);
  icon.SetImageList(Numbered(3, 1));
  icon.SetActive(true);
  for (const auto& c : cases) {
    // The "!" marks the hint's end.
    const QString hint = QString(c.HintLength - 1, QChar('h')) + QChar('!');
    icon.SetIconIndex(c.Index);
    icon.SetHint(hint);
    EXPECT_TRUE(test::SpinUntil([&] {
      return !seen.Tips.empty() && seen.Tips.back() == hint.left(64) &&
             NumberOf(seen.Images.back()) == c.Number;
    })) << c.HintLength;
  }
  for (const QString& tip : seen.Tips) EXPECT_LE(tip.size(), 64);
}

TEST(NotifyIconWorkerTest, AShorterListIsNeverReadPastItsEnd) {
  NotifyIcon icon;
  Seen seen(icon);
  icon.SetImageList(Numbered(9, 1));
  icon.SetAnimated(true);
  // Slow enough that each frame is shown on its own, not replaced by the next one.
  icon.SetAnimateDelay(30);
  icon.SetActive(true);
  // Switch while the frame counter stands beyond the new list's length.
  ASSERT_TRUE(test::SpinUntil([&] {
    return !seen.Images.empty() && NumberOf(seen.Images.back()) >= 4 &&
           NumberOf(seen.Images.back()) <= 6;
  }));
  icon.SetImageList(Numbered(2, 2));
  const size_t switched = seen.Images.size();
  ASSERT_TRUE(test::SpinUntil([&] { return seen.Images.size() > switched + 20; }));
  // Images of the old list may still arrive, then only the new list's; never none.
  bool newList = false;
  for (size_t i = switched; i < seen.Images.size(); ++i) {
    EXPECT_FALSE(seen.Images[i].isNull()) << "image " << i;
    newList = newList || ListOf(seen.Images[i]) == 2;
    if (newList) {
      EXPECT_EQ(ListOf(seen.Images[i]), 2) << "image " << i;
    }
  }
  EXPECT_TRUE(newList);
}

TEST(NotifyIconWorkerTest, ChangesAndSwitchingOffWhileTheWorkerPostsNeitherBlockNorLeaveAnIcon) {
  NotifyIcon icon;
  Seen seen(icon);
  const QList<QImage> lists[] = {Numbered(9, 1), Numbered(2, 2)};
  for (int round = 0; round < 20; ++round) {
    icon.SetAnimated(round % 2 == 0);
    icon.SetAnimateDelay(1);
    icon.SetActive(true);
    // Every property changes while the worker reads them and posts a few updates.
    const size_t on = seen.Images.size();
    for (int i = 0; i < 30 || seen.Images.size() < on + 3; ++i) {
      icon.SetHint(QString::number(i));
      icon.SetIconIndex(i % 3);
      icon.SetImageList(lists[i % 2]);
      QCoreApplication::processEvents();
    }
    icon.SetActive(false);
    const size_t off = seen.Images.size();
    // Let every update the worker posted on its way out arrive: none may show.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(seen.Images.size(), off);
    EXPECT_FALSE(icon.TrayIcon().isVisible());
  }
}

}  // namespace
}  // namespace qm
