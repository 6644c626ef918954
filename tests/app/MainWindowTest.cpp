// The main window in the test program itself, with its settings in a private folder, and the
// dialogs it opens.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "app/EncoderConfigDialog.h"
#include "app/ExportDialog.h"
#include "app/MainWindow.h"
#include "app/SettingsStore.h"
#include "app/SettingsTable.h"
#include "app/SoundMeter.h"
#include "area/CaptureAreaPage.h"
#include "common/FourCC.h"
#include "platform/keyboard/XKeyStateSource.h"
#include "shortcuts/KeyRecordDialog.h"
#include "shortcuts/ShortcutWatcher.h"
#include "support/MediaProbe.h"
#include "support/MonitorLayout.h"
#include "support/RecordingMessages.h"
#include "support/TrayHost.h"
#include "support/UiScript.h"
#include "support/WindowManager.h"
#include "ui/AboutBox.h"
#include "ui/ConfirmOnce.h"
#include "ui/ErrorReportDialog.h"
#include "update/UpdateWindow.h"

namespace qm {
namespace {

using test::SpinUntil;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    qputenv("XDG_STATE_HOME", root_.filePath("state").toLocal8Bit());
    Settings().WriteBool("Preference", "Automatic update check", false);
    Settings().WriteBool("Video", "PlayResult", false);
    Settings().WriteInteger("Capture area", "Capture area", 2);  // 320 x 240
    Settings().WriteString("Folder", "Output Folder", root_.filePath("out") + "/");
    QDir(root_.path()).mkdir("out");
  }

  SettingsStore Settings() const { return SettingsStore(root_.filePath("Quillmark.conf")); }
  // The window with the settings written so far, shown and placed.
  MainWindow& Open(bool show = true) {
    window_ = std::make_unique<MainWindow>(
        std::make_unique<SettingsStore>(root_.filePath("Quillmark.conf")));
    if (show) {
      window_->show();
      EXPECT_TRUE(SpinUntil([&] { return window_->isVisible(); }));
      Settle();
    }
    return *window_;
  }
  template <class T>
  T* Child(const char* name) {
    return window_->findChild<T*>(QLatin1String(name));
  }
  // Lets the window system's answers arrive.
  static void Settle(int milliseconds = 300) {
    QElapsedTimer timer;
    timer.start();
    SpinUntil([&] { return timer.elapsed() > milliseconds; });
  }
  // Records about a second of the screen; the recording's file, once complete.
  QString RecordASecond() {
    window_->Recording().StartNow();
    EXPECT_TRUE(SpinUntil([&] { return window_->Recording().IsRecording(); }));
    Settle(1000);
    window_->Recording().Stop();
    EXPECT_TRUE(SpinUntil([&] { return !window_->Recording().IsBusy(); }));
    return window_->Recording().OutputFile();
  }
  QString StatusText() { return window_->statusBar()->findChild<QLabel*>()->text(); }
  // Types digits over the spin edit's number.
  static void Type(QWidget* spin, const QString& text) {
    spin->setFocus();
    static_cast<QAbstractSpinBox*>(spin)->selectAll();
    for (const QChar c : text) {
      QKeyEvent key(QEvent::KeyPress, Qt::Key_0 + (c.unicode() - '0'), Qt::NoModifier, c);
      QApplication::sendEvent(spin, &key);
    }
  }

  QTemporaryDir root_;
  test::RecordingMessages messages_;
  std::unique_ptr<MainWindow> window_;
};

