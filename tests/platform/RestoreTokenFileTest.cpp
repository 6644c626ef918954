#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

#include "platform/portal/RestoreTokenFile.h"

namespace qm {
namespace {

// A token survives the file; what a file holds besides a token line is never taken for one.
TEST(RestoreTokenFileTest, KeepsTheTokenAndRefusesAnythingElse) {
  QTemporaryDir dir;
  const QString path = dir.path() + QStringLiteral("/token");
  EXPECT_EQ(ReadRestoreToken(path), QString());
  const QString token = QStringLiteral("0b5e3c8a-11f2-4d8e-9a6b-3f1c2d4e5f60");
  ASSERT_TRUE(WriteRestoreToken(path, token));
  EXPECT_EQ(ReadRestoreToken(path), token);
  EXPECT_FALSE(WriteRestoreToken(dir.path() + QStringLiteral("/none/token"), token));

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
    const QString parsed = ParseRestoreToken(bytes);
    EXPECT_LE(parsed.size(), 256);
    for (const QChar c : parsed)
      ASSERT_TRUE(c.isLetterOrNumber() || QStringLiteral("-_.:").contains(c)) << round;
  }
}

}  // namespace
}  // namespace qm
