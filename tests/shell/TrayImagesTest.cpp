#include <QImage>
#include <QList>

#include <gtest/gtest.h>

#include "shell/TrayImages.h"

namespace qm {
namespace {

TEST(TrayImagesTest, EveryFrameIsItsOwnSixteenSquareThatReadsOnLightAndDarkPanels) {
  const struct {
    const char* Name;
    QList<QImage> Images;
    qsizetype Frames;
  } lists[] = {{"still", TrayImages::Still(), 8},
               {"recording", TrayImages::Recording(), 8},
               {"paused", TrayImages::Paused(), 2},
               {"photo", TrayImages::Photo(), 9}};
  for (const auto& list : lists) {
    SCOPED_TRACE(list.Name);
    ASSERT_EQ(list.Images.size(), list.Frames);
    for (qsizetype i = 0; i < list.Images.size(); ++i) {
      SCOPED_TRACE(i);
      const QImage image = list.Images[i].convertToFormat(QImage::Format_ARGB32);
      EXPECT_EQ(image.size(), QSize(16, 16));
      // Mostly opaque pixels dark enough for a light panel and light enough for a dark one.
      bool dark = false, light = false;
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
          const QRgb p = image.pixel(x, y);
          if (qAlpha(p) < 160) continue;
          dark = dark || qGray(p) < 64;
          light = light || qGray(p) > 110;
        }
      }
      EXPECT_TRUE(dark && light);
      // Each frame differs from the others, so every step of the animation shows.
      for (qsizetype j = 0; j < i; ++j) EXPECT_NE(list.Images[i], list.Images[j]) << j;
    }
  }
}

}  // namespace
}  // namespace qm
