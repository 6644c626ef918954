#pragma once

#include <QDialog>

#include <functional>

namespace qm {

// "There is a new update": the version and the release notes as plain text, "Download" (which
// calls download and leaves the window open) and "Close". User-interface thread only.
class UpdateWindow : public QDialog {
  Q_OBJECT

 public:
  UpdateWindow(const QString& caption, const QString& text, std::function<void()> download,
               QWidget* parent);
};

}  // namespace qm
