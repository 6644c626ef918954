#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "capture/SoundTrack.h"

namespace qm {
namespace {

// A sound server on a clock of the test's own: it delivers blocks of 10 ms whose stamps run
// fast or slow against the recording's clock (drift), jitter (alternating, or at random as
// a real server's timing reports do), and now and then go missing.
// Every 50th block starts with a click captured at its stamp's true moment; the test finds
// the clicks in what the track gives and measures where they landed.
struct Server {
  double Drift = 0;           // relative speed of the sound clock against the recording's
  int64_t JitterUs = 0;       // the stamps' error, alternating sign
  int MissingEvery = 0;       // every Nth block never comes (0: none)
  bool RandomJitter = false;  // the error is anywhere within JitterUs instead
  int64_t WanderUs = 0;       // and the reports wander slowly, this far either way
};

constexpr int64_t kPeriodUs = 1000000 / 15;
constexpr size_t kBlock = 480;
constexpr int16_t kClick = 20000;

TEST(SoundTrackTest, SoundStaysWithinAFramePeriodOfThePicturesAcrossPausesDriftAndGaps) {
  struct Case {
    const char* Name;
    Server Sound;
    int64_t Minutes;
    bool Seamless;  // every click half a second of sound after the last, within 2 ms
  };
  const Case cases[] = {
      {"steady", {0, 0, 0}, 1, true},
      {"jittery timing reports", {0.0002, 35000, 0, true}, 2, true},
      {"wandering timing reports", {0.0001, 5000, 0, true, 60000}, 2, true},
      {"slow server clock", {-0.0065, 1500, 0}, 10, false},
      {"fast server clock", {0.002, 3000, 0}, 10, false},
      {"blocks missing", {0, 2000, 97}, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SoundTrack track(1);
    // The recording starts at 1 s; its first frame, a period later, is where the file begins.
    const int64_t start = 1000000;
    track.Begin(start, -kPeriodUs);
    // A pause of 2 s in the middle of the first minute.
    const int64_t pauseAt = start + 30000000;
    const int64_t resumeAt = pauseAt + 2000000;
    bool paused = false;
    bool resumed = false;
    const int64_t end = start + c.Minutes * 60000000 + 2000000;

    std::vector<int16_t> block(kBlock * 2);
    std::vector<int16_t> taken;
    uint64_t takenFrames = 0;
    std::vector<int64_t> expected;  // click positions, in frames of the file
    std::vector<int64_t> found;
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> jitter(-c.Sound.JitterUs, c.Sound.JitterUs);
    // A click may be spread over two samples where the sound was resampled.
    int16_t before = 0;
    const auto findClicks = [&] {
      for (size_t i = 0; i < taken.size(); i += 2) {
        if (taken[i] >= kClick / 2 && before < kClick / 2)
          found.push_back(int64_t(takenFrames + i / 2));
        before = taken[i];
      }
      takenFrames += taken.size() / 2;
    };
    int64_t blockIndex = 0;
    // The sound clock: block k holds the samples from k * 10 ms of sound time on.
    for (;; ++blockIndex) {
      const double soundUs = double(blockIndex) * 10000.0;
      const int64_t trueUs = start + int64_t(soundUs / (1.0 + c.Sound.Drift));
      if (trueUs >= end) break;
      if (!paused && trueUs >= pauseAt) {
        track.Pause(pauseAt);
        paused = true;
      }
      if (paused && !resumed && trueUs >= resumeAt) {
        // The active time before the pause, with the first frame's period left out.
        track.Begin(resumeAt, pauseAt - start - kPeriodUs);
        resumed = true;
      }
      const bool click = blockIndex % 50 == 0;
      std::fill(block.begin(), block.end(), int16_t(0));
      if (click) block[0] = block[1] = kClick;
      const bool missing = c.Sound.MissingEvery > 0 && blockIndex % c.Sound.MissingEvery == 0;
      const auto wander =
          int64_t(double(c.Sound.WanderUs) * std::sin(2 * std::numbers::pi * soundUs / 20e6));
      const int64_t stamp = wander + trueUs +
                            (c.Sound.RandomJitter ? jitter(random)
                             : blockIndex % 2     ? c.Sound.JitterUs
                                                  : -c.Sound.JitterUs);
      if (!missing) track.Push(0, block.data(), kBlock, stamp);
      const bool active = trueUs >= start + kPeriodUs && (trueUs < pauseAt || trueUs >= resumeAt);
      if (click && !missing && active) {
        const int64_t activeUs =
            trueUs < pauseAt ? trueUs - start : pauseAt - start + (trueUs - resumeAt);
        expected.push_back((activeUs - kPeriodUs) * 48 / 1000);
      }
      // The writer takes what came about once a frame.
      if (blockIndex % 7 == 0) {
        taken.clear();
        track.Take(taken, trueUs);
        findClicks();
      }
    }
    taken.clear();
    track.Finish(taken, takenFrames + 48000);
    findClicks();

    // Every click that was captured while recording is in the file, none of the pause's, and
    // each lies within a frame period of its moment on the recording's time line. A click may
    // only be lost where an overlap was dropped.
    ASSERT_FALSE(expected.empty());
    ASSERT_FALSE(found.empty());
    // Where sound was lost or drift outran the resampling, up to the bound more.
    const int64_t tolerance = kPeriodUs * 48 / 1000 + (c.Seamless ? 0 : SoundTrack::kBound);
    size_t matched = 0;
    int64_t worst = 0;
    for (const int64_t want : expected) {
      int64_t best = INT64_MAX;
      for (const int64_t got : found) best = std::min<int64_t>(best, std::llabs(got - want));
      if (best <= tolerance) ++matched;
      worst = std::max(worst, best);
    }
    EXPECT_GE(matched, expected.size() * 97 / 100) << "worst offset " << worst << " frames";
    EXPECT_LE(found.size(), expected.size());
    // Drift and jitter are followed by resampling, never by a hole or a cut: the clicks stay
    // evenly spaced (but across the pause).
    if (c.Seamless) {
      // The pause's place in the file: the sound is cut there by the blocks' stamps, as they
      // err (a tenth of a second either way).
      const int64_t pausedAt = (pauseAt - start - kPeriodUs) * 48 / 1000;
      int64_t worstStep = 0;
      for (size_t i = 1; i < found.size(); ++i) {
        const int64_t step = found[i] - found[i - 1];
        if (found[i - 1] < pausedAt + 4800 && found[i] > pausedAt - 4800) continue;
        worstStep = std::max<int64_t>(worstStep, std::llabs(step - 24000));
      }
      EXPECT_LE(worstStep, 2 * 48) << "frames between clicks off by up to " << worstStep;
    }
    // At the start and at the end.
    for (const int64_t want : {expected.front(), expected.back()}) {
      int64_t best = INT64_MAX;
      for (const int64_t got : found) best = std::min<int64_t>(best, std::llabs(got - want));
      EXPECT_LE(best, tolerance) << "at " << want;
    }
  }
}

TEST(SoundTrackTest, InputsAreMixedAndAnInputThatIsGoneOrFarBehindGivesSilence) {
  SoundTrack track(2);
  track.Begin(0, 0);
  std::vector<int16_t> block(kBlock * 2, 1000);
  // Both inputs deliver the first 100 ms: the sum.
  for (int k = 0; k < 10; ++k) {
    track.Push(0, block.data(), kBlock, k * 10000);
    track.Push(1, block.data(), kBlock, k * 10000);
  }
  std::vector<int16_t> out;
  EXPECT_EQ(track.Take(out, 100000), size_t(4800));
  EXPECT_EQ(out[100], 2000);
  // The second stops: the first is taken alone once the second is half a second behind.
  for (int k = 10; k < 100; ++k) track.Push(0, block.data(), kBlock, k * 10000);
  out.clear();
  EXPECT_EQ(track.Take(out, 700000), size_t(700 - 100 - 500) * 48);
  track.Lose(1);
  out.clear();
  EXPECT_EQ(track.Take(out, 1000000), size_t(1000 - 200) * 48);
  EXPECT_EQ(out.back(), 1000);
  // The end: silence up to the length of the pictures.
  out.clear();
  EXPECT_EQ(track.Finish(out, 96000), size_t(48000));
  EXPECT_EQ(out.back(), 0);
  EXPECT_GE(track.TakePeak(), 2000);
}

}  // namespace
}  // namespace qm
