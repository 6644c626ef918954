#include "app/PhotoController.h"

#include <QFile>
#include <QFileInfo>

#include <new>

#include "capture/Grabber.h"
#include "common/DIBBitmap.h"
#include "common/Stamps.h"
#include "common/UserMessages.h"
#include "pictures/PictureError.h"
#include "platform/files/UserFolders.h"

namespace qm {

namespace {

constexpr int kPhotoDelayMilliseconds = 100;

}  // namespace

PhotoController::PhotoController(PhotoView& view, std::function<QString()> stamp, QObject* parent)
    : QObject(parent),
      view_(view),
      stamp_(stamp ? std::move(stamp) : [] { return TimeStampDigits(); }) {
  timer_.setSingleShot(true);
  timer_.setInterval(kPhotoDelayMilliseconds);
  connect(&timer_, &QTimer::timeout, this, &PhotoController::TimerFired);
}

void PhotoController::TakePhoto() {
  // A second request while one is on its way would take the window's off-screen state for
  // its place; it is ignored until the first one (and its outline) is done.
  if (pending_ || view_.IsRecording()) return;
  pending_ = true;
  view_.HideForSnapshot();
  view_.ShowPhotoImages(true);
  timer_.start();
}

void PhotoController::TimerFired() {
  // Whatever ends this request, also an exception on its way to the event loop's handler,
  // the next one is taken.
  struct Done {
    bool& Pending;
    ~Done() { Pending = false; }
  } done{pending_};
  view_.Beep();
  PhotoJob job;
  Rect captured;
  std::shared_ptr<ScreenSource> source;
  bool stored = false;
  {
    // The window and the tray come back whatever happens in the grab and the store.
    struct Restore {
      PhotoView& View;
      ~Restore() {
        View.ShowAfterSnapshot();
        View.ShowPhotoImages(false);
      }
    } restore{view_};
    job = view_.CurrentPhotoJob();
    stored = Take(job, captured, source);
  }
  if (stored) view_.Flash(captured, job.Window, job.FixedSize, source);
  pending_ = false;
  emit Finished(stored);
}

bool PhotoController::Take(const PhotoJob& job, Rect& captured,
                           std::shared_ptr<ScreenSource>& source) {
  Grabber grabber;
  if (!view_.OpenScreen(source)) return false;
  if (source) grabber.UseSource(source);
  // As in a recording: on a shared screen the area is placed on the monitor or window the
  // desktop shares, and a shared window is taken whole.
  const Rect area = source ? Grabber::AreaOnSource(job.Area, job.WholeSource, *source) : job.Area;
  DIBBitmap bitmap;
  try {
    if (!bitmap.SetFormat(area.Width(), area.Height(), PixelFormat::Bits24)) return false;
  } catch (const std::bad_alloc&) {
    ShowMessage(QStringLiteral("Not enough memory for a picture of %1 x %2")
                    .arg(area.Width())
                    .arg(area.Height()));
    return false;
  }
  // The cursor is drawn into every photo.
  if (!grabber.Grab(bitmap, Point{area.Left, area.Top}, captured, job.FollowCursor, true)) {
    ShowMessage(grabber.Failure());
    return false;
  }

  // The run's folder is fixed only once it exists, so a photo after the user picked a usable
  // output folder lands there instead of failing for the rest of the run. It follows the base
  // folder when that changes, and is made again when it has gone meanwhile.
  QString folder = pictureFolder_;
  if (folder.isEmpty() || pictureBase_ != job.OutputFolder)
    folder = job.OutputFolder + QStringLiteral("B") + stamp_() + QStringLiteral("/");
  const bool fresh = !QFileInfo(folder).isDir();
  const QString folderProblem = MakeFolders(folder);
  if (folderProblem.isEmpty()) {
    // Each picture folder counts its own photos from 1, one made again too.
    if (fresh || folder != pictureFolder_) counter_ = 1;
    pictureFolder_ = folder;
    pictureBase_ = job.OutputFolder;
  }
  const QString path = folder + QStringLiteral("B%1.").arg(counter_, 8, 10, QLatin1Char('0')) +
                       PictureExtension(job.Type);
  view_.ShowPhotoFile(path);
  // The folder's own failure is the reason the picture cannot be stored.
  if (!folderProblem.isEmpty()) {
    ShowMessage(folderProblem);
    return false;
  }

  if (QFileInfo::exists(path) && !QFile::remove(path)) {
    ShowMessage(QStringLiteral("Can not delete file ") + path);
    return false;
  }
  try {
    StorePicture(bitmap, job.Type, job.JpegPosition, path);
  } catch (const std::exception& e) {
    ShowMessage(QString::fromStdString(e.what()));
    return false;
  }
  // Only a stored photo takes its number.
  ++counter_;
  return true;
}

}  // namespace qm
