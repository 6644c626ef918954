#include "shell/FolderChooser.h"

#include <QFileDialog>
#include <QFileInfo>

namespace qm {

QString WithFinalSlash(const QString& folder) {
  if (folder.isEmpty() || folder.endsWith(QLatin1Char('/'))) return folder;
  return folder + QLatin1Char('/');
}

bool FolderChooser::Execute() {
  QFileDialog dialog(parent_, comment_);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  // A folder that does not exist is simply not preselected.
  if (!directory_.isEmpty() && QFileInfo(directory_).isDir()) dialog.setDirectory(directory_);
  if (dialog.exec() != QDialog::Accepted) return false;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.first().isEmpty()) return false;
  directory_ = WithFinalSlash(chosen.first());
  return true;
}

}  // namespace qm
