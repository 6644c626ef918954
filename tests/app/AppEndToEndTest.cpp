// The real quillmark program on the test display, with a window manager and a notification
// area, driven through XTest as a user drives it. Each test gives the program a private
// configuration, state, runtime and output folder and a fake xdg-open that logs what it is
// handed.

#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <csignal>
#include <functional>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

#include "app/SettingsStore.h"
#include "support/AppDriver.h"
#include "support/HttpTestServer.h"
#include "support/MediaProbe.h"
#include "support/PortalStack.h"
#include "support/SessionManager.h"
#include "support/ShortcutsPortal.h"
#include "support/TrayHost.h"
#include "support/XKeys.h"
#include "support/XScreen.h"

namespace qm {
namespace {

// The frames a video file holds, repeats included: a frame in which nothing changed is an
// empty chunk, which decoders pass over while keeping the time of the frames after it.
int64_t FramesInFile(const QString& file) {
  return int64_t(test::MediaProbe::ReadAvi(file).Index.size());
}

using test::SpinUntil;

// The file is a video of that size with frames in it, as ffprobe reads it.
test::ProbedVideo ExpectVideo(const QString& file, int width, int height) {
  const test::ProbedVideo video = test::MediaProbe::ProbeVideo(file);
  EXPECT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_EQ(video.Width, width);
  EXPECT_EQ(video.Height, height);
  EXPECT_GT(video.Frames, 0);
  return video;
}

const QString kTitle = QStringLiteral("Quillmark ") + QLatin1String(QM_VERSION);
const QString kDialogTitle = QStringLiteral("Quillmark");

// Down presses that reach a tray item, counted over the items enabled in each state
// (disabled items are skipped).
enum TrayItem {
  kIdleStart = 1,
  kIdleShowSettings = 2,
  kIdlePhoto = 3,
  kIdleExport = 5,
  kIdleExit = 7,
  kRunningPause = 1,
  kRunningStop = 2,
  kPausedContinue = 1,
  kDelayStop = 1,  // Start is greyed while the start delay runs
  kDelayShowSettings = 2,
};

class AppEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartDesktop(true); }
  // openbox, with trayer's notification area or without one (GNOME's default).
  static void StartDesktop(bool tray) {
    windowManager_ = new QProcess;
    windowManager_->setStandardOutputFile(QProcess::nullDevice());
    windowManager_->setStandardErrorFile(QProcess::nullDevice());
    windowManager_->start(QStringLiteral("openbox"), {});
    windowManager_->waitForStarted();
    if (tray) tray_ = new test::TrayHost;
  }
  static void TearDownTestSuite() {
    delete std::exchange(tray_, nullptr);
    windowManager_->kill();
    windowManager_->waitForFinished();
    delete windowManager_;
  }

