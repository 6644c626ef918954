#include <gtest/gtest.h>

#include <vector>

#include "capture/RecordingProgress.h"

namespace qm {
namespace {

// Feeds the figures of each second and checks the lines that come out.
TEST(RecordingProgressTest, TellsTimeSizeAndRateAndWhenTheRateCannotBeKept) {
  struct Step {
    RecordingFigures Figures;
    const char* Line;
  };
  struct Case {
    const char* Name;
    int Fps;
    std::vector<Step> Steps;
  };
  const std::vector<Case> cases = {
      {"keeps up",
       10,
       {{{1000, 9, 400'000}, "Recording 0:00:01 - 400 KB - 9.0/10 fps"},
        {{83'000, 829, 45'200'000}, "Recording 0:01:23 - 45 MB - 10.0/10 fps"},
        {{3'723'000, 37'229, 2'000'000'000}, "Recording 1:02:03 - 2000 MB - 10.0/10 fps"}}},
      // Two frames behind is a writer in step; five seconds at 4.1 of 10 is not.
      {"slow",
       10,
       {{{1000, 8, 0}, "Recording 0:00:01 - 0 KB - 8.0/10 fps"},
        {{6000, 55, 0}, "Recording 0:00:06 - 0 KB - 9.2/10 fps"},
        {{11000, 76, 0}, "Recording 0:00:11 - 0 KB - too slow: 4.2 of 10 fps"},
        {{16000, 125, 0}, "Recording 0:00:16 - 0 KB - 7.8/10 fps"}}},
      // A pause adds no active time and judges nothing.
      {"paused",
       4,
       {{{2000, 8, 0}, "Recording 0:00:02 - 0 KB - 4.0/4 fps"},
        {{2000, 8, 0}, "Recording 0:00:02 - 0 KB - 4.0/4 fps"},
        {{7000, 28, 0}, "Recording 0:00:07 - 0 KB - 4.0/4 fps"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    RecordingProgress progress(c.Fps);
    for (const Step& step : c.Steps) {
      const QString line = progress.Update(step.Figures);
      EXPECT_EQ(line.toStdString(), step.Line);
      EXPECT_LE(line.size(), 64);
    }
  }
  EXPECT_EQ(RecordingProgress::CaughtUpNote(0), QString());
  EXPECT_EQ(RecordingProgress::CaughtUpNote(12), QStringLiteral("12 frames caught up"));
}

}  // namespace
}  // namespace qm
