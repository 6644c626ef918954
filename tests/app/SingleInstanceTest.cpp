#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <random>

#include "app/SingleInstance.h"
#include "support/TestFiles.h"

namespace qm {
namespace {

using Claim = SingleInstance::Claim;

using test::ReadAll;

bool WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

class SingleInstanceTest : public ::testing::Test {
 protected:
  QString Lock() const { return dir_.filePath(QStringLiteral("Glintcast.lock")); }
  QTemporaryDir dir_;
};

// Whatever a lock file that no live instance holds contains, or a link at its name, the start
// takes it over; only a live holder means "running", and anything else at the name is a
// failure that says what it is.
TEST_F(SingleInstanceTest, OnlyALiveHolderKeepsAStartOut) {
  const QString victim = dir_.filePath(QStringLiteral("victim"));
  struct Case {
    const char* name;
    std::function<bool()> plant;
    Claim expected;
    const char* failure;
  };
  const QString lock = Lock();
  const Case cases[] = {
      {"nothing", [] { return true; }, Claim::First, nullptr},
      {"empty, left by a crash", [&] { return WriteAll(lock, ""); }, Claim::First, nullptr},
      {"garbage", [&] { return WriteAll(lock, "\xff\x00zz\n\n9"); }, Claim::First, nullptr},
      {"a dead process of another host",
       [&] { return WriteAll(lock, "999999\nQuillmark\nelsewhere\n"); }, Claim::First, nullptr},
      {"this live process, not holding it",
       [&] { return WriteAll(lock, QByteArray::number(::getpid()) + "\nquillmark\n\n"); },
       Claim::First, nullptr},
      {"a link to another file",
       [&] { return WriteAll(victim, "keep") && QFile::link(victim, lock); }, Claim::First,
       nullptr},
      {"a folder", [&] { return QDir().mkdir(lock); }, Claim::Failed, "Is a directory"},
      {"a FIFO", [&] { return ::mkfifo(QFile::encodeName(lock).constData(), 0600) == 0; },
       Claim::Failed, "it is not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.plant());
    {
      SingleInstance first(dir_.path());
      ASSERT_EQ(first.TryClaim(), c.expected) << first.Failure().toStdString();
      if (c.failure) {
        EXPECT_EQ(first.Failure(), "Can not use the lock file " + lock + ": " + c.failure);
      } else {
        EXPECT_TRUE(ReadAll(lock).startsWith(QByteArray::number(::getpid()) + "\nQuillmark\n"));
        SingleInstance second(dir_.path());
        EXPECT_EQ(second.TryClaim(), Claim::Running);
        EXPECT_TRUE(second.WakeFirst());
      }
    }
    if (QFile::exists(victim)) {
      EXPECT_EQ(ReadAll(victim), "keep");
    }
    QDir(lock).removeRecursively();
    QFile::remove(lock);
    QFile::remove(victim);
  }
}

// Thousands of lock files as crashes, other hosts and other programs leave them, each with no
// live holder: every one is taken over, and then keeps a second start out.
TEST_F(SingleInstanceTest, AnyLeftLockIsTakenOver) {
  std::mt19937 random(20261207);
  const auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  const QByteArray base = QByteArray::number(::getpid()) + "\nQuillmark\nhost\n{uuid}\n";
  for (int i = 0; i < 2000; ++i) {
    QByteArray contents = base;
    switch (i % 3) {
      case 0:
        contents.resize(below(4096));
        for (char& c : contents) c = char(below(256));
        break;
      case 1:
        contents.truncate(below(int(base.size())));
        break;
      case 2:
        for (int n = 1 + below(6); n > 0; --n)
          contents[below(int(contents.size()))] = char(below(256));
        break;
    }
    ASSERT_TRUE(WriteAll(Lock(), contents));
    SingleInstance first(dir_.path());
    ASSERT_EQ(first.TryClaim(), Claim::First) << i;
    SingleInstance second(dir_.path());
    ASSERT_EQ(second.TryClaim(), Claim::Running) << i;
  }
}

// Without a runtime folder the guard lives in a folder of the user's id below the temporary
// one, accepted only when it is the user's own and closed to others; otherwise there is no
// guard and the reason is given.
TEST(SingleInstanceFolder, TheFallbackFolderMustBeOursAndPrivate) {
  QTemporaryDir tmp;
  const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
  const QByteArray savedTmp = qgetenv("TMPDIR");
  qputenv("TMPDIR", tmp.path().toLocal8Bit());
  const QString own = tmp.filePath(QStringLiteral("quillmark-%1").arg(::geteuid()));
  const QString elsewhere = tmp.filePath(QStringLiteral("elsewhere"));
  struct Case {
    const char* name;
    const char* runtime;  // XDG_RUNTIME_DIR; nullptr: unset
    std::function<bool()> plant;
    const char* problem;  // nullptr: the folder is accepted
  };
  const auto makeFolder = [](const QString& path, mode_t mode) {
    return ::mkdir(QFile::encodeName(path).constData(), mode) == 0 &&
           ::chmod(QFile::encodeName(path).constData(), mode) == 0;
  };
  const Case cases[] = {
      {"made when missing", nullptr, [] { return true; }, nullptr},
      {"a runtime folder open to others", "shared",
       [&] { return makeFolder(tmp.filePath("shared"), 0777); }, nullptr},
      {"open to others", nullptr, [&] { return makeFolder(own, 0777); },
       " is open to other users (mode 777)"},
      {"another user's", nullptr,
       [&] {
         return makeFolder(own, 0700) &&
                ::chown(QFile::encodeName(own).constData(), 65534, 65534) == 0;
       },
       " belongs to another user"},
      {"a link to a private folder", nullptr,
       [&] { return makeFolder(elsewhere, 0700) && QFile::link(elsewhere, own); },
       " is a symbolic link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.runtime)
      qputenv("XDG_RUNTIME_DIR", tmp.filePath(c.runtime).toLocal8Bit());
    else
      qunsetenv("XDG_RUNTIME_DIR");
    if (QByteArray(c.name) == "another user's" && ::geteuid() != 0) continue;
    ASSERT_TRUE(c.plant());
    QString problem;
    const QString folder = SingleInstance::RuntimeFolder(&problem);
    if (c.problem) {
      EXPECT_TRUE(folder.isEmpty());
      EXPECT_EQ(problem, "Quillmark runs without its check for another running Quillmark: " + own +
                             c.problem);
    } else {
      EXPECT_EQ(folder, own);
      struct stat status {};
      ASSERT_EQ(::lstat(QFile::encodeName(own).constData(), &status), 0);
      EXPECT_TRUE(S_ISDIR(status.st_mode));
      EXPECT_EQ(status.st_mode & 07777, 0700u);
    }
    QFile::remove(own);
    QDir(own).removeRecursively();
    QDir(elsewhere).removeRecursively();
    QDir(tmp.filePath("shared")).removeRecursively();
  }
  qputenv("XDG_RUNTIME_DIR", savedRuntime);
  qputenv("TMPDIR", savedTmp);
}

}  // namespace
}  // namespace qm