  void SetUp() override {
    ASSERT_TRUE(driver_.Ok());
    ASSERT_TRUE(!tray_ || tray_->Ok());
    ASSERT_TRUE(root_.isValid());
    for (const char* folder : {"config", "state", "runtime", "out", "bin"})
      QDir(root_.path()).mkdir(folder);
    QFile::setPermissions(Path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile opener(Path("bin/xdg-open"));
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write(("#!/bin/sh\necho \"$@\" >> '" + Path("opened.log") + "'\n").toUtf8());
    opener.close();
    opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Settings().WriteInteger("Capture area", "Capture area", 2);  // 320 x 240
    Settings().WriteInteger("Video", "FPS", 4);
    Settings().WriteInteger("Video", "Start delay", 1);
    Settings().WriteString("Folder", "Output Folder", Path("out") + "/");
    // The automatic update check would ask its question in every test; one test turns it on.
    Settings().WriteBool("Preference", "Automatic update check", false);
  }

  void TearDown() override {
    for (QProcess* app : {&app_, &second_}) {
      if (app->state() == QProcess::NotRunning) continue;
      app->kill();
      app->waitForFinished();
    }
  }

  QString Path(const QString& name) const { return root_.filePath(name); }
  SettingsStore Settings() const { return SettingsStore(Path("config/Zorvek/Quillmark.conf")); }

  void Launch(QProcess& app, qint64 fileSizeLimit = 0,
              const std::function<void(QProcessEnvironment&)>& adjust = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", Path("config"));
    // Notes of recordings in progress stay with the test that made them.
    env.insert("XDG_STATE_HOME", Path("state"));
    env.insert("XDG_RUNTIME_DIR", Path("runtime"));
    env.insert("PATH", Path("bin") + ":" + env.value("PATH"));
    env.remove("WAYLAND_DISPLAY");
    env.remove("XDG_SESSION_TYPE");
    if (adjust) adjust(env);
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    if (fileSizeLimit > 0) {
      app.setChildProcessModifier([fileSizeLimit] {
        const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
      });
    }
    app.start(QStringLiteral(QM_APP_PATH), {});
    ASSERT_TRUE(app.waitForStarted());
  }

  // Starts the program and waits for its window.
  void Start(qint64 fileSizeLimit = 0) {
    Launch(app_, fileSizeLimit);
    ASSERT_TRUE(SpinUntil([&] { return MainWindow().Width() > 0; }));
  }

  Rect MainWindow() const { return driver_.FindWindow(kTitle); }
  bool WindowShown() const { return MainWindow().Width() > 0; }

  // "Capture video" is the one pure blue caption of the window.
  void ClickCaptureVideo() {
    Point button;
    ASSERT_TRUE(SpinUntil([&] {
      button = driver_.FindColour(MainWindow(), 0x0000ff);
      return button.X >= 0;
    }));
    driver_.Click(button.X, button.Y);
  }

  // Opens the tray menu and chooses the item downs presses away.
  void ChooseTrayItem(int downs) {
    Rect icon;
    ASSERT_TRUE(SpinUntil([&] {
      icon = driver_.Screen().EmbeddedWindow("quillmark");
      return icon.Width() > 0;
    }));
    driver_.Click(icon.Left + icon.Width() / 2, icon.Top + icon.Height() / 2);
    // The menu opens and takes the keyboard: a loaded machine may take its time.
    ASSERT_TRUE(SpinUntil([&] { return driver_.Screen().PopupShown("quillmark"); }));
    Idle(300);
    for (int i = 0; i < downs; ++i) driver_.Key("Down");
    driver_.Key("Return");
  }

  // Waits for a message box of the program, copies its text and presses its default button.
  QString AnswerDialog() {
    const Rect main = MainWindow();
    Rect dialog;
    EXPECT_TRUE(SpinUntil([&] {
      dialog = driver_.FindWindow(kDialogTitle, main);
      return dialog.Width() > 0;
    }));
    Idle(300);
    QGuiApplication::clipboard()->clear();
    driver_.Key("c", true);
    QString text;
    SpinUntil(
        [&] {
          text = QGuiApplication::clipboard()->text();
          return !text.isEmpty();
        },
        10);
    driver_.Key("Return");
    EXPECT_TRUE(SpinUntil([&] { return driver_.FindWindow(kDialogTitle, main).Width() == 0; }));
    return text;
  }

  // Clicks "Hide", at the left end of the row of "Capture video".
  void ClickHide() {
    Point start;
    ASSERT_TRUE(SpinUntil([&] {
      start = driver_.FindColour(MainWindow(), 0x0000ff);
      return start.X >= 0;
    }));
    driver_.Click(MainWindow().Left + 40, start.Y);
    ASSERT_TRUE(SpinUntil([&] { return !WindowShown(); }));
  }

  // Holds keys long enough for the program's keyboard poll to see them, then lets them go.
  void Chord(test::XKeys& keys, const std::vector<unsigned long>& keysyms) {
    keys.Press(keysyms);
    Idle(500);
    keys.ReleaseAll();
    Idle(300);
  }

  QStringList Journal() const {
    return QDir(Path("state/Quillmark")).entryList({"*.recording"}, QDir::Files);
  }

  // Lets the event loop run for a while (the program is another process; nothing here is
  // asserted about time).
  static void Idle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    SpinUntil([&] { return timer.elapsed() >= milliseconds; });
  }

