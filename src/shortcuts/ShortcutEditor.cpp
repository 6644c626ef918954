#include "shortcuts/ShortcutEditor.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "shortcuts/KeyRecordDialog.h"
#include "shortcuts/ShortcutWatcher.h"

namespace qm {

namespace {

QLabel* WrappedLabel(const char* objectName, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(objectName));
  label->setWordWrap(true);
  return label;
}

}  // namespace

ShortcutEditor::ShortcutEditor(ShortcutWatcher& watcher, QWidget* parent)
    : QWidget(parent), watcher_(watcher) {
  auto* group = new QGroupBox(QStringLiteral("Short-cut keys: "), this);
  group->setObjectName(QStringLiteral("GroupBox1"));
  keys_ = new QComboBox(group);
  keys_->setObjectName(QStringLiteral("cbKeys"));
  key_ = new QLineEdit(group);
  key_->setObjectName(QStringLiteral("eKey"));
  key_->setReadOnly(true);
  editKey_ = new QPushButton(QStringLiteral("Change"), group);
  editKey_->setObjectName(QStringLiteral("sbEditKey"));
  auto* defaults = new QPushButton(QStringLiteral("Default"), this);
  defaults->setObjectName(QStringLiteral("SpeedButton1"));
  notice_ = WrappedLabel("lbNotice", QString(), this);

  auto* row = new QHBoxLayout;
  row->addWidget(key_, 1);
  row->addWidget(editKey_);
  auto* inGroup = new QVBoxLayout(group);
  inGroup->addWidget(keys_);
  inGroup->addLayout(row);
  auto* page = new QVBoxLayout(this);
  page->addWidget(group);
  page->addWidget(defaults, 0, Qt::AlignLeft);
  page->addWidget(WrappedLabel(
      "Label4",
      QStringLiteral(
          "Short-cut key may not work well on slow computer or when the computer is very busy."),
      this));
  page->addWidget(
      WrappedLabel("Label5", QStringLiteral("The menu on the tray icon is more reliable."), this));
  page->addWidget(notice_);
  page->addStretch(1);

  connect(keys_, &QComboBox::currentIndexChanged, this, &ShortcutEditor::KeysChanged);
  connect(editKey_, &QPushButton::clicked, this, &ShortcutEditor::EditKeyClicked);
  connect(defaults, &QPushButton::clicked, this, &ShortcutEditor::DefaultClicked);
  ShowNotice(watcher_.Notice());
  connect(&watcher_, &ShortcutWatcher::keyboardUnavailable, this, [this](const QString& text) {
    if (!desktopKeys_) ShowNotice(text);
  });
}

void ShortcutEditor::ShowNotice(const QString& text) {
  notice_->setText(text);
  notice_->setVisible(!text.isEmpty());
}

void ShortcutEditor::ShowDesktopKeys(const QHash<QString, QString>& triggers) {
  desktopKeys_ = true;
  // The desktop's settings decide the keys: a combination typed here would change nothing.
  editKey_->setVisible(false);
  QString text =
      QStringLiteral("The desktop watches the short-cut keys; its own settings decide them:");
  for (const ShortKey& shortKey : watcher_.ShortKeys()) {
    if (!triggers.contains(shortKey.name)) continue;
    const QString trigger = triggers.value(shortKey.name);
    text += QStringLiteral("\n%1: %2")
                .arg(shortKey.description, trigger.isEmpty() ? QStringLiteral("no key") : trigger);
  }
  ShowNotice(text);
}

void ShortcutEditor::ShowWatcherNotice() {
  desktopKeys_ = false;
  editKey_->setVisible(true);
  ShowNotice(watcher_.Notice());
}

void ShortcutEditor::BuildShortKeyList() {
  watcher_.AddDefaultShortKeys();
  Refill();
}

void ShortcutEditor::Refill() {
  {
    const QSignalBlocker quiet(keys_);
    keys_->clear();
    keys_->addItems(watcher_.FillList());
    keys_->setCurrentIndex(0);
  }
  KeysChanged();
}

void ShortcutEditor::KeysChanged() {
  const int index = keys_->currentIndex();
  if (index < 0 || size_t(index) >= watcher_.ShortKeys().size()) return;
  key_->setText(watcher_.ShortKeys()[size_t(index)].key);
  editKey_->setToolTip(QStringLiteral("Edit short-cut key for ") + keys_->currentText());
}

void ShortcutEditor::EditKeyClicked() {
  const int index = keys_->currentIndex();
  if (index < 0 || size_t(index) >= watcher_.ShortKeys().size()) return;
  QString newKey;
  if (!KeyRecordDialog::Execute(keys_->currentText(), key_->text(), watcher_, window(), &newKey)) {
    return;
  }
  // Of two shortcuts with one combination only the first would ever fire.
  const std::vector<ShortKey>& shortKeys = watcher_.ShortKeys();
  for (size_t other = 0; other < shortKeys.size(); ++other) {
    if (other == size_t(index) || shortKeys[other].key != newKey) continue;
    QMessageBox::warning(window(), QStringLiteral("Changing short-key"),
                         QStringLiteral("%1 is already the short-key for \"%2\". Choose another "
                                        "combination.")
                             .arg(newKey, shortKeys[other].description));
    return;
  }
  watcher_.SetKey(size_t(index), newKey);
  key_->setText(newKey);
  emit KeysEdited();
}

void ShortcutEditor::DefaultClicked() {
  const auto answer =
      QMessageBox::question(window(), QStringLiteral("Confirmation"),
                            QStringLiteral("Restore all short-keys to original value?"),
                            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
  if (answer != QMessageBox::Ok) return;
  BuildShortKeyList();
  emit KeysEdited();
}

}  // namespace qm
