#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

#include "support/ToolRun.h"
#include "ui/ConfirmOnce.h"

namespace qm {
namespace {

class MemorySilence : public SilencedDialogs {
 public:
  bool IsSilenced(const QString& key) const override { return silenced_.count(key) > 0; }
  void Silence(const QString& key) override { silenced_[key] = true; }

 private:
  std::map<QString, bool> silenced_;
};

struct Seen {
  QString title;
  QString text;
  bool cancelShown = false;
};

// Answers the next confirmation dialog: ticks the box if asked, then presses the button.
void Answer(bool tick, const char* button, Seen* seen) {
  QTimer::singleShot(0, [=] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    seen->title = dialog->windowTitle();
    seen->text = dialog->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText();
    seen->cancelShown = dialog->findChild<QAbstractButton*>(QStringLiteral("bCancel"))->isVisible();
    dialog->findChild<QCheckBox*>(QStringLiteral("cbNoMore"))->setChecked(tick);
    dialog->findChild<QAbstractButton*>(QString::fromLatin1(button))->click();
  });
}

TEST(ConfirmOnce, OkConfirmsAndOnlyTickedOkSilences) {
  struct Case {
    bool tick;
    const char* button;
    bool confirmed;
    bool silenced;
  };
  const Case cases[] = {
      {false, "bOK", true, false},
      {false, "bCancel", false, false},
      {true, "bOK", true, true},
      {true, "bCancel", false, false},  // the box ticked and then Cancel: not silenced
  };
  QWidget window;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.button) + (c.tick ? " ticked" : ""));
    MemorySilence silence;
    Seen seen;
    Answer(c.tick, c.button, &seen);
    EXPECT_EQ(ConfirmOnce(ClosingIsHidingText(), &window, silence), c.confirmed);
    EXPECT_EQ(silence.IsSilenced(QStringLiteral("Closing is hiding")), c.silenced);
    EXPECT_EQ(seen.title, QStringLiteral("Confirmation"));
    EXPECT_TRUE(seen.cancelShown);
    EXPECT_EQ(seen.text, ClosingIsHidingText().text);
  }
}

TEST(ConfirmOnce, ShowsEachLineAndTheInformationKindHasOnlyOk) {
  QWidget window;
  MemorySilence silence;
  for (const DialogText& text :
       {HidingWindowText(), AutoUpdateCheckText(),
        DialogText{DialogText::Kind::Information, QStringLiteral("k"), QString()}}) {
    Seen seen;
    Answer(false, "bOK", &seen);
    EXPECT_TRUE(ConfirmOnce(text, &window, silence));
    EXPECT_EQ(seen.title, text.kind == DialogText::Kind::Information
                              ? QStringLiteral("Information")
                              : QStringLiteral("Confirmation"));
    EXPECT_EQ(seen.cancelShown, text.kind == DialogText::Kind::Question);
    EXPECT_EQ(seen.text.split('\n'), text.text.split('\n'));
  }
}

// Fonts that stand in for the designed one are wider: the box grows from its designed size
// until every line and the check box fit, and opens on the first line. Checked at the
// default scale here and at twice the scale in a second run of this test.
TEST(ConfirmOnce, NothingIsCutAtAnyScale) {
  QWidget window;
  MemorySilence silence;
  for (const DialogText& text :
       {ClosingIsHidingText(), HidingWindowText(), ClosingIsMinimisingText(),
        MinimisingWindowText(), AutoUpdateCheckText()}) {
    SCOPED_TRACE(text.key.toStdString());
    QTimer::singleShot(0, [] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      const auto* memo = dialog->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
      const auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("cbNoMore"));
      EXPECT_GE(dialog->width(), 362);
      EXPECT_GE(dialog->height(), 126);
      EXPECT_GE(box->width(), box->sizeHint().width());
      EXPECT_EQ(memo->verticalScrollBar()->value(), 0);
      EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0);
      EXPECT_EQ(memo->horizontalScrollBar()->maximum(), 0);
      dialog->findChild<QAbstractButton*>(QStringLiteral("bOK"))->click();
    });
    ConfirmOnce(text, &window, silence);
  }
  if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) return;
  EXPECT_EQ(test::RunThisProgramAgain(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"),
                                      QStringLiteral("ConfirmOnce.NothingIsCutAtAnyScale")),
            0);
}

TEST(ConfirmOnce, ASilencedMessageConfirmsWithoutAWindow) {
  QWidget window;
  MemorySilence silence;
  silence.Silence(QStringLiteral("AutoUpdateCheck"));
  bool shown = false;
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, [&] {
    if (QWidget* dialog = QApplication::activeModalWidget()) {
      shown = true;
      dialog->close();
    }
  });
  guard.start(0);
  EXPECT_TRUE(ConfirmOnce(AutoUpdateCheckText(), &window, silence));
  QApplication::processEvents();
  EXPECT_FALSE(shown);
}

}  // namespace
}  // namespace qm
