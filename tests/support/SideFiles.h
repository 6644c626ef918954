#pragma once

#include <QDir>
#include <QStringList>

namespace qm::test {

// The hidden side files ("~" names: a recording's spool and headers' file) left in folder.
inline QStringList SideFiles(const QString& folder) {
  return QDir(folder).entryList({QStringLiteral(".~*")},
                                QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

}  // namespace qm::test
