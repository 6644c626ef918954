#pragma once

#include <QIcon>

namespace qm {

// Quillmark's own icon (a quill over a recording dot) at every size the build rendered, from
// the Qt resources. The window, the application and the About box show it; the tray keeps its
// own 16 x 16 images.
QIcon AppIcon();

}  // namespace qm