// A fixed dialog border: neither resizing nor a maximise button.
TEST_F(MainWindowTest, EveryDialogHasAFixedBorder) {
  struct : SilencedDialogs {
    bool IsSilenced(const QString&) const override { return false; }
    void Silence(const QString&) override {}
  } silence;
  XKeyStateSource keyboard;
  ShortcutWatcher watcher(keyboard);
  const std::function<void()> dialogs[] = {
      [&] { ConfirmOnce(AutoUpdateCheckText(), nullptr, silence); },
      [] { ErrorReportDialog(QStringLiteral("Invalid bitmap")).exec(); },
      [] { AboutBox(nullptr).exec(); },
      [&] { KeyRecordDialog::Execute("To take an image", "CTRL+X", watcher, nullptr, nullptr); },
      [] { UpdateWindow(QStringLiteral("New"), QStringLiteral("1.4"), {}, nullptr).exec(); },
      [] { EncoderConfigDialog(QStringLiteral("MP42"), {}, true, false).exec(); },
      [] {
        ExportController exports;
        ExportDialog(exports).exec();
      },
  };
  for (const auto& open : dialogs) {
    QString seen;
    QTimer::singleShot(0, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      seen = dialog->metaObject()->className();
      EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize()) << seen.toStdString();
      EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint) << seen.toStdString();
      QMetaObject::invokeMethod(dialog, "reject");
    });
    open();
    EXPECT_FALSE(seen.isEmpty());
  }
}

// On Wayland with no desktop portal to watch the keys (these tests have no session bus) the
// "Short-cut" page gives the notice.
TEST_F(MainWindowTest, OnWaylandWithoutTheDesktopsShortcutsThePageGivesTheNotice) {
  qputenv("XDG_SESSION_TYPE", "wayland");
  Open(false);
  qunsetenv("XDG_SESSION_TYPE");
  Settle();
  EXPECT_EQ(Child<QLabel>("lbNotice")->text(), WaylandKeyboardNotice());
}

TEST_F(MainWindowTest, SpinEditsTakeTypedNumbersWithinTheirLimits) {
  // "Video Compression" is missing: the preselection stays.
  MainWindow& window = Open();
  auto* compressors = Child<QComboBox>("cbCompressor");
  if (compressors->findData(qulonglong(MakeFourCC("MP42"))) >= 0) {
    EXPECT_EQ(compressors->currentData().toULongLong(), qulonglong(MakeFourCC("MP42")));
  }

  const struct {
    const char* spin;
    const char* typed;
    int value;
  } cases[] = {
      {"seFPS", "10", 10},        {"seFPS", "50", 32},      {"seFPS", "0", 1},
      {"seStartDelay", "75", 60}, {"seStartDelay", "7", 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.spin) + " " + c.typed);
    auto* spin = Child<QSpinBox>(c.spin);
    spin->setFocus();
    spin->selectAll();
    for (const char digit : std::string(c.typed)) {
      QKeyEvent key(QEvent::KeyPress, Qt::Key_0 + (digit - '0'), Qt::NoModifier,
                    QString(QLatin1Char(digit)));
      QApplication::sendEvent(spin, &key);
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(spin, &enter);
    EXPECT_EQ(spin->value(), c.value);
  }
  (void)window;
  window_.reset();
  EXPECT_EQ(Settings().ReadInteger("Video", "FPS", 0), 1);
  EXPECT_EQ(Settings().ReadInteger("Video", "Start delay", 0), 7);
  // A stored index applies.
  Settings().WriteInteger("Video", "Video Compression", 0);
  Open(false);
  EXPECT_EQ(Child<QComboBox>("cbCompressor")->currentIndex(), 0);
}

// Another start of the program wakes this one: a hidden window (here during the start
// delay) stays hidden, a shown one comes forward as it is, restored only from minimised.
TEST_F(MainWindowTest, AWakeRestoresOnlyAMinimisedWindow) {
  MainWindow& window = Open();
  window.Recording().CaptureVideo();
  Settle();
  window.Wake();
  Settle();
  EXPECT_TRUE(!window.isVisible() || window.isMinimized());
  window.Recording().Stop();
  ASSERT_TRUE(SpinUntil([&] { return window.isVisible() && !window.isMinimized(); }));

  window.showMaximized();
  Settle();
  window.Wake();
  Settle();
  EXPECT_TRUE(window.isMaximized());
  window.showMinimized();
  Settle();
  window.Wake();
  Settle();
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.isMaximized());
}