  QStringList Videos() const {
    return QDir(Path("out")).entryList({"C*.avi"}, QDir::Files, QDir::Name);
  }
  QString Opened() const {
    QFile log(Path("opened.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
  }
  bool Ended(QProcess& app) { return app.waitForFinished(60000); }

  static inline QProcess* windowManager_ = nullptr;
  static inline test::TrayHost* tray_ = nullptr;
  test::AppDriver driver_;
  QTemporaryDir root_;
  QProcess app_;
  QProcess second_;
};

TEST_F(AppEndToEnd, RecordPauseContinueStopFromTheTrayAndPlay) {
  Settings().WriteBool("Dialogs", "Hiding window", true);
  Start();
  QElapsedTimer clock;
  clock.start();
  ClickCaptureVideo();
  ASSERT_TRUE(SpinUntil([&] { return !WindowShown() && Videos().size() == 1; }));
  Idle(1500);
  ChooseTrayItem(kRunningPause);
  Idle(3000);
  ChooseTrayItem(kPausedContinue);  // continues after the delay of 1 s
  Idle(2500);
  ChooseTrayItem(kRunningStop);
  const double elapsed = double(clock.elapsed()) / 1000.0;
  ASSERT_TRUE(SpinUntil([&] { return WindowShown(); }));
  const QString file = Path("out/") + Videos().value(0);
  ASSERT_TRUE(SpinUntil([&] { return Opened().contains(file); }));

  const test::ProbedVideo video = ExpectVideo(file, 320, 240);
  // The video lasts its active time: neither the start delay nor the pause with the second
  // delay are in it.
  EXPECT_GT(video.Duration, 0.0);
  EXPECT_LT(video.Duration, elapsed - 3.0);
  // Frames follow the active time at 4 per second (each of the two segments may end just
  // before its next frame was due).
  EXPECT_NEAR(video.Duration * 4, double(FramesInFile(file)), 2.5);

  // "Export last recording" offers it; Return makes the MP4 beside it.
  ClickHide();
  ChooseTrayItem(kIdleExport);
  ASSERT_TRUE(SpinUntil([&] { return driver_.FindWindow(QStringLiteral("Export")).Width() > 0; }));
  Idle(300);
  driver_.Key("Return");
  const QString mp4 = file.chopped(4) + QStringLiteral(".mp4");
  ASSERT_TRUE(SpinUntil([&] { return QFile::exists(mp4); }, 120));
  EXPECT_EQ(test::MediaProbe::ProbeVideo(mp4).CodecName, QStringLiteral("h264"));
}

// Cinepak needs seconds for a full-screen frame, against a frame due every 100 ms: the tray
// menu still opens at once, and Stop brings the window back while the last frame is being
// compressed; the file is complete after it.
TEST_F(AppEndToEnd, ASlowCompressorNeverHoldsUpTheTrayOrTheStop) {
  Settings().WriteInteger("Capture area", "Capture area", 0);  // the whole screen
  Settings().WriteInteger("Video", "FPS", 10);
  Settings().WriteInteger("Video", "Video Compression", 8);  // Cinepak
  Start();
  ClickCaptureVideo();
  ASSERT_TRUE(SpinUntil([&] { return !WindowShown() && Videos().size() == 1; }));
  Idle(2500);
  ChooseTrayItem(kRunningStop);
  ASSERT_TRUE(SpinUntil([&] { return WindowShown(); }, 5));
  // The note of the recording goes once its file is complete.
  ASSERT_TRUE(SpinUntil([&] { return Journal().isEmpty(); }, 60));
  const QString file = Path("out/") + Videos().value(0);
  const test::ProbedVideo video = test::MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_EQ(video.CodecName, "cinepak");
  EXPECT_GE(video.Frames, 1);
  EXPECT_EQ(video.Frames, FramesInFile(file));
}

TEST_F(AppEndToEnd, FailuresReturnTheWindowIdle) {
  // An output folder that cannot be made: it would lie below a regular file (the tests may
  // run as root, whom permissions do not stop).
  QFile blocker(Path("blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  Settings().WriteString("Folder", "Output Folder", Path("blocker/out/"));
  Start();
  ClickCaptureVideo();
  const QString error = AnswerDialog();
  EXPECT_TRUE(error.contains("ErrorCan not create file " + Path("blocker/out/C")))
      << error.toStdString();
  EXPECT_TRUE(SpinUntil([&] { return WindowShown(); }));

  // A file that reaches the size limit ends the recording by itself; the window comes back.
  app_.kill();
  app_.waitForFinished();
  Settings().WriteString("Folder", "Output Folder", Path("out/"));
  Settings().WriteInteger("Video", "Video Compression", 0);  // uncompressed: the limit comes soon
  Start(2 * 1024 * 1024);
  ClickCaptureVideo();
  {
    // Only frames with something new fill the file: the capture area (320 x 240 in the
    // middle of the screen) shows a new picture until the message comes.
    test::XScreen screen;
    const Rect b = screen.Bounds();
    const int32_t left = (b.Width() - 320) / 2, top = (b.Height() - 240) / 2;
    int shift = 0;
    EXPECT_TRUE(SpinUntil([&] {
      ++shift;
      screen.Show(Rect{left, top, left + 320, top + 240}, [shift](int32_t x, int32_t y) {
        return test::XScreen::Pattern(x * 7 + shift * 13, y * 3 + shift);
      });
      if (shift % 8 == 0) screen.Clear();
      return driver_.FindWindow(kDialogTitle).Width() > 0;
    }));
  }
  EXPECT_FALSE(AnswerDialog().isEmpty());
  // A file completed with what fits may bring one more message, after which the window is back.
  EXPECT_TRUE(SpinUntil([&] {
    if (driver_.FindWindow(kDialogTitle).Width() > 0) AnswerDialog();
    return WindowShown();
  }));
  ASSERT_EQ(Videos().size(), 1);
  EXPECT_TRUE(test::MediaProbe::ProbeVideo(Path("out/") + Videos()[0]).Valid);
  EXPECT_EQ(app_.state(), QProcess::Running);
}

// The tray's Stop, and showing the window, during the start delay drop the start to come.
TEST_F(AppEndToEnd, StopOrShowingTheWindowDuringTheDelayDropsTheStartAndRecordingsFollowEachOther) {
  Settings().WriteInteger("Video", "Start delay", 3);
  Start();
  for (const int item : {kDelayStop, kDelayShowSettings}) {
    SCOPED_TRACE(item);
    ClickCaptureVideo();
    ASSERT_TRUE(SpinUntil([&] { return !WindowShown(); }));
    ChooseTrayItem(item);
    ASSERT_TRUE(SpinUntil([&] { return WindowShown(); }));
    Idle(4500);
    EXPECT_TRUE(Videos().isEmpty());
    EXPECT_TRUE(WindowShown());
  }

  // Two recordings back to back, each played as its own file.
  for (int i = 1; i <= 2; ++i) {
    ClickCaptureVideo();
    ASSERT_TRUE(SpinUntil([&] { return !WindowShown() && Videos().size() == i; }, 60));
    Idle(1000);
    ChooseTrayItem(kRunningStop);
    ASSERT_TRUE(SpinUntil([&] { return WindowShown(); }));
  }
  const QStringList videos = Videos();
  ASSERT_EQ(videos.size(), 2);
  for (const QString& video : videos) {
    EXPECT_TRUE(SpinUntil([&] { return Opened().count(Path("out/") + video) == 1; }))
        << Opened().toStdString();
    EXPECT_TRUE(test::MediaProbe::ProbeVideo(Path("out/") + video).Valid);
  }
}

TEST_F(AppEndToEnd, OneInstanceAKilledOneIsReplacedAndSigtermCompletesTheFile) {
  Start();
  Launch(second_);
  EXPECT_TRUE(AnswerDialog().contains("Glintcast is already running"));
  ASSERT_TRUE(Ended(second_));
  EXPECT_EQ(second_.exitCode(), 0);

  ::kill(pid_t(app_.processId()), SIGKILL);
  app_.waitForFinished();
  ASSERT_TRUE(SpinUntil([&] { return !WindowShown(); }));
  Start();

  ClickCaptureVideo();
  ASSERT_TRUE(SpinUntil([&] { return Videos().size() == 1; }));
  Idle(2000);
  ::kill(pid_t(app_.processId()), SIGTERM);
  ASSERT_TRUE(Ended(app_));
  EXPECT_EQ(app_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(app_.exitCode(), 0);
  const test::ProbedVideo video = test::MediaProbe::ProbeVideo(Path("out/") + Videos()[0]);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_GT(video.Frames, 0);
  // The settings were written at the end: values that were missing are there now.
  EXPECT_EQ(Settings().ReadInteger("Picture", "JPG Quality", -1), 17);
}

TEST_F(AppEndToEnd, ALockThatCannotBeUsedEndsTheStartAndAnUntrustedFolderRunsUnguarded) {
  const QString lock = Path("runtime/Glintcast.lock");
  ASSERT_TRUE(QDir().mkdir(lock));
  Launch(app_);
  const QString failure = AnswerDialog();
  EXPECT_TRUE(failure.contains("Can not use the lock file " + lock + ": Is a directory"))
      << failure.toStdString();
  ASSERT_TRUE(Ended(app_));
  EXPECT_EQ(app_.exitCode(), 1);

  // Without a runtime folder, a fallback folder that is open to others is not used: the
  // program says so and runs without the guard.
  const QString shared = Path("tmp/quillmark-") + QString::number(::geteuid());
  ASSERT_TRUE(QDir().mkpath(shared));
  ASSERT_TRUE(QFile::setPermissions(shared, QFileDevice::Permissions(0x7777)));
  Launch(app_, 0, [&](QProcessEnvironment& env) {
    env.remove("XDG_RUNTIME_DIR");
    env.insert("TMPDIR", Path("tmp"));
  });
  const QString unguarded = AnswerDialog();
  EXPECT_TRUE(
      unguarded.contains("Quillmark runs without its check for another running "
                         "Quillmark: " +
                         shared + " is open to other users (mode 777)"))
      << unguarded.toStdString();
  EXPECT_TRUE(SpinUntil([&] { return WindowShown(); }));
  EXPECT_FALSE(QFile::exists(shared + "/Glintcast.lock"));
}

TEST_F(AppEndToEnd, ChangesAreSavedWhileRunningAndAVanishedOutputFolderIsMadeAgain) {
  Start();
  // The page's area list takes the keys after the tab bar.
  Idle(500);
  driver_.Key("Tab");
  driver_.Key("Down");
  EXPECT_TRUE(
      SpinUntil([&] { return Settings().ReadInteger("Capture area", "Capture area", -1) == 3; }));

  ASSERT_TRUE(QDir(Path("out")).removeRecursively());
  ClickCaptureVideo();
  ASSERT_TRUE(SpinUntil([&] { return !WindowShown() && Videos().size() == 1; }));
  Idle(1000);
  ChooseTrayItem(kRunningStop);
  ASSERT_TRUE(SpinUntil([&] { return WindowShown(); }));
  EXPECT_TRUE(test::MediaProbe::ProbeVideo(Path("out/") + Videos().value(0)).Valid);
}

// A checkpoint and a log-out that is cancelled save the settings and leave the recording
// running; only the session's end ends the program, with a complete file.
TEST_F(AppEndToEnd, TheSessionSavesAtEachRequestAndEndsTheProgramOnlyAtItsEnd) {
  test::SessionManager session;
  ASSERT_TRUE(session.Ok());
  Launch(app_, 0,
         [&](QProcessEnvironment& env) { env.insert("SESSION_MANAGER", session.Address()); });
  ASSERT_TRUE(SpinUntil([&] { return WindowShown() && session.Registered(); }));
  ClickCaptureVideo();
  ASSERT_TRUE(SpinUntil([&] { return !WindowShown() && Videos().size() == 1; }));
  // Values the test left out reach the file only through a save.
  ASSERT_EQ(Settings().ReadInteger("Picture", "JPG Quality", -1), -1);

  const int saves = session.SavesDone();
  session.Checkpoint();
  ASSERT_TRUE(SpinUntil([&] { return session.SavesDone() == saves + 1; }));
  EXPECT_EQ(Settings().ReadInteger("Picture", "JPG Quality", -1), 17);
  session.LogOut();
  ASSERT_TRUE(SpinUntil([&] { return session.SavesDone() == saves + 2; }));
  session.CancelLogOut();
  Idle(1500);
  EXPECT_EQ(app_.state(), QProcess::Running);
  EXPECT_FALSE(WindowShown());

  session.LogOut();
  ASSERT_TRUE(SpinUntil([&] { return session.SavesDone() == saves + 3; }));
  session.Die();
  ASSERT_TRUE(Ended(app_));
  EXPECT_EQ(app_.exitCode(), 0);
  const test::ProbedVideo video = test::MediaProbe::ProbeVideo(Path("out/") + Videos()[0]);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_GT(video.Frames, 0);
}

TEST_F(AppEndToEnd, PhotoThroughTheTrayInEachTypeThenExit) {
  Settings().WriteBool("Dialogs", "Hiding window", true);
  const char* names[] = {"B00000001.gif", "B00000001.jpg", "B00000001.bmp"};
  for (int type = 0; type < 3; ++type) {
    SCOPED_TRACE(type);
    Settings().WriteInteger("Picture", "Picture type", type);
    Start();
    ClickHide();
    ChooseTrayItem(kIdlePhoto);
    QString photo;
    ASSERT_TRUE(SpinUntil([&] {
      QDirIterator it(Path("out"), {names[type]}, QDir::Files, QDirIterator::Subdirectories);
      photo = it.hasNext() ? it.next() : QString();
      return !photo.isEmpty() && QFileInfo(photo).size() > 0;
    }));
    QFile::remove(photo);
    Idle(1500);  // the outline of the photo goes
    ChooseTrayItem(kIdleExit);
    EXPECT_EQ(AnswerDialog().contains("Close Quillmark?"), true);
    ASSERT_TRUE(Ended(app_));
    EXPECT_EQ(app_.exitCode(), 0);
  }
}

TEST_F(AppEndToEnd, ARecordingKilledMidwayIsCompletedAtTheNextStart) {
  Start();
  ClickCaptureVideo();
  ASSERT_TRUE(SpinUntil([&] { return !WindowShown() && Videos().size() == 1; }));
  const QString file = Path("out/") + Videos()[0];
  Idle(2500);
  ::kill(pid_t(app_.processId()), SIGKILL);
  app_.waitForFinished();
  EXPECT_EQ(Journal().size(), 1);

  // Before the window, the program completes the file and says what it kept.
  Launch(app_);
  const QString text = AnswerDialog();
  EXPECT_TRUE(text.contains(file)) << text.toStdString();
  const QRegularExpressionMatch kept = QRegularExpression("(\\d+) frames").match(text);
  ASSERT_TRUE(kept.hasMatch()) << text.toStdString();
  ASSERT_TRUE(SpinUntil([&] { return WindowShown(); }));
  EXPECT_TRUE(Journal().isEmpty());
  const test::ProbedVideo video = test::MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_GT(video.Frames, 0);
  EXPECT_EQ(FramesInFile(file), kept.captured(1).toLongLong());
  EXPECT_NEAR(video.Duration * 4, double(FramesInFile(file)), 1.0);

  // With nothing left to complete, a start shows the window and no message.
  app_.kill();
  app_.waitForFinished();
  ASSERT_TRUE(SpinUntil([&] { return !WindowShown(); }));
  Start();
  Idle(1500);
  EXPECT_EQ(driver_.FindWindow(kDialogTitle).Width(), 0);
}

TEST_F(AppEndToEnd, ShortcutsRecordPauseContinueStopAndTakeAPhotoWithTheWindowHidden) {
  Settings().WriteBool("Dialogs", "Hiding window", true);
  Settings().WriteInteger("Picture", "Picture type", 1);  // JPEG
  test::XKeys keys;
  ASSERT_TRUE(keys.Ok());
  Start();
  ClickHide();

  QElapsedTimer clock;
  clock.start();
  Chord(keys, {XK_Control_L, XK_Alt_L, XK_s});  // start at once, without the delay
  ASSERT_TRUE(SpinUntil([&] { return Videos().size() == 1; }));
  Idle(1500);
  Chord(keys, {XK_Control_L, XK_Alt_L, XK_p});  // pause
  Idle(2500);
  Chord(keys, {XK_Control_L, XK_Alt_L, XK_p});  // continue
  Idle(1500);
  // Stop with a quick tap, pressed and released between two of the program's polls.
  keys.Press({XK_Control_L, XK_Alt_L, XK_f});
  keys.ReleaseAll();
  const double elapsed = double(clock.elapsed()) / 1000.0;
  const QString file = Path("out/") + Videos().value(0);
  ASSERT_TRUE(SpinUntil([&] { return WindowShown() && Opened().contains(file); }));
  const test::ProbedVideo video = ExpectVideo(file, 320, 240);
  // The pause is not in the video.
  EXPECT_LT(video.Duration, elapsed - 2.0);
  EXPECT_NEAR(video.Duration * 4, double(FramesInFile(file)), 2.5);

  ClickHide();
  Chord(keys, {XK_Control_L, XK_Alt_L, XK_x});
  QString photo;
  ASSERT_TRUE(SpinUntil([&] {
    QDirIterator it(Path("out"), {"B*.jpg"}, QDir::Files, QDirIterator::Subdirectories);
    photo = it.hasNext() ? it.next() : QString();
    return !photo.isEmpty() && QFileInfo(photo).size() > 0;
  }));
  QFile picture(photo);
  ASSERT_TRUE(picture.open(QIODevice::ReadOnly));
  EXPECT_TRUE(picture.read(3) == QByteArray("\xFF\xD8\xFF"));
}

// The program on a desktop without a notification area (openbox alone), on X11 and as on a
// Wayland desktop without a StatusNotifier host: the window is minimised while it records,
// and brought back (Alt+Tab) it stops the recording with its Stop, where "Capture video" was.
class AppWithoutTray : public AppEndToEnd {
 protected:
  static void SetUpTestSuite() { StartDesktop(false); }
};

TEST_F(AppWithoutTray, TheWindowBroughtBackStopsTheRecording) {
  test::XKeys keys;
  ASSERT_TRUE(keys.Ok());
  Settings().WriteString("Capture area", "Source", "x11");
  for (const bool wayland : {false, true}) {
    SCOPED_TRACE(wayland ? "wayland" : "x11");
    Launch(app_, 0, [&](QProcessEnvironment& env) {
      if (wayland) env.insert("XDG_SESSION_TYPE", "wayland");
    });
    // On Wayland the page of shortcuts says first that they are the desktop's.
    ASSERT_TRUE(SpinUntil([&] {
      if (driver_.FindWindow(kDialogTitle, MainWindow()).Width() > 0) AnswerDialog();
      return WindowShown();
    }));
    ClickCaptureVideo();
    ASSERT_TRUE(SpinUntil([&] { return !WindowShown() && Videos().size() == 1; }));
    const QString file = Path("out/") + Videos()[0];
    Idle(1500);
    ASSERT_TRUE(SpinUntil([&] {
      if (!WindowShown()) Chord(keys, {XK_Alt_L, XK_Tab});
      return WindowShown();
    }));
    ClickCaptureVideo();  // Stop
    ASSERT_TRUE(SpinUntil([&] { return Opened().contains(file); }));
    EXPECT_TRUE(WindowShown());
    ExpectVideo(file, 320, 240);
    ASSERT_TRUE(QFile::remove(file));
    app_.kill();
    app_.waitForFinished();
    ASSERT_TRUE(SpinUntil([&] { return !WindowShown(); }));
  }
}

// On Wayland the desktop watches the keys: the four shortcuts go to its GlobalShortcuts portal
// (the tests' stand-in on a bus of its own), and its Activated signals drive the recording.
TEST_F(AppEndToEnd, TheDesktopsShortcutsStartAndStopARecordingOnWayland) {
  test::ShortcutsPortal portal;
  ASSERT_TRUE(portal.Ok());
  Settings().WriteString("Capture area", "Source", "x11");
  Launch(app_, 0, [&](QProcessEnvironment& env) {
    env.insert("DBUS_SESSION_BUS_ADDRESS", portal.Address());
    env.insert("XDG_SESSION_TYPE", "wayland");
  });
  EXPECT_TRUE(AnswerDialog().contains("Wayland session"));
  ASSERT_TRUE(SpinUntil([&] { return WindowShown(); }));
  ASSERT_TRUE(SpinUntil([&] {
    for (const QJsonObject& entry : portal.Log())
      if (entry["answered"] == "BindShortcuts") return true;
    return false;
  }));
  const QJsonArray bound = portal.Calls("BindShortcuts").value(0)["shortcuts"].toArray();
  const QStringList expected = {
      "Photo|To take an image|CTRL+ALT+x",
      "StartMovie|To start taking movie|CTRL+ALT+s",
      "PauseMovie|To pause/continue movie|CTRL+ALT+p",
      "FinishMovie|To stop taking movie|CTRL+ALT+f",
  };
  QStringList sent;
  for (const QJsonValue& entry : bound) {
    const QJsonObject values = entry[1].toObject();
    sent << QStringList{entry[0].toString(), values["description"].toString(),
                        values["preferred_trigger"].toString()}
                .join('|');
  }
  EXPECT_EQ(sent, expected);

  portal.Send("activate StartMovie");
  ASSERT_TRUE(SpinUntil([&] { return Videos().size() == 1; }));
  Idle(1500);
  portal.Send("activate FinishMovie");
  const QString file = Path("out/") + Videos().value(0);
  ASSERT_TRUE(SpinUntil([&] { return Opened().contains(file); }));
  const test::ProbedVideo video = test::MediaProbe::ProbeVideo(file);
  ASSERT_TRUE(video.Valid) << video.Error.toStdString();
  EXPECT_EQ(video.Width, 320);
  EXPECT_GT(video.Frames, 0);
}

TEST_F(AppEndToEnd, TheAutomaticCheckAtStartShowsANewerVersion) {
  test::HttpTestServer server;
  const QByteArray next = server.Base().toUtf8() + "/next";
  server.handler =
      test::HttpReply(200, "Quillmark\r\n1.4\r\n" + next + "\r\n" + next + "/dl\r\nFaster.\r\n");
  Settings().WriteString("Update", "Website", server.Base());
  Settings().WriteBool("Preference", "Automatic update check", true);
  Start();
  // A first run asks before it contacts the service.
  ASSERT_TRUE(SpinUntil([&] { return driver_.FindWindow("Confirmation").Width() > 0; }));
  EXPECT_TRUE(server.requests.empty());
  Idle(300);
  driver_.Key("Return");
  ASSERT_TRUE(SpinUntil([&] { return driver_.FindWindow("There is a new update").Width() > 0; }));
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_TRUE(server.requests[0].line.startsWith(
      "GET /Quillmark/UpdateInfo.php?currentversion=" + QByteArray(QM_VERSION) + "&id="))
      << server.requests[0].line.toStdString();
  EXPECT_EQ(Settings().ReadString("Update", "Website", QString()), QString::fromUtf8(next));
  Idle(300);
  driver_.Key("Escape");
  EXPECT_TRUE(SpinUntil([&] { return driver_.FindWindow("There is a new update").Width() == 0; }));
  EXPECT_EQ(server.requests.size(), 1u);
}

// The program on a Wayland desktop, which shares its screen through the ScreenCast portal: the
// real portal program and PipeWire, with the tests' backend standing in for the compositor
// (tests/screencast). The program still draws its windows on the test display. The backend's
// picture (640 x 480 unless a case says otherwise) is smaller than that screen, so a preset
// centred on the screen would lie beside it.
class AppOnPortal : public AppEndToEnd {
 protected:
  static void SetUpTestSuite() {
    AppEndToEnd::SetUpTestSuite();
    dir_ = new QTemporaryDir;
    stack_ = new test::PortalStack;
    if (!stack_->Start(dir_->path()))
      failure_ = QStringLiteral("the portal session did not start: ") + stack_->Errors();
  }
  static void TearDownTestSuite() {
    delete stack_;
    delete dir_;
    AppEndToEnd::TearDownTestSuite();
  }

  void SetUp() override {
    test::RequireStack(failure_);
    if (IsSkipped() || HasFatalFailure()) return;
    AppEndToEnd::SetUp();
    Settings().WriteString("Capture area", "Source", "portal");
    Settings().WriteInteger("Video", "Video Compression", 0);  // uncompressed: pixels as grabbed
    stack_->Control("size=640x480\n");
    stack_->ClearLog();
  }

  void StartOnWayland() {
    Launch(app_, 0, [](QProcessEnvironment& env) {
      env.insert("XDG_SESSION_TYPE", "wayland");
      env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromLatin1(stack_->Bus()));
    });
    ASSERT_TRUE(SpinUntil([&] { return WindowShown(); }));
  }

  static inline QTemporaryDir* dir_ = nullptr;
  static inline test::PortalStack* stack_ = nullptr;
  static inline QString failure_;
};

// The 320 x 240 preset is centred on the shared picture, in a recording and in a photo; the
// first session leaves its restore token in the settings file, and the photo's session starts
// from it without the desktop's dialog.
TEST_F(AppOnPortal, RecordsAndPhotographsThePresetCentredOnTheSharedPicture) {
  Settings().WriteInteger("Picture", "Picture type", 2);  // BMP
  Settings().WriteBool("Dialogs", "Hiding window", true);
  StartOnWayland();
  ClickCaptureVideo();
  ASSERT_TRUE(SpinUntil([&] { return !WindowShown() && Videos().size() == 1; }, 60));
  Idle(1500);
  ChooseTrayItem(kRunningStop);
  const QString file = Path("out/") + Videos().value(0);
  ASSERT_TRUE(SpinUntil([&] { return WindowShown() && Opened().contains(file); }));
  ExpectVideo(file, 320, 240);
  test::ExpectPattern(file, 320, 240, 160, 120);
  EXPECT_FALSE(Settings().ReadString("Capture area", "Restore token", QString()).isEmpty());

  ClickHide();
  ChooseTrayItem(kIdlePhoto);
  QString photo;
  ASSERT_TRUE(SpinUntil([&] {
    QDirIterator it(Path("out"), {"B*.bmp"}, QDir::Files, QDirIterator::Subdirectories);
    photo = it.hasNext() ? it.next() : QString();
    return !photo.isEmpty() && QFileInfo(photo).size() > 0;
  }));
  Idle(500);  // the picture is written whole
  test::ExpectPattern(photo, 320, 240, 160, 120);
  EXPECT_EQ(stack_->Log(),
            QStringList({QStringLiteral("dialog types=3"), QStringLiteral("restored types=3")}));
}

// The desktop's answers that end a start or a recording: each is told, the window comes back
// and takes the next recording.
TEST_F(AppOnPortal, ARefusedDialogStartsNothingAndAnEndedSharingCompletesTheFile) {
  struct Case {
    const char* Name;
    QByteArray Control;
    const char* Message;
    int Videos;  // in the output folder afterwards
  };
  StartOnWayland();
  for (const Case& c : {Case{"refused", "response=1\n", "Screen sharing was not allowed", 0},
                        Case{"stopped", "size=320x240\nstop_after=1500\n",
                             "The desktop stopped sharing the screen", 1}}) {
    SCOPED_TRACE(c.Name);
    stack_->Control(c.Control);
    ClickCaptureVideo();
    const QString text = AnswerDialog();
    EXPECT_TRUE(text.contains(QLatin1String(c.Message))) << text.toStdString();
    ASSERT_TRUE(SpinUntil([&] { return WindowShown(); }));
    EXPECT_EQ(QDir(Path("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(),
              c.Videos);
  }
  const QString file = Path("out/") + Videos().value(0);
  ASSERT_TRUE(SpinUntil([&] { return Opened().contains(file); }));
  ExpectVideo(file, 320, 240);
  test::ExpectPattern(file, 320, 240, 0, 0);
}

}  // namespace
}  // namespace qm
