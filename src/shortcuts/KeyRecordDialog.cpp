#include "shortcuts/KeyRecordDialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "shortcuts/ShortcutWatcher.h"

namespace qm {

namespace {

QFont Arial(int pixels) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixels);
  return font;
}

QLabel* Label(QWidget* parent, const char* objectName, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(objectName));
  label->move(x, y);
  return label;
}

QLabel* KeyLabel(QWidget* parent, const char* objectName, int x, int y) {
  QLabel* label = Label(parent, objectName, QString(), x, y);
  label->setFont(Arial(13));
  label->setStyleSheet(QStringLiteral("color: blue"));
  label->resize(115, 17);
  return label;
}

QPushButton* Button(QWidget* parent, const char* objectName, const QString& text, int x) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(objectName));
  button->setGeometry(x, 136, 75, 25);
  return button;
}

}  // namespace

KeyRecordDialog::KeyRecordDialog(ShortcutWatcher& watcher, QWidget* parent)
    : QDialog(parent), watcher_(watcher) {
  setWindowTitle(QStringLiteral("Changing short-key"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  setFont(Arial(11));
  setFixedSize(243, 173);
  title_ = Label(this, "Label3", QString(), 8, 8);
  title_->resize(227, 14);
  Label(this, "Label1", QStringLiteral("Original short key:"), 8, 24);
  oldKey_ = KeyLabel(this, "lbOldKey", 120, 24);
  Label(this, "Label2", QStringLiteral("New short key:"), 8, 48);
  newKey_ = KeyLabel(this, "lbNewKey", 120, 48);
  QLabel* advice = Label(this, "Label4",
                         QStringLiteral("Press the new combination key on your keyboard, started "
                                        "with Ctrl, Shift or Alt key(s), followed by any other "
                                        "letter or number key."),
                         8, 72);
  advice->setWordWrap(true);
  advice->resize(222, 42);
  QPushButton* ok = Button(this, "BitBtn2", QStringLiteral("OK"), 72);
  ok->setDefault(true);
  QPushButton* cancel = Button(this, "BitBtn1", QStringLiteral("Cancel"), 152);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  // Centred on the screen, not on the main window.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->geometry().center() - rect().center());
  }
}

bool KeyRecordDialog::Execute(const QString& description, const QString& oldKey,
                              ShortcutWatcher& watcher, QWidget* parent, QString* newKey) {
  KeyRecordDialog dialog(watcher, parent);
  dialog.title_->setText(QStringLiteral("Changing short-key for ") + description);
  dialog.oldKey_->setText(oldKey);
  dialog.newKey_->setText(oldKey);
  // The recording ends with the dialog, however the dialog ends.
  struct StopRecording {
    ShortcutWatcher& watcher;
    ~StopRecording() { watcher.StopKeyRecording(); }
  } stop{watcher};
  const bool ok = dialog.exec() == QDialog::Accepted;
  if (ok && newKey) *newKey = dialog.newKey_->text();
  return ok;
}

void KeyRecordDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  watcher_.StartKeyRecording([this](const QString& text) { ShowNewKey(text); });
}

void KeyRecordDialog::ShowNewKey(const QString& text) {
  newKey_->setText(text);
}

}  // namespace qm
