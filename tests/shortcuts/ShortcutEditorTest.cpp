#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/keyboard/XKeyStateSource.h"
#include "shortcuts/ShortcutEditor.h"
#include "shortcuts/ShortcutWatcher.h"
#include "support/XKeys.h"

// Last, and with the macros that clash with the test framework removed.
#include <X11/keysym.h>

namespace qm {
namespace {

// Steps run one after the other from a 20 ms timer, each until it returns true: they play
// the user inside the modal dialogs.
class Script {
 public:
  explicit Script(std::vector<std::function<bool()>> steps) : steps_(std::move(steps)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      while (next_ < steps_.size() && steps_[next_]()) ++next_;
    });
    timer_.start(20);
  }
  bool Done() const { return next_ == steps_.size(); }

 private:
  std::vector<std::function<bool()>> steps_;
  size_t next_ = 0;
  QTimer timer_;
};

QWidget* Modal() {
  return QApplication::activeModalWidget();
}

QString NewKey() {
  return Modal()->findChild<QLabel*>(QStringLiteral("lbNewKey"))->text();
}

std::function<bool()> Click(const char* button) {
  return [=] {
    if (!Modal()) return false;
    auto* b = Modal()->findChild<QAbstractButton*>(QLatin1String(button));
    if (!b) return false;
    b->click();
    return true;
  };
}

struct Page {
  Page() : watcher(source), editor(watcher, &window) {
    editor.BuildShortKeyList();
    watcher.StartWatching([this](int index) { fired.push_back(index); });
  }
  QComboBox* Keys() { return editor.findChild<QComboBox*>(QStringLiteral("cbKeys")); }
  QString Key() { return editor.findChild<QLineEdit*>(QStringLiteral("eKey"))->text(); }
  void Press(const char* button) {
    editor.findChild<QAbstractButton*>(QLatin1String(button))->click();
  }

  XKeyStateSource source;
  ShortcutWatcher watcher;
  QWidget window;
  ShortcutEditor editor;
  std::vector<int> fired;
};

