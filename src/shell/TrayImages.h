#pragma once

#include <QImage>
#include <QList>

namespace qm {

// The tray icon's four image lists, 16 x 16 each, drawn by code at a device pixel ratio so
// that they stay sharp on high-density screens. Every image has a dark outline around light or
// coloured parts, so it reads on light and on dark panels. Any thread with a ratio given (the
// images are plain QImages); the default ratio is read on the user-interface thread.
class TrayImages {
 public:
  // The highest device pixel ratio of the screens, rounded up to a whole number.
  static qreal ScreenRatio();
  // Idle: a quill whose nib gathers and lets go a drop of ink (8 frames).
  static QList<QImage> Still(qreal ratio = ScreenRatio());
  // Recording: a red dot with a ring that pulses outwards (8 frames).
  static QList<QImage> Recording(qreal ratio = ScreenRatio());
  // Paused: a pause sign that blinks (2 frames).
  static QList<QImage> Paused(qreal ratio = ScreenRatio());
  // Taking a photo: a shutter whose blades close and open again (9 frames).
  static QList<QImage> Photo(qreal ratio = ScreenRatio());
};

}  // namespace qm
