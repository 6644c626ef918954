#pragma once

#include <QString>

#include <optional>

#include "platform/media/MediaTypes.h"

namespace qm {

// The kinds of file a recording is exported to, by the output's extension.
enum class ExportKind { Mp4, WebM, Matroska, Gif };

// What the user asked for.
struct ExportRequest {
  QString Input;
  QString Output;
  std::optional<double> From;  // seconds
  std::optional<double> To;
  int Width = 0;  // 0: the recording's
  int Fps = 0;    // 0: the recording's (GIF: at most kGifFps)
  bool Force = false;
};

// What an export does with a given recording: the span, the size, the rate and whether the
// pictures go in unchanged.
struct ExportPlan {
  // GIF's default rate limit: enough for screen content, small files.
  static constexpr int kGifFps = 15;
  // The highest rate a GIF shows right in browsers (2 hundredths of a second a frame).
  static constexpr int kGifMaxFps = 50;

  ExportKind Kind = ExportKind::Mp4;
  double From = 0;
  double To = 0;
  int Width = 0;
  int Height = 0;
  double Fps = 0;  // 0: every picture
  bool CopyVideo = false;

  // The kind that output's extension names, or nullopt.
  static std::optional<ExportKind> KindOf(const QString& output);
  // "mp4, webm, mkv, gif".
  static QString KindNames();
  // The extension of the kind, without its dot: "mp4", "webm", "mkv", "gif".
  static QString ExtensionOf(ExportKind kind);

  // The plan for a recording; std::invalid_argument (the message for the user) when the
  // span lies outside it.
  static ExportPlan Make(const ExportRequest& request, ExportKind kind, const RecordingInfo& info);
};

}  // namespace qm
