#include "export/Exporter.h"

#include <QFile>
#include <QLocale>

#include <new>
#include <stdexcept>

#include "export/ExportError.h"
#include "export/GifAnimation.h"
#include "export/OutputFile.h"
#include "export/RecordingSource.h"
#include "export/TrimSchedule.h"
#include "pictures/GIFError.h"
#include "platform/media/MediaError.h"
#include "platform/media/RecordingReader.h"
#include "platform/media/ShareableWriter.h"

namespace qm {

namespace {

const char* KindText(ExportKind kind) {
  switch (kind) {
    case ExportKind::Mp4:
      return "MP4";
    case ExportKind::WebM:
      return "WebM";
    case ExportKind::Matroska:
      return "Matroska";
    case ExportKind::Gif:
      return "GIF";
  }
  return "";
}

void WriteGif(RecordingReader& reader, const ExportPlan& plan, OutputFile& output,
              const MediaProgress& progress) {
  QFile file;
  if (!file.open(output.Descriptor(), QIODevice::WriteOnly, QFile::DontCloseHandle))
    throw GIFError("Can not write GIF data: " + file.errorString().toStdString());
  GifAnimation animation(file, plan.Width, plan.Height);
  TrimSchedule schedule(plan.From, plan.To, plan.Fps);
  bool any = false;
  reader.Read(
      schedule, plan.From, plan.To, plan.Width, plan.Height,
      [&](const RgbPicture& picture) {
        animation.Add(picture);
        any = true;
      },
      progress);
  if (!any) throw MediaError("The recording has no pictures to export");
  animation.Finish(plan.To - plan.From);
  if (!file.flush()) throw GIFError("Can not write GIF data: " + file.errorString().toStdString());
}

}  // namespace

QString Exporter::Run(const ExportRequest& request, const MediaProgress& progress) {
  const std::optional<ExportKind> kind = ExportPlan::KindOf(request.Output);
  if (!kind)
    throw ExportError(
        ("Unknown kind of file; the kinds are " + ExportPlan::KindNames()).toStdString());
  try {
    OutputFile output(request.Output, request.Input, request.Force);
    RecordingSource source(request.Input, output.Place(), output.FolderPath());
    RecordingReader reader(source.Path());
    ExportPlan plan;
    try {
      plan = ExportPlan::Make(request, *kind, reader.Info());
    } catch (const std::invalid_argument& e) {
      throw ExportError(e.what());
    }
    output.Create();
    if (*kind == ExportKind::Gif) {
      WriteGif(reader, plan, output, progress);
    } else {
      TrimSchedule schedule(plan.From, plan.To, plan.Fps);
      ShareJob job;
      job.Kind = *kind == ExportKind::Mp4    ? ShareKind::Mp4
                 : *kind == ExportKind::WebM ? ShareKind::WebM
                                             : ShareKind::Matroska;
      job.OutputFd = output.Descriptor();
      job.OutputPath = output.TemporaryPath();
      job.OutputName = request.Output;
      job.From = plan.From;
      job.To = plan.To;
      job.CopyVideo = plan.CopyVideo;
      job.Width = plan.Width;
      job.Height = plan.Height;
      job.Schedule = &schedule;
      ShareableWriter::Write(source.Path(), job, progress);
    }
    output.Commit();
    const qint64 bytes = QFile(request.Output).size();
    return QStringLiteral("%1: %2, %3x%4, %5 s, %6")
        .arg(request.Output, QLatin1String(KindText(*kind)))
        .arg(plan.Width)
        .arg(plan.Height)
        .arg(plan.To - plan.From, 0, 'f', 1)
        .arg(QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat));
  } catch (const MediaError& e) {
    throw ExportError(e.what());
  } catch (const MediaCancelled& e) {
    throw ExportError(e.what());
  } catch (const GIFError& e) {
    throw ExportError(e.what());
  } catch (const std::bad_alloc&) {
    throw ExportError("Not enough memory to export " + request.Input.toStdString());
  }
}

}  // namespace qm