// Without a notification area (none runs here) the window, minimised while it records,
// controls the recording itself: Stop and Pause (or Continue) in place of "Capture video", the
// start delay's seconds and the figures in the status bar. Closing says where the window goes.
TEST_F(MainWindowTest, WithoutATrayTheWindowControlsTheRecording) {
  Settings().WriteInteger("Video", "Start delay", 5);
  MainWindow& window = Open();
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  auto* capture = Child<QPushButton>("bCaptureVideo");
  auto* pause = Child<QPushButton>("bPause");
  auto* stop = Child<QPushButton>("bStop");
  struct Step {
    const char* Name;
    std::function<void()> Act;
    const char* Status;  // how the status bar begins
    bool Idle;           // "Capture video" shows, Stop and Pause do not
    bool PauseEnabled;
    const char* PauseText;
  };
  const Step steps[] = {
      {"capture video", [&] { capture->click(); }, "Starting in ", false, false, "Pause"},
      {"stop cancels the start", [&] { stop->click(); }, "", true, false, "Pause"},
      {"start", [&] { window.Recording().StartNow(); }, "Recording 0:00:0", false, true, "Pause"},
      {"pause", [&] { pause->click(); }, "Paused 0:00:0", false, true, "Continue"},
      {"continue", [&] { pause->click(); }, "Recording 0:00:0", false, true, "Pause"},
      {"stop", [&] { stop->click(); }, "Output: ", true, false, "Pause"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.Name);
    step.Act();
    EXPECT_TRUE(SpinUntil([&] {
      return *step.Status ? StatusText().startsWith(QLatin1String(step.Status))
                          : StatusText().isEmpty();
    })) << StatusText().toStdString();
    EXPECT_EQ(capture->isVisibleTo(&window), step.Idle);
    EXPECT_EQ(stop->isVisibleTo(&window), !step.Idle);
    EXPECT_EQ(pause->isVisibleTo(&window), !step.Idle);
    EXPECT_EQ(pause->isEnabled(), step.PauseEnabled);
    EXPECT_EQ(pause->text(), QLatin1String(step.PauseText));
  }
  ASSERT_TRUE(SpinUntil([&] { return !window.Recording().IsBusy() && window.isVisible(); }));
  EXPECT_EQ(QDir(root_.filePath("out")).entryList({"C*.avi"}, QDir::Files).size(), 1);
  QString told;
  test::UiScript script;
  script.When([] { return QApplication::activeModalWidget() != nullptr; },
              [&] {
                QWidget* box = QApplication::activeModalWidget();
                told = box->findChild<QPlainTextEdit*>("Memo1")->toPlainText();
                QMetaObject::invokeMethod(box, "reject");
              });
  script.Start();
  window.close();
  script.RunOut();
  EXPECT_TRUE(told.contains("minimised to the taskbar")) << told.toStdString();
  EXPECT_FALSE(told.contains("tray")) << told.toStdString();
}

// A player that cannot start is told in the status bar, which takes no focus; the line fits
// the window, the file named whole in its tooltip.
TEST_F(MainWindowTest, APlayerThatCannotStartIsToldInTheStatusBar) {
  QFile opener(root_.filePath("xdg-open"));
  ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
  opener.write("#!/bin/sh\nexit 3\n");
  opener.close();
  opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", root_.path().toLocal8Bit() + ":" + path);
  Settings().WriteBool("Video", "PlayResult", true);
  Open().resize(300, window_->height());
  const QString file = RecordASecond();
  auto* status = window_->statusBar()->findChild<QLabel*>();
  const bool told = SpinUntil(
      [&] { return StatusText().startsWith("The video player could not be started for "); });
  qputenv("PATH", path);
  EXPECT_TRUE(told) << StatusText().toStdString();
  EXPECT_TRUE(StatusText().endsWith(QFileInfo(file).fileName())) << StatusText().toStdString();
  EXPECT_EQ(status->toolTip(), file);
  EXPECT_LE(status->fontMetrics().horizontalAdvance(StatusText()), window_->width());
  EXPECT_TRUE(messages_.Messages().isEmpty()) << messages_.Messages().join('\n').toStdString();
}

