#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

#include "common/Rect.h"
#include "common/ScreenSource.h"
#include "pictures/PictureStore.h"

namespace qm {

// What a photo reads from the window when it is taken.
struct PhotoJob {
  Rect Area;                  // already refreshed from the picked window in object mode
  bool FollowCursor = false;  // already false in object mode
  PictureType Type = PictureType::Gif;
  int JpegPosition = kDefaultJpegPosition;
  QString OutputFolder;  // ends in "/"
  uint64_t Window = 0;   // the picked window, for the flash
  bool FixedSize = true;
  bool WholeSource = false;  // a shared window is photographed whole ("Selected object")
};

// What the photo asks of the window. User-interface thread only.
class PhotoView {
 public:
  virtual ~PhotoView() = default;
  virtual bool IsRecording() = 0;
  virtual PhotoJob CurrentPhotoJob() = 0;
  // The window leaves the screen for the grab and comes back at its place.
  virtual void HideForSnapshot() = 0;
  virtual void ShowAfterSnapshot() = 0;
  // The tray shows the photo animation while on.
  virtual void ShowPhotoImages(bool on) = 0;
  virtual void Beep() = 0;
  // The status bar names the photo's file.
  virtual void ShowPhotoFile(const QString& path) = 0;
  // Outlines the captured rectangle for a moment, on the shared screen's picture when the photo
  // came from one (source); returns when the outline is gone.
  virtual void Flash(const Rect& captured, uint64_t window, bool fixedSize,
                     const std::shared_ptr<ScreenSource>& source) = 0;
  // As RecordingView::OpenScreen.
  virtual bool OpenScreen(std::shared_ptr<ScreenSource>& source) {
    (void)source;
    return true;
  }
};

// Single photos of the capture area: the window leaves the screen, 100 ms later the area is
// grabbed (with the cursor) and stored in this run's picture folder as "B" + an 8-digit
// counter, then the captured rectangle is outlined. User-interface thread only.
class PhotoController : public QObject {
  Q_OBJECT

 public:
  explicit PhotoController(PhotoView& view, std::function<QString()> stamp = nullptr,
                           QObject* parent = nullptr);

  // Tray "Take single photo" and the photo shortcut. Ignored while recording and while a
  // photo (or its outline) is still on its way.
  void TakePhoto();
  bool IsPending() const { return pending_; }

  // This run's picture folder once it exists (in the output folder of the last photo); empty
  // before.
  const QString& PictureFolder() const { return pictureFolder_; }
  int Counter() const { return counter_; }

 signals:
  // A photo request has been handled, stored or not.
  void Finished(bool stored);

 private:
  void TimerFired();
  // Grabs and stores; the captured rectangle and the shared screen it came from (null: the X
  // screen) on success.
  bool Take(const PhotoJob& job, Rect& captured, std::shared_ptr<ScreenSource>& source);

  PhotoView& view_;
  std::function<QString()> stamp_;
  QTimer timer_;
  bool pending_ = false;
  QString pictureFolder_;
  QString pictureBase_;  // the output folder pictureFolder_ lies in
  int counter_ = 1;
};

}  // namespace qm
