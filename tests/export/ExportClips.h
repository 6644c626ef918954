#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <thread>
#include <vector>

#include "support/MediaProbe.h"
#include "support/ToolRun.h"
#include "support/XScreen.h"

namespace qm::test {

// Recordings made for the export tests: by quillmark-capture on the test display (colours
// shown one after another, so most frames repeat the one before), or by ffmpeg from its own
// sources where the content must be exact (a flash and a beep at the same time).
constexpr int kClipWidth = 320;
constexpr int kClipHeight = 240;

inline bool RecordColours(const QString& file, const QString& codec,
                          const std::vector<Colour>& colours, double each = 1.0) {
  XScreen screen;
  if (!screen.Ok()) return false;
  const Rect area{0, 0, kClipWidth, kClipHeight};
  screen.Show(area, [&](int32_t, int32_t) { return colours.front(); });
  QProcess tool;
  StartTool(tool, {"record", file, "--area", "0,0,320,240", "--fps", "10", "--seconds",
                   QString::number(double(colours.size()) * each), "--codec", codec, "--quiet"});
  for (size_t i = 1; i <= colours.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(int(each * 1000)));
    if (i < colours.size()) screen.Show(area, [&](int32_t, int32_t) { return colours[i]; });
  }
  return FinishTool(tool).ExitCode == 0;
}

// ffmpeg writes file from a lavfi graph (and optionally a second one for the sound).
inline bool FfmpegClip(const QString& file, const QString& video, const QStringList& codecs,
                       const QString& sound = QString()) {
  QStringList args{"-v", "error", "-y", "-f", "lavfi", "-i", video};
  if (!sound.isEmpty())
    args << "-f"
         << "lavfi"
         << "-i" << sound;
  bool ok = false;
  MediaProbe::Run(QStringLiteral("ffmpeg"), args + codecs + QStringList{file}, &ok);
  return ok;
}

// One ffprobe field of every packet of a file's first video stream, as numbers.
inline std::vector<double> PacketField(const QString& file, const QString& field,
                                       const QString& stream = QStringLiteral("v:0")) {
  bool ok = false;
  const QByteArray out = MediaProbe::Run(QStringLiteral("ffprobe"),
                                         {"-v", "error", "-select_streams", stream, "-show_entries",
                                          "packet=" + field + ",size", "-of", "csv=p=0", file},
                                         &ok);
  std::vector<double> values;
  for (const QByteArray& line : out.split('\n')) {
    const QList<QByteArray> parts = line.split(',');
    // Empty chunks (repeated frames) are no pictures of their own.
    if (parts.size() == 2 && parts[1].toInt() > 0) values.push_back(parts[0].toDouble());
  }
  return values;
}

// ffprobe's duration of the file in seconds.
inline double FileDuration(const QString& file) {
  bool ok = false;
  return MediaProbe::Run(
             QStringLiteral("ffprobe"),
             {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", file}, &ok)
      .trimmed()
      .toDouble();
}

}  // namespace qm::test
