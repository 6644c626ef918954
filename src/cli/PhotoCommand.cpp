#include <cstdio>
#include <new>
#include <optional>

#include "capture/Grabber.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/ScreenChoice.h"
#include "common/DIBBitmap.h"
#include "common/SilentAbort.h"
#include "pictures/PictureError.h"
#include "pictures/PictureStore.h"

namespace qm::cli {

namespace {

struct PhotoOptions : CaptureOptions {
  PictureType Type = PictureType::Gif;
  int JpegPosition = kDefaultJpegPosition;
};

PhotoOptions ParsePhotoOptions(const QStringList& args) {
  PhotoOptions options;
  const CommandLine line = ReadCommandLine("photo", args);
  for (const CommandLine::Option& option : line.Options) {
    if (option.Name == QLatin1String("--quality"))
      options.JpegPosition = ParseInt(option.Value, 0, kMaxJpegPosition, option.Name);
    else
      TakeCaptureOption(option, options);
  }
  TakeOutputFile(line.Others, options, "photo");
  const std::optional<PictureType> type = PictureTypeOfFile(options.File);
  if (!type)
    throw UsageError("photo stores .gif, .jpg or .bmp files, not " + options.File.toStdString());
  options.Type = *type;
  return options;
}

}  // namespace

int RunPhoto(const QStringList& args) {
  const PhotoOptions options = ParsePhotoOptions(args);

  const ChosenScreen screen = OpenScreen(options);
  if (!screen.Ok) return kExitFailed;
  const std::optional<Rect> chosen = AreaToCapture(options, screen.Source);
  if (!chosen) return kExitFailed;
  const Rect area = *chosen;

  try {
    DIBBitmap bitmap;
    // An area too large for a bitmap is reported (to standard error) and ends here.
    bitmap.SetFormat(area.Width(), area.Height(), PixelFormat::Bits24);
    Grabber grabber;
    if (screen.Source) grabber.UseSource(screen.Source);
    Rect captured;
    if (!grabber.Grab(bitmap, Point{area.Left, area.Top}, captured, options.FollowCursor,
                      options.ShowCursor)) {
      PrintError(grabber.Failure());
      return kExitFailed;
    }
    StorePicture(bitmap, options.Type, options.JpegPosition, options.File);
    std::printf("%s: %d,%d,%d,%d\n", options.File.toLocal8Bit().constData(), captured.Left,
                captured.Top, captured.Width(), captured.Height());
    std::fflush(stdout);
    return kExitOk;
  } catch (const SilentAbort&) {
    return kExitFailed;  // the reason has been written already
  } catch (const PictureError& e) {
    PrintError(QString::fromStdString(e.what()));
    return kExitFailed;
  } catch (const std::bad_alloc&) {
    PrintError(QStringLiteral("Not enough memory for a picture of %1 x %2")
                   .arg(area.Width())
                   .arg(area.Height()));
    return kExitFailed;
  }
}

}  // namespace qm::cli