// A compressor too slow for the rate at the area's size is marked on the Video page before any
// recording; the measurement runs beside the window, which answers meanwhile.
TEST_F(MainWindowTest, TheVideoPageMarksACompressorTooSlowForTheSize) {
  Settings().WriteInteger("Video", "FPS", 10);
  Open(false);
  auto* compressors = Child<QComboBox>("cbCompressor");
  auto* speed = Child<QLabel>("lbCompressorSpeed");
  struct Case {
    uint32_t Code;
    int Area;  // 0: the whole screen, 2: 320 x 240
    bool Marked;
  };
  for (const Case& c : {Case{MakeFourCC("cvid"), 0, true}, Case{MakeFourCC("MP42"), 2, false}}) {
    SCOPED_TRACE(FourCCText(c.Code).toStdString());
    const int index = compressors->findData(qulonglong(c.Code));
    ASSERT_GE(index, 0);
    compressors->setCurrentIndex(index);
    Child<QComboBox>("cbArea")->setCurrentIndex(c.Area);
    ASSERT_TRUE(SpinUntil([&] { return !speed->text().isEmpty(); }, 60));
    EXPECT_TRUE(
        QRegularExpression("^about [0-9.]+ fps at this size$").match(speed->text()).hasMatch())
        << speed->text().toStdString();
    EXPECT_NE(speed->isHidden(), c.Marked) << speed->text().toStdString();
  }
}

