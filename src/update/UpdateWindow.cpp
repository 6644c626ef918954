#include "update/UpdateWindow.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace qm {

UpdateWindow::UpdateWindow(const QString& caption, const QString& text,
                           std::function<void()> download, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(caption);
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  // Plain text only: release notes come from the network and are never read as markup.
  auto* memo = new QPlainTextEdit(this);
  memo->setObjectName(QStringLiteral("Memo1"));
  memo->setReadOnly(true);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(13);
  memo->setFont(font);
  memo->setPlainText(text);

  auto* downloadButton = new QPushButton(QStringLiteral("Download"), this);
  downloadButton->setObjectName(QStringLiteral("SpeedButton1"));
  downloadButton->setAutoDefault(false);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  close->setObjectName(QStringLiteral("SpeedButton2"));
  close->setAutoDefault(false);
  connect(downloadButton, &QPushButton::clicked, this, [download = std::move(download)] {
    if (download) download();
  });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(downloadButton);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(memo, 1);
  layout->addLayout(buttons);
  setFixedSize(382, 242);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->geometry().center() - rect().center());
  }
}

}  // namespace qm
