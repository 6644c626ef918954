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
      // Two frames behind is a writer in step; two seconds at 6 of 10 are not, and they show
      // at once.
      {"falls behind",
       10,
       {{{1000, 8, 0}, "Recording 0:00:01 - 0 KB - 8.0/10 fps"},
        {{2000, 17, 0}, "Recording 0:00:02 - 0 KB - 8.5/10 fps"},
        {{3000, 20, 0}, "Recording 0:00:03 - 0 KB - too slow: 6.0 of 10 fps"},
        {{5000, 40, 0}, "Recording 0:00:05 - 0 KB - 8.0/10 fps"}}},
      // A compressor behind from its first frame is told at the second second.
      {"behind from the start",
       10,
       {{{1000, 0, 0}, "Recording 0:00:01 - 0 KB - 0.0/10 fps"},
        {{2000, 1, 0}, "Recording 0:00:02 - 0 KB - too slow: 0.5 of 10 fps"}}},
      // A pause adds no active time and judges nothing; its line says so.
      {"paused",
       4,
       {{{2000, 8, 0}, "Recording 0:00:02 - 0 KB - 4.0/4 fps"},
        {{.ActiveMs = 2000, .Frames = 8, .Bytes = 0, .Paused = true}, "Paused 0:00:02 - 0 KB"},
        {{7000, 28, 0}, "Recording 0:00:07 - 0 KB - 4.0/4 fps"}}},
      // A monitor unplugged under the area.
      {"monitors changed",
       10,
       {{{.ActiveMs = 1000, .Frames = 9, .Bytes = 400'000, .MonitorsChanged = true},
         "Recording 0:00:01 - monitors changed - 400 KB - 9.0/10 fps"}}},
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
  EXPECT_EQ(RecordingProgress::KeptNote(9, 24'000, 10),
            QStringLiteral("kept 9 of 240 frames: the compressor is too slow for this size"));
  EXPECT_EQ(RecordingProgress::KeptNote(238, 24'000, 10), QString());
}

}  // namespace
}  // namespace qm