// A recording that starts while a photo has the window hidden keeps it hidden; the status
// bar's link to its file says so when the file is gone.
TEST_F(MainWindowTest, ARecordingTakesTheWindowOverFromAPhoto) {
  test::TrayHost tray;
  ASSERT_TRUE(tray.Ok());
  MainWindow& window = Open();
  window_->Photo().TakePhoto();
  window.Recording().StartNow();
  ASSERT_TRUE(SpinUntil([&] { return !window.Photo().IsPending(); }));
  Settle();
  EXPECT_FALSE(window.isVisible());

  window.Recording().Stop();
  ASSERT_TRUE(SpinUntil([&] { return window.isVisible(); }));
  const QString file = window.Recording().OutputFile();
  ASSERT_FALSE(file.isEmpty());
  window.Recording().Finish();  // the file is complete
  ASSERT_TRUE(QFile::remove(file));
  QMouseEvent click(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                    Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(window.statusBar(), &click);
  EXPECT_TRUE(messages_.Messages().contains("The file does not exist: " + file))
      << messages_.Messages().join('\n').toStdString();
}

// A photo's status line names its file as a recording's does; the run's folder counts from 1.
TEST_F(MainWindowTest, APhotosStatusLineNamesItsOutput) {
  test::TrayHost tray;
  ASSERT_TRUE(tray.Ok());
  MainWindow& window = Open();
  window.Photo().TakePhoto();
  ASSERT_TRUE(SpinUntil([&] { return !window.Photo().IsPending(); }));
  EXPECT_TRUE(StatusText().startsWith("Output: ")) << StatusText().toStdString();
  EXPECT_TRUE(StatusText().endsWith("/B00000001.gif")) << StatusText().toStdString();
}

// Values that cannot be read (a hand-edited file) take their defaults, named in one notice and
// written back at once; an area the list lacks fills the list again.
TEST_F(MainWindowTest, UnreadableSettingsGiveOneNoticeAndTheirDefaults) {
  Settings().WriteInteger("Capture area", "Capture area", 99);
  Settings().WriteString("Video", "FPS", "fast");
  Settings().WriteString("Short-cut", "Photo", "");
  Open(false);
  EXPECT_EQ(messages_.Messages(),
            QStringList{ResetNotice(Settings().Path(), {"Photo", "FPS", "Capture area"})});
  EXPECT_EQ(Child<QComboBox>("cbArea")->currentIndex(), DefaultSettings().captureArea);
  EXPECT_EQ(LoadSettings(Settings()).photoKey, DefaultSettings().photoKey);
  EXPECT_EQ(LoadSettings(Settings()).captureArea, DefaultSettings().captureArea);
}

// A stored "Selected object" area is the window as it shows, not its size before showing.
TEST_F(MainWindowTest, AStoredSelectedObjectAreaIsTheShownWindow) {
  Settings().WriteInteger("Capture area", "Capture area", 5);
  MainWindow& window = Open();
  const QRect frame = window.frameGeometry();
  const Rect area = window.findChild<CaptureAreaPage*>()->Area().Rect;
  EXPECT_EQ(area, (Rect{frame.left(), frame.top(), frame.left() + frame.width(),
                        frame.top() + frame.height()}));
}

// A stored monitor is chosen again at the next start, and one that is gone gives way to the
// primary monitor with a notice; where the desktop's dialog chooses the monitor, the page says
// so and records the full screen, which is the dialog's choice.
TEST_F(MainWindowTest, TheStoredMonitorIsChosenAgainOrThePrimaryWithANotice) {
  const test::MonitorLayout set(test::TestLayouts()[1]);
  struct Row {
    const char* Stored;
    const char* Source;
    const char* Chosen;
    int Mode;
    bool Notice;
  } rows[] = {
      {"qm-top", "x11", "qm-top", 7, false},
      {"qm-gone", "x11", "qm-low-right", 7, true},
      {"qm-top", "portal", "", 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Stored + std::string(" ") + row.Source);
    Settings().WriteInteger("Capture area", "Capture area", 7);
    Settings().WriteString("Capture area", "Monitor", row.Stored);
    Settings().WriteString("Capture area", "Source", row.Source);
    Open(false);
    const CaptureArea& area = window_->findChild<CaptureAreaPage*>()->Area();
    EXPECT_EQ(area.Mode, row.Mode);
    EXPECT_EQ(area.Monitor, QLatin1String(row.Chosen));
    EXPECT_EQ(StatusText().contains(QStringLiteral("The monitor qm-gone is gone")), row.Notice)
        << StatusText().toStdString();
    EXPECT_EQ(Child<QLabel>("lbPortalMonitor")->isHidden(), row.Mode != 0);
    window_.reset();
  }
}

// The drawn ("Custom") area and the window's place come back at the next start, and a photo
// leaves the window where it stood, under a window manager too.
TEST_F(MainWindowTest, TheDrawnAreaAndTheWindowsPlaceAreKept) {
  test::WindowManager manager;
  ASSERT_TRUE(manager.Start());
  Settings().WriteInteger("Capture area", "Capture area", 6);
  Settings().WriteInteger("Capture area", "Custom left", 100);
  Settings().WriteInteger("Capture area", "Custom top", 80);
  Settings().WriteInteger("Capture area", "Custom width", 400);
  Settings().WriteInteger("Capture area", "Custom height", 304);
  Settings().WriteBool("Main", "Window placed", true);
  Settings().WriteInteger("Main", "Window left", 300);
  Settings().WriteInteger("Main", "Window top", 200);
  Open();
  EXPECT_EQ(window_->findChild<CaptureAreaPage*>()->Area().Rect, (Rect{100, 80, 500, 384}));
  EXPECT_EQ(window_->geometry().topLeft(), QPoint(300, 200));
  window_.reset();

  // Where the window manager placed it, without a stored place.
  Settings().WriteBool("Main", "Window placed", false);
  Open();
  const QPoint placed = window_->geometry().topLeft();
  window_->Photo().TakePhoto();
  ASSERT_TRUE(SpinUntil([&] { return !window_->Photo().IsPending() && window_->isVisible(); }));
  Settle();
  EXPECT_EQ(window_->geometry().topLeft(), placed);

  window_->setGeometry(QRect(QPoint(420, 260), window_->size()));
  Settle();
  window_.reset();  // the end saves the settings
  EXPECT_EQ(Settings().ReadInteger("Main", "Window left", -1), 420);
  EXPECT_EQ(Settings().ReadInteger("Main", "Window top", -1), 260);
  EXPECT_EQ(Settings().ReadInteger("Capture area", "Custom width", -1), 400);
}

// "Record sound" comes from the settings file and goes back to it, and its meter moves while
// the page is shown and the sound plays.
TEST_F(MainWindowTest, TheRecordSoundChoiceIsKeptAndItsMeterMoves) {
  Settings().WriteInteger("Video", "Record sound", 3);
  Settings().WriteInteger("Video", "Sound codec", 1);
  MainWindow& window = Open();
  auto* sound = Child<QGroupBox>("gbRecordSound");
  auto* meter = Child<SoundMeter>("pbSoundLevel");
  ASSERT_TRUE(sound && meter);
  EXPECT_TRUE(sound->isChecked());
  EXPECT_EQ(Child<QComboBox>("cbSoundSource")->currentText(), QStringLiteral("Both"));
  EXPECT_EQ(Child<QComboBox>("cbSoundCodec")->currentText(), QStringLiteral("MP3"));
  EXPECT_EQ(meter->Choice(), SoundChoice::Both);
  Child<QComboBox>("cbSoundSource")->setCurrentIndex(0);
  EXPECT_TRUE(SpinUntil([&] { return Settings().ReadInteger("Video", "Record sound", -1) == 1; }));
  EXPECT_EQ(meter->Choice(), SoundChoice::Desktop);

  // Hidden, the meter listens to nothing.
  EXPECT_FALSE(meter->isVisible());
  Settle();
  EXPECT_FALSE(meter->Listening());
  if (!qEnvironmentVariableIsEmpty("PULSE_SERVER") ||
      qEnvironmentVariable("QM_SESSION_STACK") == QLatin1String("1")) {
    window.findChild<QTabWidget*>()->setCurrentIndex(
        window.findChild<QTabWidget*>()->indexOf(sound->parentWidget()));
    ASSERT_TRUE(meter->isVisible());
    QProcess tone;
    tone.start(QStringLiteral("sh"),
               {"-c",
                "ffmpeg -v error -f lavfi -i sine=frequency=500:duration=4 -ar 48000 -ac 2 "
                "-f wav - | paplay"});
    EXPECT_TRUE(SpinUntil([&] { return meter->Listening() && meter->value() > 1000; }, 20));
    tone.kill();
    tone.waitForFinished();
  }
  sound->setChecked(false);
  EXPECT_TRUE(SpinUntil([&] { return Settings().ReadInteger("Video", "Record sound", -1) == 0; }));
  EXPECT_FALSE(meter->Listening());
}

// "After each recording also save as" makes the copy beside each recording while the next
// one runs; the status bar names the copy and a click on it shows its folder.
TEST_F(MainWindowTest, AfterEachRecordingTheChosenCopyIsMadeWithoutHoldingUpTheNext) {
  Settings().WriteInteger("Video", "After each recording also save as", 3);
  Settings().WriteInteger("Video", "FPS", 10);
  MainWindow& window = Open();
  EXPECT_EQ(Child<QComboBox>("cbAlsoSaveAs")->currentText(), QStringLiteral("GIF"));
  window.Recording().StartNow();
  ASSERT_TRUE(SpinUntil([&] { return window.Recording().IsRecording(); }));
  Settle(1000);
  const QString first = window.Recording().OutputFile();
  // The next recording starts as soon as the first one's file is complete, beside its export.
  window.Recording().Stop();
  const QString second = RecordASecond();
  ASSERT_NE(first, second);
  for (const QString& avi : {first, second}) {
    const QString gif = avi.chopped(4) + QStringLiteral(".gif");
    SCOPED_TRACE(gif.toStdString());
    ASSERT_TRUE(SpinUntil([&] { return QFile::exists(gif); }, 120));
    const test::ProbedVideo video = test::MediaProbe::ProbeVideo(gif);
    EXPECT_EQ(video.CodecName, QStringLiteral("gif"));
    EXPECT_EQ(video.Width, 320);
    EXPECT_TRUE(test::MediaProbe::ProbeVideo(avi).Valid);
  }
  const QString gif = second.chopped(4) + QStringLiteral(".gif");
  ASSERT_TRUE(SpinUntil([&] { return StatusText() == "Exported: " + gif; }));
  const QString folder = root_.filePath("out");
  ASSERT_TRUE(QDir().rename(folder, folder + "-moved"));
  QMouseEvent click(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                    Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(window.statusBar(), &click);
  EXPECT_TRUE(messages_.Messages().contains("The folder does not exist: " + folder))
      << messages_.Messages().join('\n').toStdString();
}

// Files > "Export..." offers the last recording; the dialog asks before replacing a file,
// and Cancel leaves nothing behind.
TEST_F(MainWindowTest, TheExportDialogCopiesTheLastRecordingAsksBeforeReplacingAndCancels) {
  MainWindow& window = Open();
  const QString avi = RecordASecond();
  const QString gif = avi.chopped(4) + QStringLiteral(".gif");
  QAction* exportItem = nullptr;
  for (QAction* item : window.menuBar()->actions().front()->menu()->actions())
    if (item->text() == QStringLiteral("Export...")) exportItem = item;
  ASSERT_NE(exportItem, nullptr);
  QWidget* dialog = nullptr;
  // Shown is what counts: whether the window manager has activated it yet does not.
  const auto open = [&] {
    exportItem->trigger();
    return SpinUntil([&] {
      dialog = nullptr;
      for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->objectName() == QLatin1String("ExportDialog")) dialog = top;
      return dialog != nullptr;
    });
  };
  const auto child = [&](const char* name) {
    return dialog->findChild<QWidget*>(QLatin1String(name));
  };
  const auto exportClick = [&] { static_cast<QPushButton*>(child("bExport"))->click(); };

  // A GIF 160 pixels wide.
  ASSERT_TRUE(open());
  EXPECT_EQ(static_cast<QLineEdit*>(child("leRecording"))->text(), avi);
  QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
  QApplication::sendEvent(child("cbKind"), &end);
  EXPECT_EQ(static_cast<QLineEdit*>(child("leOutput"))->text(), gif);
  Type(child("seWidth"), QStringLiteral("160"));
  exportClick();
  ASSERT_TRUE(SpinUntil([&] { return !dialog->isVisible(); }, 120));
  EXPECT_EQ(StatusText(), "Exported: " + gif);
  EXPECT_EQ(test::MediaProbe::ProbeVideo(gif).Width, 160);

  // Again at the recording's width: "No" keeps the file, "Yes" replaces it.
  for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    ASSERT_TRUE(open());
    Type(child("seWidth"), QStringLiteral("0"));
    test::UiScript script;
    script.When(
        [] { return qobject_cast<QMessageBox*>(test::ActiveModal()); },
        [answer] { static_cast<QMessageBox*>(test::ActiveModal())->button(answer)->click(); });
    script.Start();
    exportClick();
    script.RunOut();
    ASSERT_TRUE(SpinUntil([&] { return !static_cast<ExportDialog*>(dialog)->IsExporting(); }));
    EXPECT_EQ(test::MediaProbe::ProbeVideo(gif).Width, answer == QMessageBox::Yes ? 320 : 160);
    if (answer == QMessageBox::No) static_cast<QPushButton*>(child("bCancel"))->click();
  }

  // Cancel while it runs.
  ASSERT_TRUE(open());
  static_cast<QComboBox*>(child("cbKind"))->setCurrentIndex(1);
  exportClick();
  static_cast<QPushButton*>(child("bCancel"))->click();
  ASSERT_TRUE(SpinUntil([&] { return !static_cast<ExportDialog*>(dialog)->IsExporting(); }));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(static_cast<QLabel*>(child("lbExportMessage"))->text(),
            QStringLiteral("The export was cancelled"));
  EXPECT_EQ(QDir(root_.filePath("out")).entryList(QDir::Files | QDir::Hidden),
            QStringList({QFileInfo(avi).fileName(), QFileInfo(gif).fileName()}));
}

}  // namespace
}  // namespace qm
