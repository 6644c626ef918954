#pragma once

#include <QString>
#include <QWidget>

class QLineEdit;

namespace qm {

// The "Folder" page: the base output folder, "Set" to choose another and "Browse folder" to
// open it. User-interface thread only.
class FolderPage : public QWidget {
  Q_OBJECT

 public:
  FolderPage();

  // The folder shown, and where "Set" starts.
  void ShowFolder(const QString& folder);

 signals:
  // The user chose folder with "Set".
  void FolderChosen(const QString& folder);
  void BrowseClicked();

 private:
  QLineEdit* folder_ = nullptr;
};

}  // namespace qm
