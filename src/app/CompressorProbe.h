#pragma once

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/codecs/EncoderTypes.h"

namespace qm {

// Measures how long a compressor takes for one frame of a given size, on a thread of its own
// (at a lowered priority), so that a compressor that cannot keep up with the chosen rate is
// flagged before a recording starts. The thread starts with the first measurement and is
// joined by the destructor; each result comes back queued to the user-interface thread.
// User-interface thread only.
class CompressorProbe : public QObject {
  Q_OBJECT

 public:
  struct Job {
    uint32_t Code = 0;  // the compressor's handler code
    std::optional<EncoderSettings> Options;
    int Width = 0;
    int Height = 0;
    // What its sequence is told; the time of a frame hardly depends on it.
    int FramesPerSecond = 15;
  };

  explicit CompressorProbe(QObject* parent = nullptr);
  // Waits for the measurement under way.
  ~CompressorProbe() override;
  CompressorProbe(const CompressorProbe&) = delete;
  CompressorProbe& operator=(const CompressorProbe&) = delete;

  // Measures job; a job not yet begun is replaced by the newer one.
  void Measure(const Job& job);

  // One frame of width x height through the compressor, timed: the frames per second it
  // manages at that size, 0 when it cannot take the size. Any thread.
  static double FramesPerSecond(const Job& job);

 signals:
  // job's compressor manages framesPerSecond (0: it could not be measured).
  void Measured(uint32_t code, int width, int height, double framesPerSecond);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Job> next_;  // guarded by mutex_
  bool stop_ = false;        // likewise
  std::thread thread_;
};

}  // namespace qm
