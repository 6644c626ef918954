#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <functional>
#include <random>

#include "app/CompressorOptions.h"
#include "app/SettingsStore.h"
#include "app/SettingsTable.h"
#include "common/FourCC.h"
#include "support/RecordingMessages.h"
#include "video/AviCompress.h"

namespace qm {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  QString Path() const { return dir_.filePath(QStringLiteral("Zorvek/Quillmark.conf")); }

  void WriteRaw(const QByteArray& text, const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  }
  void WriteRaw(const QByteArray& text) { WriteRaw(text, Path()); }

  QByteArray Raw() const {
    QFile file(Path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  test::RecordingMessages messages_;
};

TEST_F(SettingsStoreTest, TheFileLivesInTheUsersConfigFolder) {
  const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
  EXPECT_EQ(SettingsStore::DefaultPath(), Path());
  qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(SettingsStoreTest, FirstStartLoadsTheDefaultsAndSaveWritesThemAll) {
  SettingsStore store(Path());
  const Settings loaded = LoadSettings(store);
  EXPECT_EQ(loaded, DefaultSettings());
  EXPECT_FALSE(QFile::exists(Path())) << "a read created the file";

  ASSERT_TRUE(SaveSettings(store, loaded));
  const QByteArray folder = DefaultOutputFolder().toUtf8();
  EXPECT_EQ(Raw(),
            "[Capture%20area]\nCapture%20area=3\nCustom%20height=0\nCustom%20left=0\n"
            "Custom%20top=0\nCustom%20width=0\nFollow%20cursor=1\nMonitor=\nShow%20cursor=1\n\n"
            "[Folder]\nOutput%20Folder=" +
                folder +
                "\n\n"
                "[Main]\nWindow%20left=0\nWindow%20placed=0\nWindow%20top=0\n\n"
                "[Picture]\nJPG%20Quality=17\nPicture%20type=0\n\n"
                "[Short-cut]\nFinishMovie=CTRL+ALT+F\nPauseMovie=CTRL+ALT+P\nPhoto=CTRL+ALT+X\n"
                "StartMovie=CTRL+ALT+S\n\n"
                "[Video]\nAfter%20each%20recording%20also%20save%20as=0\nFPS=4\n"
                "PlayResult=1\nRecord%20sound=0\nSound%20codec=0\nStart%20delay=3\n"
                "Video%20Compression=-1\n");
  EXPECT_TRUE(messages_.Messages().isEmpty());
}

TEST_F(SettingsStoreTest, EachKindReadsAsItsTableSays) {
  using Get = std::function<QVariant(const Settings&)>;
  const Get fps = [](const Settings& s) { return QVariant(s.fps); };
  const Get delay = [](const Settings& s) { return QVariant(s.startDelay); };
  const Get play = [](const Settings& s) { return QVariant(s.playResult); };
  const Get photo = [](const Settings& s) { return QVariant(s.photoKey); };
  const Get folder = [](const Settings& s) { return QVariant(s.outputFolder); };
  const Get sound = [](const Settings& s) { return QVariant(s.recordSound); };
  const QString defaultFolder = DefaultOutputFolder();
  struct Case {
    const char* file;
    Get get;
    QVariant expected;
    QStringList reset;  // the values named in the notice
  };
  const Case cases[] = {
      {"[Video]\nFPS=12\n", fps, 12, {}},
      {"[Video]\nFPS=99\n", fps, 32, {"FPS"}},
      {"[Video]\nFPS=abc\n", fps, 4, {"FPS"}},
      {"[Video]\nStart%20delay=-5\n", delay, 0, {"Start delay"}},
      {"[Video]\nPlayResult=2\n", play, true, {}},
      {"[Video]\nPlayResult=0\n", play, false, {}},
      {"[Video]\nPlayResult=x\n", play, true, {"PlayResult"}},
      {"[Video]\nRecord%20sound=2\n", sound, 2, {}},
      {"[Video]\nRecord%20sound=7\n", sound, 3, {"Record sound"}},
      {"[Short-cut]\nPhoto=\"CTRL+Y\"\n", photo, QStringLiteral("CTRL+Y"), {}},
      // A file from before keeps the photo's old key.
      {"[Short-cut]\nPhoto=CTRL+X\n", photo, QStringLiteral("CTRL+X"), {}},
      {"[Short-cut]\nPhoto=CTRL, Y\n", photo, QStringLiteral("CTRL+ALT+X"), {"Photo"}},
      {"[Short-cut]\nPhoto=\n", photo, QStringLiteral("CTRL+ALT+X"), {"Photo"}},
      {"[Video]\nFPS=1, 2\n", fps, 4, {"FPS"}},
      // Every value that cannot be read, in one list.
      {"[Video]\nPlayResult=x\nFPS=x\n[Short-cut]\nPhoto=\n",
       fps,
       4,
       {"Photo", "FPS", "PlayResult"}},
      {"[Folder]\nOutput%20Folder=@ByteArray(\\0\\x1\\xff)\n",
       folder,
       defaultFolder,
       {"Output Folder"}},
      {"[Folder]\nOutput%20Folder=@Rect(1 2 3 4)\n", folder, defaultFolder, {"Output Folder"}},
      {"[Folder]\nOutput%20Folder=\n", folder, defaultFolder, {}},
      {"[Folder]\nOutput%20Folder=/data/Videos\n", folder, QStringLiteral("/data/Videos/"), {}},
      // Never the folder the program happened to be started in.
      {"[Folder]\nOutput%20Folder=Videos/q\n", folder, QDir::homePath() + "/Videos/q/", {}},
      {"[Folder]\nOutput%20Folder=~/q\n", folder, QDir::homePath() + "/q/", {}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    // A file of each case: QSettings keeps parsed files and reads one again only when its
    // size or modification time (in milliseconds) changed, which these quick rewrites of
    // equal size would not show.
    const QString path = dir_.filePath(QStringLiteral("kinds/%1.conf").arg(++n));
    WriteRaw(c.file, path);
    test::RecordingMessages messages;
    QStringList reset;
    EXPECT_EQ(c.get(LoadSettings(SettingsStore(path), &reset)), c.expected);
    EXPECT_EQ(reset, c.reset);
    EXPECT_TRUE(messages.Messages().isEmpty());
  }
  // A bool read as true is written back as "1".
  WriteRaw("[Video]\nPlayResult=5\n");
  SettingsStore store(Path());
  ASSERT_TRUE(SaveSettings(store, LoadSettings(store)));
  EXPECT_TRUE(Raw().contains("\nPlayResult=1\n"));
}

TEST_F(SettingsStoreTest, TheDateIsEightBinaryBytes) {
  SettingsStore store(Path());
  const QString name = QStringLiteral("Last update check");
  EXPECT_EQ(store.ReadDate(name), std::nullopt);
  ASSERT_TRUE(store.WriteDate(name, 38153.5));
  EXPECT_EQ(store.ReadDate(name), 38153.5);
  EXPECT_TRUE(Raw().contains("Last%20update%20check=@ByteArray(")) << Raw().constData();
  EXPECT_TRUE(messages_.Messages().isEmpty());

  // An unreadable date is no date, silently (the update check counts it as long ago).
  for (const char* wrong : {"@ByteArray(1234567)", "38153.5", "1, 2"}) {
    WriteRaw(QByteArray("[General]\nLast%20update%20check=") + wrong + "\n");
    test::RecordingMessages messages;
    EXPECT_EQ(store.ReadDate(name), std::nullopt) << wrong;
    EXPECT_TRUE(messages.Messages().isEmpty()) << wrong;
  }
}

TEST_F(SettingsStoreTest, ReadsNeverWriteAndEachOperationSeesTheFile) {
  WriteRaw("[Video]\nFPS=9\n");
  SettingsStore store(Path());
  EXPECT_EQ(store.ReadString(QStringLiteral("Picture"), QStringLiteral("JPG Quality"),
                             QStringLiteral("none")),
            QStringLiteral("none"));
  EXPECT_TRUE(store.IsSilenced(QStringLiteral("Hiding window")) == false);
  EXPECT_EQ(Raw(), "[Video]\nFPS=9\n");
  // A change made behind the store's back is what the next read sees.
  WriteRaw("[Video]\nFPS=17\n\n[Dialogs]\nHiding%20window=1\n");
  EXPECT_EQ(store.ReadInteger(QStringLiteral("Video"), QStringLiteral("FPS"), 0), 17);
  EXPECT_TRUE(store.IsSilenced(QStringLiteral("Hiding window")));
}

TEST_F(SettingsStoreTest, AnUnwritableFolderIsReportedOnceAndDefaultsServe) {
  struct Setup {
    const char* name;
    std::function<bool(const QString& zorvek)> make;
  };
  const Setup setups[] = {
      // A regular file where the folder should be stops everyone, root included.
      {"file in the way",
       [](const QString& zorvek) {
         QFile file(zorvek);
         return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
       }},
      {"read-only folder",
       [](const QString& zorvek) {
         return QDir().mkpath(zorvek) &&
                QFile::setPermissions(zorvek, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
       }},
  };
  for (const Setup& setup : setups) {
    SCOPED_TRACE(setup.name);
    if (QByteArray(setup.name) == "read-only folder" && ::geteuid() == 0) continue;
    QTemporaryDir home;
    const QString zorvek = home.filePath(QStringLiteral("Zorvek"));
    ASSERT_TRUE(setup.make(zorvek));
    test::RecordingMessages messages;
    SettingsStore store(zorvek + QStringLiteral("/Quillmark.conf"));
    EXPECT_EQ(LoadSettings(store), DefaultSettings());
    EXPECT_FALSE(SaveSettings(store, DefaultSettings()));
    store.Silence(QStringLiteral("Hiding window"));
    EXPECT_EQ(messages.Messages().size(), 1) << messages.Messages().join('\n').toStdString();
    EXPECT_TRUE(messages.Messages().value(0).startsWith("Can not write the settings file "));
    // The run keeps what it could not write, and the next write that succeeds stores it.
    EXPECT_TRUE(store.IsSilenced(QStringLiteral("Hiding window")));
    QFile::remove(zorvek);
    QFile::setPermissions(zorvek,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_TRUE(QDir().mkpath(zorvek));
    EXPECT_TRUE(store.WriteInteger(QStringLiteral("Video"), QStringLiteral("FPS"), 7));
    EXPECT_TRUE(SettingsStore(store.Path()).IsSilenced(QStringLiteral("Hiding window")));
    EXPECT_EQ(messages.Messages().size(), 1);
  }
}

// Only a regular file (or one a link names) of at most 1 MiB is read or replaced: a FIFO would
// hang the start, a device would be swapped for a plain file by the save's rename, a huge file
// would stall every read. Anything else is reported once and left exactly as it is; the run
// goes on with the defaults and keeps its changes in memory.
TEST_F(SettingsStoreTest, OnlyARegularFileOfAtMostOneMebibyteIsUsed) {
  const QString zorvek = QFileInfo(Path()).absolutePath();
  const QString target = dir_.filePath(QStringLiteral("target.conf"));
  const QString device = dir_.filePath(QStringLiteral("null"));
  const auto encoded = [](const QString& path) { return QFile::encodeName(path); };
  const QByteArray small = "[Video]\nFPS=9\n";
  struct Case {
    const char* name;
    std::function<bool()> plant;
    const char* refusal;  // nullptr: the file is used
  };
  const Case cases[] = {
      {"a FIFO", [&] { return ::mkfifo(encoded(Path()), 0600) == 0; }, " is not a regular file."},
      {"a link to a device",
       [&] {
         return ::mknod(encoded(device), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                QFile::link(device, Path());
       },
       " is not a regular file."},
      {"a link to nothing", [&] { return QFile::link(target, Path()); }, " is not a regular file."},
      {"a folder", [&] { return QDir().mkpath(Path()); }, " is not a regular file."},
      {"a file above 1 MiB",
       [&] {
         WriteRaw(small + QByteArray(SettingsStore::kMaxFileBytes, '\n'));
         return true;
       },
       " is larger than 1 MiB."},
      {"a link to a regular file",
       [&] {
         WriteRaw(small, target);
         return QFile::link(target, Path());
       },
       nullptr},
  };
  const auto kind = [&](const QString& path) {
    struct stat status {};
    if (::lstat(encoded(path), &status) != 0) return QByteArray("none");
    return QByteArray::number(status.st_mode) + " " + QByteArray::number(qint64(status.st_size)) +
           " " + QByteArray::number(qint64(status.st_ino));
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(QDir().mkpath(zorvek));
    if (QByteArray(c.name) == "a link to a device" && ::geteuid() != 0) continue;
    ASSERT_TRUE(c.plant());
    const QByteArray before = kind(Path());
    test::RecordingMessages messages;
    SettingsStore store(Path());
    const Settings loaded = LoadSettings(store);
    Settings changed = loaded;
    changed.fps = 20;
    const bool saved = SaveSettings(store, changed);
    store.Silence(QStringLiteral("Hiding window"));
    EXPECT_TRUE(store.IsSilenced(QStringLiteral("Hiding window")));
    EXPECT_EQ(LoadSettings(store).fps, 20);
    if (c.refusal) {
      EXPECT_EQ(loaded, DefaultSettings());
      EXPECT_FALSE(saved);
      EXPECT_EQ(kind(Path()), before);
      ASSERT_EQ(messages.Messages().size(), 1) << messages.Messages().join('\n').toStdString();
      EXPECT_TRUE(messages.Messages()[0].startsWith("The settings file " + Path() + c.refusal));
    } else {
      EXPECT_EQ(loaded.fps, 9);
      EXPECT_TRUE(saved);
      EXPECT_TRUE(QFileInfo(Path()).isSymLink());
      EXPECT_EQ(SettingsStore(target).ReadInteger("Video", "FPS", 0), 20);
      EXPECT_TRUE(messages.Messages().isEmpty());
    }
    QDir(zorvek).removeRecursively();
    QFile::remove(target);
    QFile::remove(device);
  }
}

// A file that does not parse as settings is replaced without a word: the write succeeded.
TEST_F(SettingsStoreTest, AFileThatDoesNotParseIsRewrittenWithoutAMessage) {
  WriteRaw("this is no setting\n[Video\nFPS=9\n");
  test::RecordingMessages messages;
  SettingsStore store(Path());
  EXPECT_TRUE(SaveSettings(store, LoadSettings(store)));
  EXPECT_TRUE(messages.Messages().isEmpty()) << messages.Messages().join('\n').toStdString();
  EXPECT_TRUE(Raw().contains("\n[Video]\nAfter%20each%20recording%20also%20save%20as=0\nFPS=9\n"))
      << Raw().constData();
  EXPECT_FALSE(Raw().contains("this is no setting"));
}

// The options of each compressor's "Set" dialog stay with that compressor, across choices and
// runs; values out of the dialog's limits are brought inside, and a file without them gives
// each compressor its defaults.
TEST_F(SettingsStoreTest, EachCompressorKeepsItsOptions) {
  const uint32_t mp42 = MakeFourCC("MP42"), ffv1 = MakeFourCC("FFV1");
  const auto options = [](AviCompress& compressor, uint32_t code, const SettingsStore& store) {
    compressor.Select(code);
    RestoreCompressorOptions(store, compressor);
    const EncoderSettings now = compressor.Options().value_or(EncoderSettings{-1, -1});
    return std::pair(now.Quality, now.KeyFrameInterval);
  };
  AviCompress compressor;
  std::vector<DisplayItem> items;
  compressor.FillDisplayList(items);
  if (!compressor.Select(mp42) || !compressor.Select(ffv1) || compressor.CurrentCode() != ffv1)
    GTEST_SKIP() << "needs the MP42 and FFV1 encoders";
  SettingsStore store(Path());
  const auto mp42Defaults = options(compressor, mp42, store);
  const auto ffv1Defaults = options(compressor, ffv1, store);
  compressor.SetOptions({.Quality = 80, .KeyFrameInterval = 12});
  ASSERT_TRUE(KeepCompressorOptions(store, compressor));
  EXPECT_EQ(options(compressor, mp42, store), mp42Defaults);
  compressor.SetOptions({.Quality = 30, .KeyFrameInterval = 0});
  ASSERT_TRUE(KeepCompressorOptions(store, compressor));
  EXPECT_EQ(options(compressor, ffv1, store), std::pair(80, 12));
  EXPECT_TRUE(
      Raw().contains("[Video]\nFFV1%20Key%20frames=12\nFFV1%20Quality=80\n"
                     "MP42%20Key%20frames=0\nMP42%20Quality=30\n"))
      << Raw().constData();

  AviCompress nextRun;
  nextRun.FillDisplayList(items);
  EXPECT_EQ(options(nextRun, mp42, SettingsStore(Path())), std::pair(30, 0));
  WriteRaw("[Video]\nMP42%20Quality=500\nMP42%20Key%20frames=-3\nFFV1%20Quality=x\n");
  AviCompress clamped;
  clamped.FillDisplayList(items);
  EXPECT_EQ(options(clamped, mp42, SettingsStore(Path())), std::pair(100, 0));
  EXPECT_EQ(options(clamped, ffv1, SettingsStore(Path())), ffv1Defaults);
}

// Run by CrashWhileWritingNeverLeavesAHalfFile in a child process: rewrites the file with a
// large value until killed.
TEST(SettingsStoreChild, WritesUntilKilled) {
  const QString path = qEnvironmentVariable("QM_SETTINGS_CHILD");
  if (path.isEmpty()) GTEST_SKIP() << "run by the crash test only";
  SettingsStore store(path);
  for (int round = 0;; ++round) {
    const QString payload(256 * 1024, QChar(u'a' + round % 26));
    if (!store.WriteString(QStringLiteral("Crash"), QStringLiteral("Payload"), payload)) return;
    if (round == 0) {
      std::puts("written");
      std::fflush(stdout);
    }
  }
}

TEST_F(SettingsStoreTest, CrashWhileWritingNeverLeavesAHalfFile) {
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QM_SETTINGS_CHILD"), Path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=SettingsStoreChild.WritesUntilKilled")});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray output;
    while (!output.contains("written\n")) {
      ASSERT_TRUE(child.waitForReadyRead(60000)) << output.constData();
      output += child.readAllStandardOutput();
    }
    QThread::msleep(static_cast<unsigned long>(round * 37));
    child.kill();  // SIGKILL
    ASSERT_TRUE(child.waitForFinished());

    SettingsStore store(Path());
    const QString payload =
        store.ReadString(QStringLiteral("Crash"), QStringLiteral("Payload"), QString());
    ASSERT_EQ(payload.size(), 256 * 1024);
    EXPECT_EQ(payload.count(payload.front()), payload.size());
    // The next start writes again over whatever the killed writer left behind.
    EXPECT_TRUE(store.WriteInteger(QStringLiteral("Video"), QStringLiteral("FPS"), round));
  }
  EXPECT_TRUE(messages_.Messages().isEmpty());
}

// Thousands of damaged files: random bytes, cut files, flipped bytes of a good file, binary
// garbage in one value. None stops the load or shows a message of its own; the loaded values
// stay inside their limits, and a value replaced by garbage gives its default, named in the
// list of values reset, while the others keep theirs.
TEST_F(SettingsStoreTest, DamagedFilesNeverStopTheLoad) {
  Settings good = DefaultSettings();
  good.fps = 25;
  good.startDelay = 10;
  good.playResult = false;
  good.photoKey = QStringLiteral("CTRL+ALT+Z");
  good.outputFolder = QStringLiteral("/data/out/");
  {
    test::RecordingMessages quiet;
    SettingsStore store(Path());
    ASSERT_TRUE(SaveSettings(store, good));
  }
  const QByteArray base = Raw();
  const QList<QByteArray> lines = base.split('\n');
  std::mt19937 random(20240611);
  const auto below = [&](qsizetype n) {
    return qsizetype(std::uniform_int_distribution<qsizetype>(0, n - 1)(random));
  };
  const auto garbage = [&](qsizetype size, bool inValue) {
    QByteArray bytes;
    while (bytes.size() < size) {
      const char c = char(below(256));
      // Inside a value, nothing that would end the line, open a quote, a list or an escape.
      if (inValue && QByteArray("\n\r;,\"\\=#").contains(c)) continue;
      bytes += c;
    }
    return bytes;
  };
  const Settings defaults = DefaultSettings();
  test::RecordingMessages messages;
  for (int i = 0; i < 3000; ++i) {
    QByteArray file = base;
    const SettingRow* damaged = nullptr;
    switch (i % 4) {
      case 0:
        file = garbage(below(2000), false);
        break;
      case 1:
        file.truncate(below(base.size()));
        break;
      case 2:
        for (int n = 1 + int(below(8)); n > 0; --n) file[below(file.size())] = char(below(256));
        break;
      case 3: {
        const auto rows = SettingsTable();
        do damaged = &rows[size_t(below(qsizetype(rows.size())))];
        while (std::holds_alternative<std::monostate>(damaged->field));
        // Names are unique across sections; the file writes their spaces as %20.
        const QByteArray key = QByteArray(damaged->name).replace(' ', "%20") + '=';
        QList<QByteArray> mutated = lines;
        for (QByteArray& line : mutated)
          if (line.startsWith(key)) line = key + "@ByteArray(" + garbage(below(64), true) + ")";
        file = mutated.join('\n');
        break;
      }
    }
    // Now and then a file grown past the limit: never read, never replaced.
    const bool huge = i % 60 == 0;
    if (huge) file += QByteArray(SettingsStore::kMaxFileBytes, ';');
    // A new name each time: the file's contents change faster than its time stamp.
    const QString path = dir_.filePath(QStringLiteral("m/%1.conf").arg(i));
    WriteRaw(file, path);
    SettingsStore store(path);
    const qsizetype shown = messages.Messages().size();
    QStringList reset;
    const Settings loaded = LoadSettings(store, &reset);
    ASSERT_EQ(messages.Messages().size(), shown + (huge ? 1 : 0));
    ASSERT_EQ(reset.size(), QSet<QString>(reset.begin(), reset.end()).size());
    for (const QString& key :
         {loaded.photoKey, loaded.startMovieKey, loaded.pauseMovieKey, loaded.finishMovieKey})
      ASSERT_FALSE(key.trimmed().isEmpty());
    if (huge) {
      ASSERT_EQ(loaded, defaults);
      ASSERT_FALSE(SaveSettings(store, good));
      QFile written(path);
      ASSERT_TRUE(written.open(QIODevice::ReadOnly));
      ASSERT_EQ(written.readAll(), file);
      QFile::remove(path);
      continue;
    }
    ASSERT_GE(loaded.fps, 1);
    ASSERT_LE(loaded.fps, 32);
    ASSERT_GE(loaded.startDelay, 0);
    ASSERT_LE(loaded.startDelay, 60);
    ASSERT_GE(loaded.jpgQuality, 0);
    ASSERT_LE(loaded.jpgQuality, 24);
    ASSERT_TRUE(loaded.outputFolder.endsWith('/'));
    if (damaged) {
      Settings expected = good;
      std::visit(
          [&](auto member) {
            if constexpr (!std::is_same_v<decltype(member), std::monostate>)
              expected.*member = defaults.*member;
          },
          damaged->field);
      ASSERT_EQ(loaded, expected) << damaged->name << "\n" << file.constData();
      ASSERT_EQ(reset, QStringList{damaged->name});
    }
    QFile::remove(path);
  }
}

// A writable program folder takes the recordings beside it, unless it is an installed copy
// (root may write to /usr/bin; the user's recordings never go there).
TEST(SettingsTable, RecordingsBesideAWritableProgramUnlessInstalled) {
  QTemporaryDir prefix;
  const QString bin = prefix.filePath(QStringLiteral("bin"));
  ASSERT_TRUE(QDir().mkpath(bin));
  EXPECT_EQ(DefaultOutputFolderBeside(bin), bin + QStringLiteral("/Captures/"));
  ASSERT_TRUE(QDir().mkpath(prefix.filePath(QStringLiteral("share/Zorvek/Quillmark/Help"))));
  QFile help(prefix.filePath(QStringLiteral("share/Zorvek/Quillmark/Help/Default.htm")));
  ASSERT_TRUE(help.open(QIODevice::WriteOnly));
  EXPECT_TRUE(DefaultOutputFolderBeside(bin).endsWith(QStringLiteral("/Quillmark/")));
  EXPECT_FALSE(DefaultOutputFolderBeside(bin).startsWith(prefix.path()));
}

}  // namespace
}  // namespace qm
