#pragma once

#include <QByteArray>
#include <QString>

namespace qm {

// The file that keeps a screen-cast restore token between runs: the token on one line.

// A token the portal could have given: 1 to 256 characters of letters, digits, '-', '_', '.'
// and ':' (the portal's own are UUIDs). Anything else is never kept nor handed back.
bool IsRestoreToken(const QString& token);

// The token a file's contents hold: its first line, without surrounding blanks, when that is a
// token (IsRestoreToken); else empty, as for a missing file: the desktop then asks again.
QString ParseRestoreToken(const QByteArray& contents);

// The token in the file at path; empty when it is missing or holds no token. Only a regular file
// is read, through no link that another user could have planted, and without waiting: anything
// else at path leaves the reason in problem.
QString ReadRestoreToken(const QString& path, QString* problem = nullptr);

// Replaces the file's contents with the token and a line end, whole or not at all, with the
// same care. Empty when done, else the reason (a token that is none is refused).
QString WriteRestoreToken(const QString& path, const QString& token);

}  // namespace qm
