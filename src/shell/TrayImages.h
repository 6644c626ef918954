#pragma once

#include <QImage>
#include <QList>

namespace qm {

// The tray icon's four image lists, 16 x 16 pixels each, drawn by code. Every image has a
// dark outline around light or coloured parts, so it reads on light and on dark panels.
// Any thread (the images are plain QImages).
class TrayImages {
 public:
  // Idle: a quill whose nib gathers and lets go a drop of ink (8 frames).
  static QList<QImage> Still();
  // Recording: a red dot with a ring that pulses outwards (8 frames).
  static QList<QImage> Recording();
  // Paused: a pause sign that blinks (2 frames).
  static QList<QImage> Paused();
  // Taking a photo: a shutter whose blades close and open again (9 frames).
  static QList<QImage> Photo();
};

}  // namespace qm
