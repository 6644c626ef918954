#include "capture/RecordingProgress.h"

#include <algorithm>

namespace qm {

namespace {

// The span of active time over which the rate is judged: a writer that falls behind shows
// within three seconds of fed figures.
constexpr uint32_t kWindowMs = 2000;
// Frames a writer that keeps up may still owe: the one being written and the one waiting.
constexpr double kFramesInFlight = 2;
// The share of the frames due that a writer in step delivers at least.
constexpr double kInStep = 0.9;

// Fewer frames than a writer in step delivers for that many due.
bool Behind(double frames, double due) {
  return frames + kFramesInFlight < kInStep * due;
}

QString Duration(uint32_t milliseconds) {
  const uint32_t seconds = milliseconds / 1000;
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Below a megabyte in kilobytes, never "0.0 MB".
QString Megabytes(int64_t bytes) {
  const double mb = double(std::max<int64_t>(bytes, 0)) / 1e6;
  if (mb < 1) return QString::number(std::max<int64_t>(bytes, 0) / 1000) + QStringLiteral(" KB");
  return QString::number(mb, 'f', mb < 10 ? 1 : 0) + QStringLiteral(" MB");
}

}  // namespace

RecordingProgress::RecordingProgress(int framesPerSecond) : fps_(std::max(framesPerSecond, 1)) {
  // A recording starts with no frames at no time: the first window is judged from there.
  samples_.push_back({0, 0});
}

QString RecordingProgress::Update(const RecordingFigures& figures) {
  // A pause adds no active time: its samples would only repeat the last one.
  if (samples_.empty() || figures.ActiveMs > samples_.back().ActiveMs)
    samples_.push_back({figures.ActiveMs, figures.Frames});
  // The newest sample at least a window old is where the window starts.
  while (samples_.size() > 1 && figures.ActiveMs - samples_[1].ActiveMs >= kWindowMs)
    samples_.pop_front();
  const Sample& first = samples_.front();
  const uint32_t span = figures.ActiveMs - first.ActiveMs;
  if (span >= kWindowMs && figures.Frames >= first.Frames) {
    const double frames = figures.Frames - first.Frames;
    const double expected = double(fps_) * span / 1000.0;
    tooSlow_ = Behind(frames, expected);
    slowRate_ = frames * 1000.0 / span;
  }

  // A monitor unplugged or changed under the area: its part of the frames is black now.
  const QString monitors =
      figures.MonitorsChanged ? QStringLiteral(" - monitors changed") : QString();
  const QString time =
      Duration(figures.ActiveMs) + monitors + QStringLiteral(" - ") + Megabytes(figures.Bytes);
  if (figures.Paused) return (QStringLiteral("Paused ") + time).left(64);
  QString rate;
  if (tooSlow_) {
    rate = QStringLiteral("too slow: %1 of %2 fps").arg(slowRate_, 0, 'f', 1).arg(fps_);
  } else {
    const double achieved =
        figures.ActiveMs == 0 ? 0 : figures.Frames * 1000.0 / double(figures.ActiveMs);
    rate = QStringLiteral("%1/%2 fps").arg(achieved, 0, 'f', 1).arg(fps_);
  }
  return (QStringLiteral("Recording ") + time + QStringLiteral(" - ") + rate).left(64);
}

QString RecordingProgress::MonitorsNote() {
  return QStringLiteral(
      "The monitors changed during the recording: what no monitor showed any more is black");
}

QString RecordingProgress::KeptNote(uint32_t frames, uint32_t activeMs, int framesPerSecond) {
  const uint64_t due = uint64_t(activeMs) * uint64_t(std::max(framesPerSecond, 1)) / 1000;
  if (!Behind(frames, double(due))) return QString();
  return QStringLiteral("kept %1 of %2 frames: the compressor is too slow for this size")
      .arg(frames)
      .arg(due);
}

}  // namespace qm
