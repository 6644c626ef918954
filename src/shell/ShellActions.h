#pragma once

#include <QString>

#include <functional>

namespace qm {

// The menu and button actions that hand work to the desktop. The desktop's handler answers
// success even for a missing file, so each action first checks that its file or folder
// exists and tells the user (qm::Messages) when it does not. User-interface thread only.

// Shows the folder in the file manager.
bool ExploreFolderAction(const QString& folder);
// Opens a file with its default program.
bool OpenFileAction(const QString& path);
// Plays a finished video with the desktop's default player; a player that fails to start is
// reported when the desktop's handler says so: to failed when given (the window's status bar,
// which takes no focus), else as a message.
bool PlayVideoAction(const QString& path, std::function<void(const QString& text)> failed = {});
// Opens a web address, or a "mailto:" address, with its default program.
bool OpenAddressAction(const QString& address);
// "E-mail support": a new mail to the support address whose subject is the window caption.
bool EmailSupportAction(const QString& windowCaption);
// The maker's web site.
bool OpenWebsiteAction();
// The help pages: "Help/Default.htm" beside the executable, or in the installed data folder.
bool OpenHelpAction();
// The help page that OpenHelpAction opens for a program in programFolder: beside it (a build
// tree), in the data folder of its prefix, or in the desktop's data folders (the page beside
// the program, missing, when none has it).
QString HelpPagePath(const QString& programFolder);
// Whether the program in programFolder is an installed copy: its help page lives in the data
// folder of its prefix rather than beside it. Such a folder belongs to the system even when
// the user may write to it (root), so nothing of the user's goes there.
bool InstalledProgram(const QString& programFolder);

// The "mailto:" address that "E-mail support" opens: the caption follows "?subject=" as it
// is (the desktop hand-off encodes it).
QString SupportMailAddress(const QString& windowCaption);

}  // namespace qm
