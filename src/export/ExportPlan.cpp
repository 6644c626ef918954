#include "export/ExportPlan.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace qm {

namespace {

struct KindName {
  const char* Extension;
  ExportKind Kind;
};
constexpr KindName kKinds[] = {{"mp4", ExportKind::Mp4},
                               {"webm", ExportKind::WebM},
                               {"mkv", ExportKind::Matroska},
                               {"gif", ExportKind::Gif}};

int Even(double side) {
  return std::max(2, int(std::lround(side)) / 2 * 2);
}

}  // namespace

std::optional<ExportKind> ExportPlan::KindOf(const QString& output) {
  const QString suffix = QFileInfo(output).suffix().toLower();
  for (const KindName& kind : kKinds)
    if (suffix == QLatin1String(kind.Extension)) return kind.Kind;
  return std::nullopt;
}

QString ExportPlan::KindNames() {
  QStringList names;
  for (const KindName& kind : kKinds) names << QLatin1String(kind.Extension);
  return names.join(QStringLiteral(", "));
}

QString ExportPlan::ExtensionOf(ExportKind kind) {
  for (const KindName& named : kKinds)
    if (named.Kind == kind) return QLatin1String(named.Extension);
  return QString();
}

ExportPlan ExportPlan::Make(const ExportRequest& request, ExportKind kind,
                            const RecordingInfo& info) {
  ExportPlan plan;
  plan.Kind = kind;
  plan.From = request.From.value_or(0);
  plan.To = std::min(request.To.value_or(info.Duration), info.Duration);
  if (plan.From >= plan.To)
    throw std::invalid_argument(QStringLiteral("Nothing to export: the recording is %1 s long")
                                    .arg(info.Duration, 0, 'f', 1)
                                    .toStdString());

  // Scaled down only, the aspect kept; both sides even, as the encoders need.
  const double width = request.Width > 0 && request.Width < info.Width ? request.Width : info.Width;
  plan.Width = Even(width);
  plan.Height = Even(width * info.Height / std::max(info.Width, 1));

  const double source = info.FrameRate > 0 ? info.FrameRate : kGifMaxFps;
  double fps = request.Fps > 0 ? request.Fps : 0;
  if (kind == ExportKind::Gif) fps = std::min(fps > 0 ? fps : kGifFps, double(kGifMaxFps));
  plan.Fps = fps > 0 && fps < source - 1e-6 ? fps : 0;
  // A GIF keeps its delays in hundredths of a second whatever the rate.
  if (kind == ExportKind::Gif && plan.Fps == 0 && source > kGifMaxFps) plan.Fps = kGifMaxFps;

  plan.CopyVideo = info.VideoCodec == QLatin1String("h264") &&
                   (kind == ExportKind::Mp4 || kind == ExportKind::Matroska) &&
                   plan.Width == info.Width && plan.Height == info.Height && plan.Fps == 0;
  return plan;
}

}  // namespace qm
