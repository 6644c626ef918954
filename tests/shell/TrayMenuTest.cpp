#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

#include <vector>

#include "shell/TrayMenu.h"

namespace qm {
namespace {

TEST(TrayMenuTest, ItemsAndTheirEnablingFollowTheRecordingState) {
  const struct {
    bool Recording, Paused, Delaying;
    const char* Record;
    std::vector<bool> Enabled;  // every item but the separators, in order
  } states[] = {
      {false, false, false, "Start", {true, false, false, true, true, true, true, true, true}},
      // A delay runs: Stop cancels the start (or the continue) to come.
      {false, false, true, "Start", {false, false, true, true, true, true, true, true, true}},
      {true, false, false, "Continue", {false, true, true, false, false, true, true, true, false}},
      {true, true, false, "Continue", {true, false, true, false, false, true, true, true, false}},
      {true, true, true, "Continue", {false, false, true, false, false, true, true, true, false}},
  };
  TrayMenu menu;
  for (const auto& state : states) {
    SCOPED_TRACE(state.Record + std::string(state.Paused ? " paused" : "") +
                 (state.Delaying ? " delaying" : ""));
    menu.SetState(state.Recording, state.Paused, state.Delaying);
    QStringList captions;
    std::vector<bool> enabled;
    for (const QAction* action : menu.Menu()->actions()) {
      captions << action->text();
      if (!action->isSeparator()) enabled.push_back(action->isEnabled());
    }
    EXPECT_EQ(captions, QStringList({state.Record, "Pause", "Stop", "", "Show settings",
                                     "Take single photo", "Browse output folder",
                                     "Export last recording", "", "Hide this menu", "Exit"}));
    EXPECT_EQ(enabled, state.Enabled);
  }
}

TEST(TrayMenuTest, EachItemRaisesItsOwnSignalAndHideThisMenuNone) {
  TrayMenu menu;
  QStringList raised;
  const auto note = [&](const char* name) { return [&raised, name] { raised << name; }; };
  QObject::connect(&menu, &TrayMenu::RecordTriggered, note("record"));
  QObject::connect(&menu, &TrayMenu::PauseTriggered, note("pause"));
  QObject::connect(&menu, &TrayMenu::StopTriggered, note("stop"));
  QObject::connect(&menu, &TrayMenu::ShowWindowTriggered, note("show"));
  QObject::connect(&menu, &TrayMenu::TakePhotoTriggered, note("photo"));
  QObject::connect(&menu, &TrayMenu::BrowseFilesTriggered, note("browse"));
  QObject::connect(&menu, &TrayMenu::ExportTriggered, note("export"));
  QObject::connect(&menu, &TrayMenu::ExitTriggered, note("exit"));
  for (QAction* action : menu.Menu()->actions()) {
    action->setEnabled(true);  // the toolkit ignores disabled items
    if (!action->isSeparator()) action->trigger();
  }
  EXPECT_EQ(raised,
            QStringList({"record", "pause", "stop", "show", "photo", "browse", "export", "exit"}));
}

}  // namespace
}  // namespace qm
