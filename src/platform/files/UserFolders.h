#pragma once

#include <QString>

namespace qm {

// Folders the application makes for itself. Each function answers with the reason, in the
// user's words, why the folder cannot serve; empty when it can.

// A folder that no one but this user may enter: a real folder (not a symbolic link), owned
// by the user, with mode 0700.
QString PrivateFolderProblem(const QString& folder);
// Makes the folder with mode 0700 when it is missing (its parent must exist), then checks it
// as PrivateFolderProblem does. An existing folder is never changed.
QString MakePrivateFolder(const QString& folder);

// Makes the folder and its missing parents. The reason names the folder that could not be
// made and gives the system's error text ("Permission denied", "Not a directory").
QString MakeFolders(const QString& folder);

}  // namespace qm
