#pragma once

#include <QByteArray>
#include <QString>

namespace qm {

// The file that keeps a screen-cast restore token between runs: the token on one line.

// The token a file's contents hold: its first line, without surrounding blanks, when that is a
// token the portal could have given (1 to 256 characters of letters, digits, '-', '_', '.' and
// ':'); else empty, as for a missing file: the desktop then asks again.
QString ParseRestoreToken(const QByteArray& contents);

// The token in the file at path; empty when it is missing, unreadable or holds no token.
QString ReadRestoreToken(const QString& path);

// Replaces the file's contents with the token and a line end, whole or not at all. False when it
// cannot be written.
bool WriteRestoreToken(const QString& path, const QString& token);

}  // namespace qm
