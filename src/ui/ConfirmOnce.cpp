#include "ui/ConfirmOnce.h"

#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace qm {

namespace {

const QString kTrayLines = QStringLiteral(
    "Quillmark will be hidden in tray icon on the right bottom.\n"
    "Click on the tray icon to show menu.");

const QString kExitLine = QStringLiteral("\n\nTo exit from Quillmark use menu Files > Exit");

const QString kMinimisedLines = QStringLiteral(
    "Quillmark will be minimised to the taskbar (or the desktop's list of windows).\n"
    "Choose it there to show the window again; while it records, its Stop and Pause buttons\n"
    "are there too.");

const QSize kSmallest(362, 126);

QLabel* IconLabel(QWidget* parent, QStyle::StandardPixmap icon) {
  auto* label = new QLabel(parent);
  label->setPixmap(parent->style()->standardIcon(icon).pixmap(32, 32));
  label->setAlignment(Qt::AlignTop);
  return label;
}

// The confirmation dialog: icon, read-only text, the silencing box and the buttons.
class ConfirmDialog : public QDialog {
 public:
  ConfirmDialog(const DialogText& text, QWidget* parent) : QDialog(parent) {
    const bool question = text.kind == DialogText::Kind::Question;
    setWindowTitle(question ? QStringLiteral("Confirmation") : QStringLiteral("Information"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    auto* memo = new QPlainTextEdit(this);
    memo->setObjectName(QStringLiteral("Memo1"));
    memo->setReadOnly(true);
    memo->setFrameShape(QFrame::NoFrame);
    memo->setBackgroundRole(QPalette::Window);
    memo->viewport()->setAutoFillBackground(false);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // One line per line feed: no line feed is one line, an empty text one empty line.
    const QStringList lines = text.text.split(QLatin1Char('\n'));
    for (const QString& line : lines) memo->appendPlainText(line);
    memo->moveCursor(QTextCursor::Start);
    // The memo holds every line whole, whatever the font: fonts that stand in for the
    // designed one are wider.
    const QFontMetrics metrics(memo->font());
    int widest = 0;
    for (const QString& line : lines) widest = std::max(widest, metrics.horizontalAdvance(line));
    const int margins =
        2 * (int(std::ceil(memo->document()->documentMargin())) + memo->frameWidth());
    memo->setMinimumSize(
        widest + margins + metrics.averageCharWidth(),
        int(lines.size()) * metrics.lineSpacing() + metrics.lineSpacing() / 2 + margins);

    noMore_ = new QCheckBox(QStringLiteral("Don't show this message again"), this);
    noMore_->setObjectName(QStringLiteral("cbNoMore"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("bOK"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("bCancel"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(IconLabel(
        this, question ? QStyle::SP_MessageBoxQuestion : QStyle::SP_MessageBoxInformation));
    top->addWidget(memo, 1);
    // The buttons keep their places; an information message has OK where Cancel would be.
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(noMore_, 1);
    bottom->addWidget(ok);
    bottom->addWidget(cancel);
    if (!question) {
      cancel->hide();
      bottom->removeWidget(cancel);
      bottom->removeWidget(ok);
      bottom->addWidget(ok);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);
    // The designed size is the smallest; the box grows until the text and the check box fit.
    setFixedSize(layout->totalMinimumSize().expandedTo(kSmallest));
  }

  bool NoMore() const { return noMore_->isChecked(); }

 private:
  QCheckBox* noMore_;
};

}  // namespace

DialogText ClosingIsHidingText() {
  return {DialogText::Kind::Question, QStringLiteral("Closing is hiding"), kTrayLines + kExitLine};
}

DialogText HidingWindowText() {
  return {DialogText::Kind::Information, QStringLiteral("Hiding window"), kTrayLines};
}

DialogText ClosingIsMinimisingText() {
  return {DialogText::Kind::Question, QStringLiteral("Closing is minimising"),
          kMinimisedLines + kExitLine};
}

DialogText MinimisingWindowText() {
  return {DialogText::Kind::Information, QStringLiteral("Minimising window"), kMinimisedLines};
}

DialogText AutoUpdateCheckText() {
  return {DialogText::Kind::Question, QStringLiteral("AutoUpdateCheck"),
          QStringLiteral("Automatic update check will be activated.\n"
                         "Uncheck menu Help > Automatic update check to disable.\n"
                         "This feature needs internet connection where\n"
                         "no personal information will be sent out.\n"
                         "Continue the automatic update check?")};
}

bool ConfirmOnce(const DialogText& text, QWidget* parent, SilencedDialogs& silenced) {
  if (silenced.IsSilenced(text.key)) return true;
  ConfirmDialog dialog(text, parent);
  const bool ok = dialog.exec() == QDialog::Accepted;
  if (ok && dialog.NoMore()) silenced.Silence(text.key);
  return ok;
}

}  // namespace qm
