#include "shell/TrayMenu.h"

#include <QAction>
#include <QMenu>

namespace qm {

TrayMenu::TrayMenu(QObject* parent) : QObject(parent), menu_(std::make_unique<QMenu>()) {
  QMenu* m = menu_.get();
  record_ = m->addAction(QStringLiteral("Start"), this, &TrayMenu::RecordTriggered);
  pause_ = m->addAction(QStringLiteral("Pause"), this, &TrayMenu::PauseTriggered);
  stop_ = m->addAction(QStringLiteral("Stop"), this, &TrayMenu::StopTriggered);
  m->addSeparator();
  showWindow_ = m->addAction(QStringLiteral("Show settings"), this, &TrayMenu::ShowWindowTriggered);
  takePhoto_ =
      m->addAction(QStringLiteral("Take single photo"), this, &TrayMenu::TakePhotoTriggered);
  m->addAction(QStringLiteral("Browse output folder"), this, &TrayMenu::BrowseFilesTriggered);
  m->addAction(QStringLiteral("Export last recording"), this, &TrayMenu::ExportTriggered);
  m->addSeparator();
  // Choosing it only closes the menu, as choosing any item does.
  m->addAction(QStringLiteral("Hide this menu"));
  exit_ = m->addAction(QStringLiteral("Exit"), this, &TrayMenu::ExitTriggered);
  connect(m, &QMenu::aboutToShow, this, &TrayMenu::Apply);
  Apply();
}

TrayMenu::~TrayMenu() = default;

TrayMenuEnabling TrayMenu::Enabling(bool recording, bool paused, bool delaying) {
  if (!recording) {
    return {.RecordCaption = QStringLiteral("Start"),
            .Record = !delaying,
            .Stop = delaying,
            .ShowWindow = true,
            .TakePhoto = true,
            .Exit = true};
  }
  return {.RecordCaption = QStringLiteral("Continue"),
          .Record = paused && !delaying,
          .Pause = !paused,
          .Stop = true};
}

void TrayMenu::SetState(bool recording, bool paused, bool delaying) {
  recording_ = recording;
  paused_ = paused;
  delaying_ = delaying;
  Apply();
}

void TrayMenu::Apply() {
  const TrayMenuEnabling e = Enabling(recording_, paused_, delaying_);
  record_->setText(e.RecordCaption);
  record_->setEnabled(e.Record);
  pause_->setEnabled(e.Pause);
  stop_->setEnabled(e.Stop);
  showWindow_->setEnabled(e.ShowWindow);
  takePhoto_->setEnabled(e.TakePhoto);
  exit_->setEnabled(e.Exit);
}

}  // namespace qm
