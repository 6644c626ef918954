#pragma once

#include <QString>

#include <functional>

namespace qm {

// Hand-offs to the desktop: its default handlers (xdg-open, or the portal in a sandbox) and
// the freedesktop Trash. The openers need a running QGuiApplication and the user-interface
// thread; they check nothing about their target (see the shell actions for that).

// Shows the folder in the file manager; false when no handler could be started.
bool ExploreFolder(const QString& folder);

// Opens a file path, a web address or a "mailto:" address with its default program; false
// when no handler could be started.
bool OpenWithShell(const QString& target);

// Plays the video with the desktop's default player (xdg-open); false when it could not be
// started. failed runs later, on the user-interface thread, when the handler ends with a
// failure (no player for the file, or a player that would not start).
bool PlayVideoFile(const QString& path, std::function<void()> failed = {});

// Moves the file into the user's Trash ($XDG_DATA_HOME/Trash, created with files/ and info/
// when missing). False when the file does not exist or the Trash cannot take it (an
// unusable Trash, another file system); the file is then left where it is.
bool MoveToRecycleBin(const QString& path);

}  // namespace qm