// Runs the event loop until done() or a generous bound; true when done.
bool Until(const std::function<bool()>& done) {
  QElapsedTimer waited;
  waited.start();
  while (!done() && waited.elapsed() < 20000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

TEST(ShortcutEditor, TheDialogRecordsWhatIsPressedAndNothingFires) {
  test::XKeys keys;
  ASSERT_TRUE(keys.Ok());
  Page page;
  page.Keys()->setCurrentIndex(1);
  EXPECT_EQ(page.Key(), QStringLiteral("CTRL+ALT+S"));
  // Waits for the dialog to show text, then plays the next keys.
  const auto then = [&](const char* text, std::function<void()> next) -> std::function<bool()> {
    return [text, next] {
      if (!Modal() || NewKey() != QLatin1String(text)) return false;
      next();
      return true;
    };
  };
  QString title;
  // Ctrl, Alt, P in turn, then P changed for G: Ctrl+Alt+P, a shortcut, fires nothing.
  Script script({then("CTRL+ALT+S",
                      [&] {
                        title = Modal()->findChild<QLabel*>(QStringLiteral("Label3"))->text();
                        keys.Press({XK_Control_L});
                      }),
                 then("CTRL", [&] { keys.Press({XK_Alt_L}); }),
                 then("CTRL+ALT", [&] { keys.Press({XK_p}); }),
                 then("CTRL+ALT+P",
                      [&] {
                        keys.Release({XK_p});
                        keys.Press({XK_g});
                      }),
                 then("CTRL+ALT+G", [&] { keys.ReleaseAll(); }), Click("BitBtn2")});
  page.Press("sbEditKey");
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(title, QStringLiteral("Changing short-key for To start taking movie"));
  EXPECT_EQ(page.Key(), QStringLiteral("CTRL+ALT+G"));
  EXPECT_EQ(page.watcher.ShortKeys()[1].key, QStringLiteral("CTRL+ALT+G"));
  EXPECT_TRUE(page.fired.empty());

  // Another shortcut's combination is refused, naming that shortcut.
  QString refusal;
  Script taken({then("CTRL+ALT+G",
                     [&] {
                       keys.Press({XK_Control_L, XK_Alt_L, XK_f});
                     }),
                then("CTRL+ALT+F", [&] { keys.ReleaseAll(); }), Click("BitBtn2"), [&] {
                  auto* box = qobject_cast<QMessageBox*>(Modal());
                  if (!box) return false;
                  refusal = box->text();
                  box->button(QMessageBox::Ok)->click();
                  return true;
                }});
  page.Press("sbEditKey");
  EXPECT_TRUE(taken.Done());
  EXPECT_TRUE(refusal.contains(QStringLiteral("\"To stop taking movie\"")))
      << refusal.toStdString();
  EXPECT_EQ(page.watcher.ShortKeys()[1].key, QStringLiteral("CTRL+ALT+G"));

  // Keys pressed, then Cancel: unchanged. OK with nothing pressed keeps the old one too.
  Script cancel({then("CTRL+ALT+G", [&] { keys.Press({XK_F5}); }),
                 then("F5",
                      [&] {
                        keys.ReleaseAll();
                        Modal()->findChild<QAbstractButton*>(QStringLiteral("BitBtn1"))->click();
                      }),
                 Click("BitBtn2")});
  page.Press("sbEditKey");
  page.Press("sbEditKey");
  EXPECT_TRUE(cancel.Done());
  EXPECT_EQ(page.watcher.ShortKeys()[1].key, QStringLiteral("CTRL+ALT+G"));

  // With the dialog closed the shortcuts fire again.
  keys.Press({XK_Control_L, XK_Alt_L, XK_g});
  EXPECT_TRUE(Until([&] { return !page.fired.empty(); }));
  keys.ReleaseAll();
  EXPECT_EQ(page.fired, std::vector<int>{1});
}

TEST(ShortcutEditor, DefaultRestoresAllAfterTheQuestion) {
  Page page;
  int edited = 0;
  QObject::connect(&page.editor, &ShortcutEditor::KeysEdited, [&] { ++edited; });
  for (bool ok : {false, true}) {
    for (size_t i = 0; i < 4; ++i) page.watcher.SetKey(i, QStringLiteral("A"));
    page.Keys()->setCurrentIndex(2);
    QString question;
    Script script({[&] {
      auto* box = qobject_cast<QMessageBox*>(Modal());
      if (!box) return false;
      question = box->text();
      box->button(ok ? QMessageBox::Ok : QMessageBox::Cancel)->click();
      return true;
    }});
    page.Press("SpeedButton1");
    EXPECT_EQ(question, QStringLiteral("Restore all short-keys to original value?"));
    QStringList keys;
    for (const ShortKey& k : page.watcher.ShortKeys()) keys << k.key;
    const QStringList expected =
        ok ? QStringList{"CTRL+ALT+X", "CTRL+ALT+S", "CTRL+ALT+P", "CTRL+ALT+F"}
           : QStringList{"A", "A", "A", "A"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(edited, ok ? 1 : 0);
    EXPECT_EQ(page.Keys()->currentIndex(), ok ? 0 : 2);
    if (ok) {
      EXPECT_EQ(page.Keys()->currentText(), QStringLiteral("To take an image"));
      EXPECT_EQ(page.Key(), QStringLiteral("CTRL+ALT+X"));
    }
  }
}

// The notice stays, also after the desktop's keys were shown in its place for a while.
TEST(ShortcutEditor, TheNoticeStaysOnThePage) {
  struct Unreadable : KeyStateSource {
    std::optional<KeysDown> Read() override { return std::nullopt; }
  } source;
  ShortcutWatcher watcher(source);
  watcher.AddDefaultShortKeys();
  watcher.WatchTick();  // said before the page exists
  QWidget window;
  ShortcutEditor editor(watcher, &window);
  const QLabel* notice = editor.findChild<QLabel*>(QStringLiteral("lbNotice"));
  EXPECT_EQ(notice->text(), NoKeyboardNotice());
  EXPECT_FALSE(notice->isHidden());

  editor.ShowDesktopKeys({{"Photo", "Ctrl+X"}, {"FinishMovie", ""}, {"Other", "F1"}});
  watcher.StayOff(WaylandKeyboardNotice());
  EXPECT_EQ(notice->text(),
            "The desktop watches the short-cut keys; its own settings decide them:\n"
            "To take an image: Ctrl+X\nTo stop taking movie: no key");
  // The desktop decides the keys: no "Change" while it does.
  const auto* change = editor.findChild<QPushButton*>(QStringLiteral("sbEditKey"));
  EXPECT_TRUE(change->isHidden());
  editor.ShowWatcherNotice();
  EXPECT_EQ(notice->text(), WaylandKeyboardNotice());
  EXPECT_FALSE(change->isHidden());
}

}  // namespace
}  // namespace qm
