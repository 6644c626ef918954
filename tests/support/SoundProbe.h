#pragma once

#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/MediaProbe.h"

namespace qm::test {

// The sound stream of a file, as two independent decoders give it: ffmpeg, or GStreamer's
// AVI demuxer and decoders. Mono (the channels averaged), 16-bit, 48 kHz; empty when the
// decoder failed, with its complaint in *errors.
inline std::vector<int16_t> DecodeSound(const QString& path, bool gstreamer,
                                        QString* errors = nullptr) {
  bool ok = false;
  const QByteArray raw =
      gstreamer ? MediaProbe::Run(
                      QStringLiteral("gst-launch-1.0"),
                      {"-q", "filesrc", "location=" + path, "!", "avidemux", "name=d", "d.audio_0",
                       "!", "decodebin", "!", "audioconvert", "!", "audioresample", "!",
                       "audio/x-raw,format=S16LE,channels=1,rate=48000", "!", "fdsink", "fd=1"},
                      &ok, errors)
                : MediaProbe::Run(QStringLiteral("ffmpeg"),
                                  {"-v", "error", "-i", path, "-map", "0:a", "-f", "s16le", "-ac",
                                   "1", "-ar", "48000", "-"},
                                  &ok, errors);
  std::vector<int16_t> samples(ok ? size_t(raw.size()) / 2 : 0);
  if (!samples.empty()) std::memcpy(samples.data(), raw.constData(), samples.size() * 2);
  return samples;
}

// The strongest frequency between 100 Hz and 4 kHz (in steps of 5 Hz) of count samples at
// from, by Goertzel's filter.
inline double DominantFrequency(const std::vector<int16_t>& samples, size_t from, size_t count) {
  double best = 0;
  double bestPower = -1;
  for (double f = 100; f <= 4000; f += 5) {
    const double coefficient = 2 * std::cos(2 * M_PI * f / 48000);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < from + count && i < samples.size(); ++i) {
      const double s0 = samples[i] + coefficient * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    if (power > bestPower) {
      bestPower = power;
      best = f;
    }
  }
  return best;
}

inline double Rms(const std::vector<int16_t>& samples, size_t from, size_t count) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = from; i < from + count && i < samples.size(); ++i, ++n)
    sum += double(samples[i]) * samples[i];
  return n ? std::sqrt(sum / double(n)) : 0;
}

// ffprobe's codec name and duration of the file's first stream of kind ("audio" or
// "video"); an empty name when there is none.
struct ProbedStream {
  QString Codec;
  double Duration = -1;
  int Streams = 0;
};
inline ProbedStream ProbeStream(const QString& path, const QString& kind) {
  bool ok = false;
  const QString out = QString::fromUtf8(
      MediaProbe::Run(QStringLiteral("ffprobe"),
                      {"-v", "error", "-show_entries", "stream=codec_type,codec_name,duration",
                       "-of", "csv=p=0", path},
                      &ok));
  ProbedStream stream;
  for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList fields = line.split(QLatin1Char(','));
    ++stream.Streams;
    if (fields.size() >= 3 && fields[1] == kind && stream.Codec.isEmpty()) {
      stream.Codec = fields[0];
      bool isNumber = false;
      const double duration = fields[2].toDouble(&isNumber);
      stream.Duration = isNumber ? duration : -1;
    }
  }
  return stream;
}

}  // namespace qm::test
