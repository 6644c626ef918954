#include <QImage>
#include <QList>

#include <gtest/gtest.h>

#include "shell/TrayImages.h"

namespace qm {
namespace {

// At a ratio of 2 (a high-density screen) each frame has four times the pixels, not a 16 x 16
// picture blown up.
TEST(TrayImagesTest, EveryFrameIsItsOwnSixteenSquareThatReadsOnLightAndDarkPanels) {
  for (const int ratio : {1, 2}) {
    const struct {
      const char* Name;
      QList<QImage> Images;
      qsizetype Frames;
    } lists[] = {{"still", TrayImages::Still(ratio), 8},
                 {"recording", TrayImages::Recording(ratio), 8},
                 {"paused", TrayImages::Paused(ratio), 2},
                 {"photo", TrayImages::Photo(ratio), 9}};
    for (const auto& list : lists) {
      SCOPED_TRACE(testing::Message() << list.Name << " at " << ratio);
      ASSERT_EQ(list.Images.size(), list.Frames);
      for (qsizetype i = 0; i < list.Images.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list.Images[i].size(), QSize(16, 16) * ratio);
        EXPECT_EQ(list.Images[i].deviceIndependentSize(), QSizeF(16, 16));
        const QImage image = list.Images[i]
                                 .convertToFormat(QImage::Format_ARGB32)
                                 .scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
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
}

}  // namespace
}  // namespace qm
