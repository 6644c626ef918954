#include "shell/ShellActions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "common/ErrorReport.h"
#include "common/Product.h"
#include "common/UserMessages.h"
#include "platform/desktop/Desktop.h"

namespace qm {

namespace {

bool FolderExists(const QString& folder) {
  if (QFileInfo(folder).isDir()) return true;
  ShowMessage(QStringLiteral("The folder does not exist: ") + folder);
  return false;
}

bool FileExists(const QString& path) {
  if (QFileInfo(path).isFile()) return true;
  ShowMessage(QStringLiteral("The file does not exist: ") + path);
  return false;
}

}  // namespace

bool ExploreFolderAction(const QString& folder) {
  return FolderExists(folder) && ExploreFolder(folder);
}

bool OpenFileAction(const QString& path) {
  return FileExists(path) && OpenWithShell(path);
}

bool PlayVideoAction(const QString& path, std::function<void(const QString& text)> failed) {
  return FileExists(path) && PlayVideoFile(path, [path, failed] {
           const QString text = QStringLiteral("The video player could not be started for ") + path;
           if (failed)
             failed(text);
           else
             ShowMessage(text);
         });
}

bool OpenAddressAction(const QString& address) {
  return OpenWithShell(address);
}

QString SupportMailAddress(const QString& windowCaption) {
  return QStringLiteral("mailto:") + QLatin1String(kSupportEmail) + QStringLiteral("?subject=") +
         windowCaption;
}

bool EmailSupportAction(const QString& windowCaption) {
  return OpenWithShell(SupportMailAddress(windowCaption));
}

bool OpenWebsiteAction() {
  return OpenWithShell(QLatin1String(kWebsite));
}

namespace {

const QLatin1String kHelpPage("Help/Default.htm");

QString HelpPageBeside(const QString& programFolder) {
  return programFolder + QLatin1Char('/') + kHelpPage;
}
QString HelpPageOfPrefix(const QString& programFolder) {
  return QDir::cleanPath(programFolder + QLatin1String("/" QM_DATA_FROM_BIN "/Zorvek/Quillmark/") +
                         kHelpPage);
}

}  // namespace

bool InstalledProgram(const QString& programFolder) {
  return !QFileInfo(HelpPageBeside(programFolder)).isFile() &&
         QFileInfo(HelpPageOfPrefix(programFolder)).isFile();
}

QString HelpPagePath(const QString& programFolder) {
  const QString relative = kHelpPage;
  const QString beside = HelpPageBeside(programFolder);
  if (QFileInfo(beside).isFile()) return beside;
  // Installed: the data folder of the same prefix, then the desktop's data folders.
  const QString installed = HelpPageOfPrefix(programFolder);
  if (QFileInfo(installed).isFile()) return installed;
  const QString located = QStandardPaths::locate(QStandardPaths::AppDataLocation, relative);
  return located.isEmpty() ? beside : located;
}

bool OpenHelpAction() {
  return OpenFileAction(HelpPagePath(QCoreApplication::applicationDirPath()));
}

}  // namespace qm
