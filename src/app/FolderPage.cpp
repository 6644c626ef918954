#include "app/FolderPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/FolderChooser.h"

namespace qm {

namespace {

QLabel* Text(const char* text) {
  auto* label = new QLabel(QString::fromUtf8(text));
  label->setWordWrap(true);
  return label;
}

}  // namespace

FolderPage::FolderPage() {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Text("Base output folder:"));
  auto* row = new QHBoxLayout;
  folder_ = new QLineEdit;
  folder_->setReadOnly(true);
  auto* set = new QPushButton(QStringLiteral("Set"));
  row->addWidget(folder_, 1);
  row->addWidget(set);
  layout->addLayout(row);
  layout->addWidget(
      Text("All output will be stored under this base output folder. Inside, more "
           "folders may be created to group images.  "));
  auto* browse = new QPushButton(QStringLiteral("Browse folder"));
  layout->addWidget(browse, 0, Qt::AlignLeft);
  layout->addStretch();
  connect(set, &QPushButton::clicked, this, [this] {
    FolderChooser chooser(window(), QStringLiteral("Select the output folder"));
    chooser.SetDirectory(folder_->text());
    if (chooser.Execute()) emit FolderChosen(chooser.Directory());
  });
  connect(browse, &QPushButton::clicked, this, &FolderPage::BrowseClicked);
}

void FolderPage::ShowFolder(const QString& folder) {
  folder_->setText(folder);
}

}  // namespace qm
