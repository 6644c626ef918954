#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/desktop/Desktop.h"

namespace qm {
namespace {

// Points XDG_DATA_HOME and the working folder somewhere private for the test's life.
class PrivateDataHome {
 public:
  explicit PrivateDataHome(const QString& dataHome)
      : saved_(qgetenv("XDG_DATA_HOME")), savedDir_(QDir::currentPath()) {
    qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
    QDir::setCurrent(work_.path());
  }
  ~PrivateDataHome() {
    QDir::setCurrent(savedDir_);
    qputenv("XDG_DATA_HOME", saved_);
  }
  // Nothing lands in the working folder, whatever happens to the Trash.
  bool WorkingFolderEmpty() const {
    return QDir(work_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty();
  }

 private:
  QByteArray saved_;
  QString savedDir_;
  QTemporaryDir work_;
};

QString MakeFile(const QTemporaryDir& dir, const QString& name) {
  const QString path = dir.filePath(name);
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  file.write("x");
  return path;
}

TEST(Desktop, TrashIsCreatedPrivateAndTakesTheFile) {
  QTemporaryDir data, files;
  PrivateDataHome home(data.path());
  EXPECT_FALSE(MoveToRecycleBin(files.filePath(QStringLiteral("missing.avi"))));

  const QString trash = data.filePath(QStringLiteral("Trash"));
  for (const char* kept : {"Index.~tmp", "Index.2.~tmp"}) {
    const QString path = MakeFile(files, QStringLiteral("Index.~tmp"));
    ASSERT_TRUE(MoveToRecycleBin(path));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QFile::exists(trash + QStringLiteral("/files/") + kept)) << kept;
    QFile info(trash + QStringLiteral("/info/") + kept + QStringLiteral(".trashinfo"));
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    EXPECT_TRUE(info.readAll().startsWith("[Trash Info]\nPath=" + QFile::encodeName(path) +
                                          "\nDeletionDate="));
  }
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(trash).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(home.WorkingFolderEmpty());
}

TEST(Desktop, AnUnusableTrashIsReportedAndTheFileStays) {
  QTemporaryDir data, files;
  // A regular file as the data folder stops everyone, root included; a read-only folder
  // stops everyone else.
  const QString blocked = MakeFile(data, QStringLiteral("not-a-folder"));
  QStringList homes{blocked};
  const QString readOnly = data.filePath(QStringLiteral("read-only"));
  if (::geteuid() != 0) {
    QDir().mkpath(readOnly);
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    homes << readOnly;
  }
  for (const QString& dataHome : homes) {
    SCOPED_TRACE(dataHome.toStdString());
    PrivateDataHome home(dataHome);
    const QString path = MakeFile(files, QStringLiteral("C1.avi"));
    EXPECT_FALSE(MoveToRecycleBin(path));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(home.WorkingFolderEmpty());
  }
}

}  // namespace
}  // namespace qm
