#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "platform/files/RestoreTokenFile.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace qm {
namespace {

// A token survives the file; what a file holds besides a token line is never taken for one, and
// what the desktop hands out is kept only when it is a token.
TEST(RestoreTokenFileTest, KeepsTheTokenAndRefusesAnythingElse) {
  QTemporaryDir dir;
  const QString path = dir.path() + QStringLiteral("/token");
  EXPECT_EQ(ReadRestoreToken(path), QString());
  const QString token = QStringLiteral("0b5e3c8a-11f2-4d8e-9a6b-3f1c2d4e5f60");
  ASSERT_EQ(WriteRestoreToken(path, token), QString());
  EXPECT_EQ(ReadRestoreToken(path), token);
  EXPECT_NE(WriteRestoreToken(dir.path() + QStringLiteral("/none/token"), token), QString());
  for (const QString& bad : {QString(200000, QLatin1Char('a')), QStringLiteral("ab\n\x01\x1b[2J")})
    EXPECT_NE(WriteRestoreToken(path, bad), QString());
  EXPECT_EQ(ReadRestoreToken(path), token);

  struct Case {
    QByteArray Contents;
    QString Token;
  };
  for (const Case& c :
       {Case{"  abc-1 \n", QStringLiteral("abc-1")}, Case{"", QString()}, Case{"\n", QString()},
        Case{"a b\n", QString()}, Case{"tok\";rm\n", QString()},
        Case{QByteArray(257, 'a'), QString()}, Case{QByteArray("ab\0c", 4), QString()}})
    EXPECT_EQ(ParseRestoreToken(c.Contents), c.Token) << c.Contents.toStdString();

  // Thousands of corrupted token files: each gives a well-formed token or none.
  std::mt19937 random(23);
  const QByteArray valid = token.toLatin1() + '\n';
  for (int round = 0; round < 5000; ++round) {
    QByteArray bytes = valid;
    const int edits = 1 + int(random() % 6);
    for (int e = 0; e < edits; ++e) {
      const qsizetype at = qsizetype(random() % uint32_t(bytes.size() + 1));
      switch (random() % 3) {
        case 0:
          if (at < bytes.size()) bytes[at] = char(random());
          break;
        case 1:
          bytes.insert(at, QByteArray(1 + int(random() % 300), char(random())));
          break;
        default:
          bytes.truncate(at);
      }
    }
    // Made anew rather than cut: the file system flushes a file cut and written again.
    QFile::remove(path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QString problem;
    const QString read = ReadRestoreToken(path, &problem);
    ASSERT_TRUE(problem.isEmpty()) << round;
    ASSERT_TRUE(read.isEmpty() || IsRestoreToken(read)) << round;
    const QString text = QString::fromLatin1(bytes);
    ASSERT_TRUE(IsRestoreToken(text) || !WriteRestoreToken(path, text).isEmpty()) << round;
  }
}

// Only a regular file is read or replaced, through no link another user planted: anything else
// at the path is refused with the reason before anything waits, and stays as it was.
TEST(RestoreTokenFileTest, OnlyARegularFileOfTheUsersOwnIsTaken) {
  if (::geteuid() != 0) GTEST_SKIP() << "another user is played by root";
  QTemporaryDir dir;
  ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
  const QString shared = dir.filePath(QStringLiteral("shared"));
  ASSERT_TRUE(QDir().mkdir(shared));
  ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
  const QString secret = dir.filePath(QStringLiteral("secret"));
  ASSERT_EQ(WriteRestoreToken(secret, QStringLiteral("roots-own")), QString());
  const QString fifo = dir.filePath(QStringLiteral("fifo"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString toNull = dir.filePath(QStringLiteral("null"));
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), toNull));
  const QString planted = shared + QStringLiteral("/token");
  ASSERT_EQ(
      test::RunProcess("runuser", {"-u", "nobody", "--", "ln", "-s", secret, planted}).ExitCode, 0);
  for (const QString& path : {fifo, toNull, QStringLiteral("/dev/null"), planted, shared}) {
    SCOPED_TRACE(path.toStdString());
    QString problem;
    EXPECT_EQ(ReadRestoreToken(path, &problem), QString());
    EXPECT_FALSE(problem.isEmpty());
    EXPECT_EQ(WriteRestoreToken(path, QStringLiteral("abc")), problem);
  }
  EXPECT_TRUE(QFileInfo::exists(QStringLiteral("/dev/null")) &&
              !QFileInfo(QStringLiteral("/dev/null")).isFile());
  EXPECT_EQ(test::ReadAll(secret), "roots-own\n");
  EXPECT_TRUE(QFileInfo(planted).isSymLink() && QFileInfo(toNull).isSymLink());
}

}  // namespace
}  // namespace qm
