#include "app/CompressorProbe.h"

#include <QMetaObject>

#include <chrono>
#include <utility>

#include "capture/WriterThread.h"
#include "video/AviCompress.h"

namespace qm {

CompressorProbe::CompressorProbe(QObject* parent) : QObject(parent) {}

CompressorProbe::~CompressorProbe() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    next_.reset();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CompressorProbe::Measure(const Job& job) {
  {
    std::lock_guard lock(mutex_);
    next_ = job;
  }
  wake_.notify_all();
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void CompressorProbe::Run() {
  LowerCurrentThreadPriority();
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || next_; });
    if (stop_) return;
    const Job job = *std::exchange(next_, std::nullopt);
    lock.unlock();
    const double rate = FramesPerSecond(job);
    QMetaObject::invokeMethod(
        this, [this, job, rate] { emit Measured(job.Code, job.Width, job.Height, rate); },
        Qt::QueuedConnection);
    lock.lock();
  }
}

double CompressorProbe::FramesPerSecond(const Job& job) {
  AviCompress compressor;
  if (job.Code == 0 || !compressor.Select(job.Code) || compressor.CurrentCode() != job.Code ||
      !compressor.FrameSizeProblem(job.Width, job.Height).isEmpty())
    return 0;
  if (job.Options) compressor.SetOptions(*job.Options);
  CompressRequest request;
  request.FrameRate = job.FramesPerSecond;
  request.Width = job.Width;
  request.Height = job.Height;
  request.FrameCountHint = 1000;
  if (!compressor.Begin(request)) return 0;
  // A picture like a desktop's: flat areas in a few shades, framed by thin lines.
  DIBBitmap& bitmap = compressor.Bitmap();
  uint8_t* bits = bitmap.Bits();
  const size_t size = bitmap.ImageSize();
  const size_t width = size_t(job.Width);
  for (size_t i = 0; i < size; ++i) {
    const size_t x = i / 3 % width, y = i / 3 / width;
    bits[i] = x % 64 == 0 || y % 48 == 0 ? 0x20 : uint8_t(0x60 + (x / 64 + y / 48) % 5 * 0x28);
  }
  CompressedFrame frame;
  const auto start = std::chrono::steady_clock::now();
  const bool compressed = compressor.Compress(frame);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  compressor.End();
  if (!compressed || seconds <= 0) return 0;
  return 1.0 / seconds;
}

}  // namespace qm
