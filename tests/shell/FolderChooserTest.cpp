#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "shell/FolderChooser.h"

namespace qm {
namespace {

TEST(FolderChooser, PreselectsExistingFoldersAndEndsTheChoiceWithASlash) {
  QTemporaryDir dir;
  const QString sub = dir.filePath(QStringLiteral("Videos"));
  ASSERT_TRUE(QDir().mkpath(sub));
  const QString missing = dir.filePath(QStringLiteral("missing"));
  struct Case {
    QString initial;
    QString choose;  // empty: Cancel
    bool preselected;
    QString result;
  };
  const Case cases[] = {
      {dir.path(), sub, true, sub + '/'},
      {dir.path() + '/', QString(), true, dir.path() + '/'},
      {missing, QString(), false, missing},
      {missing, QStringLiteral("/"), false, QStringLiteral("/")},
  };
  QWidget window;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.initial.toStdString() + " -> " + c.choose.toStdString());
    FolderChooser chooser(&window, QStringLiteral("Select the output folder"));
    chooser.SetDirectory(c.initial);
    QString title, opened;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      title = dialog->windowTitle();
      opened = dialog->directory().absolutePath();
      if (c.choose.isEmpty()) return dialog->reject();
      dialog->setDirectory(c.choose);
      QMetaObject::invokeMethod(dialog, "accept");
    });
    EXPECT_EQ(chooser.Execute(), !c.choose.isEmpty());
    EXPECT_EQ(chooser.Directory(), c.result);
    EXPECT_EQ(title, QStringLiteral("Select the output folder"));
    EXPECT_EQ(opened == QDir(c.initial).absolutePath(), c.preselected) << opened.toStdString();
  }
}

}  // namespace
}  // namespace qm
