#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

#include "common/ErrorReport.h"
#include "common/Product.h"
#include "shell/ShellActions.h"
#include "support/RecordingMessages.h"
#include "support/TrayHost.h"

namespace qm {
namespace {

// A fake xdg-open early on PATH that logs its arguments, and fails for a name with "broken".
// Qt finds the desktop's handler once per process (without a session bus it is xdg-open), so
// the fake lives as long as the tests.
class FakeXdgOpen {
 public:
  FakeXdgOpen() {
    const QString script = dir_.filePath(QStringLiteral("xdg-open"));
    QFile file(script);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + Log().toLocal8Bit() +
               "'\ncase \"$*\" in *broken*) exit 3;; esac\n");
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("PATH", dir_.path().toLocal8Bit() + ':' + qgetenv("PATH"));
  }

  QString Log() const { return dir_.filePath(QStringLiteral("log")); }

  // The lines logged so far, once there are at least `count` of them.
  QStringList Lines(int count) const {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
      QFile file(Log());
      const QStringList lines =
          file.open(QIODevice::ReadOnly)
              ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
              : QStringList();
      if (lines.size() >= count || waited.elapsed() > 60000) return lines;
      QCoreApplication::processEvents();
      QThread::msleep(10);
    }
  }

 private:
  QTemporaryDir dir_;
};

FakeXdgOpen& Fake() {
  static FakeXdgOpen fake;
  return fake;
}

TEST(ShellActions, HandOffsReachTheDesktopAndMissingTargetsAreReported) {
  FakeXdgOpen& fake = Fake();
  QTemporaryDir dir;
  const QString video = dir.filePath(QStringLiteral("C1.avi"));
  QFile(video).open(QIODevice::WriteOnly);
  const QString missing = dir.filePath(QStringLiteral("gone.avi"));
  const QString broken = dir.filePath(QStringLiteral("broken.avi"));
  QFile(broken).open(QIODevice::WriteOnly);
  const QString fileUrl = QStringLiteral("file://");
  struct Case {
    std::function<bool()> action;
    QString launched;  // what xdg-open was given; empty: nothing
    QString message;   // what the user was told; empty: nothing
  };
  const Case cases[] = {
      {[&] { return ExploreFolderAction(dir.path()); }, fileUrl + dir.path(), {}},
      {[&] { return ExploreFolderAction(missing); },
       {},
       QStringLiteral("The folder does not exist: ") + missing},
      {[&] { return OpenFileAction(video); }, fileUrl + video, {}},
      {[&] { return OpenFileAction(missing); },
       {},
       QStringLiteral("The file does not exist: ") + missing},
      {[&] { return PlayVideoAction(video); }, fileUrl + video, {}},
      {[&] { return PlayVideoAction(broken); }, fileUrl + broken,
       QStringLiteral("The video player could not be started for ") + broken},
      {[&] { return PlayVideoAction(dir.path()); },
       {},
       QStringLiteral("The file does not exist: ") + dir.path()},
      {[] { return EmailSupportAction(QStringLiteral("Quillmark 1.3")); },
       QStringLiteral("mailto:") + QLatin1String(kSupportEmail) +
           QStringLiteral("?subject=Quillmark%201.3"),
       {}},
      {[] { return OpenWebsiteAction(); }, QLatin1String(kWebsite), {}},
  };
  QStringList launched;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.launched.toStdString() + c.message.toStdString());
    test::RecordingMessages messages;
    EXPECT_EQ(c.action(), !c.launched.isEmpty());
    if (!c.launched.isEmpty()) launched << c.launched;
    // Waiting for each launch keeps the log in order; a refused action adds nothing to it.
    EXPECT_EQ(fake.Lines(int(launched.size())), launched);
    // A player that fails is known only once the handler has ended.
    const QStringList told = c.message.isEmpty() ? QStringList() : QStringList{c.message};
    test::SpinUntil([&] { return messages.Messages() == told; }, 10);
    EXPECT_EQ(messages.Messages(), told);
  }
}

TEST(ShellActions, SupportMailTakesTheCaptionAsItIs) {
  EXPECT_EQ(SupportMailAddress(QStringLiteral("Quillmark - 480 x 360")),
            QStringLiteral("mailto:") + QLatin1String(kSupportEmail) +
                QStringLiteral("?subject=Quillmark - 480 x 360"));
}

// A build tree has the page beside the program; an installed program (bin/ of a prefix, with
// the usual bin/ and share/) finds it in the prefix's data folder, whatever the prefix.
TEST(ShellActions, HelpPageBesideTheProgramOrInTheInstalledDataFolder) {
  QTemporaryDir prefix;
  const QString bin = prefix.filePath(QStringLiteral("bin"));
  const QString installed =
      prefix.filePath(QStringLiteral("share/Zorvek/Quillmark/Help/Default.htm"));
  const QString beside = bin + QStringLiteral("/Help/Default.htm");
  const auto make = [](const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
  };
  EXPECT_FALSE(InstalledProgram(bin));
  ASSERT_TRUE(make(installed));
  EXPECT_EQ(HelpPagePath(bin), installed);
  EXPECT_TRUE(InstalledProgram(bin));
  ASSERT_TRUE(make(beside));
  EXPECT_EQ(HelpPagePath(bin), beside);
  EXPECT_FALSE(InstalledProgram(bin));
}

}  // namespace
}  // namespace qm
