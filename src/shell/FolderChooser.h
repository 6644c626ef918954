#pragma once

#include <QString>

class QWidget;

namespace qm {

// The folder text with its final "/" (files are named by appending to it); an empty text
// stays empty.
QString WithFinalSlash(const QString& folder);

// The desktop's folder browser: folders only, opened at the current folder when that exists.
class FolderChooser {
 public:
  // comment: the instruction shown as the browser's title.
  FolderChooser(QWidget* parent, const QString& comment) : parent_(parent), comment_(comment) {}

  // The folder to preselect before Execute; the chosen folder, ending in "/", after it.
  const QString& Directory() const { return directory_; }
  void SetDirectory(const QString& folder) { directory_ = folder; }

  // True when a folder was chosen; Cancel leaves Directory() as it was.
  bool Execute();

 private:
  QWidget* parent_;
  QString comment_;
  QString directory_;
};

}  // namespace qm
