#pragma once

#include <QString>

namespace qm::cli {

// The manual pages, in roff (man macros). The build writes them with quillmark-manpage.
// date: the release date (YYYY-MM-DD); dataFolder: where the help page is installed.

// quillmark-capture(1), from the same tables as the tool's --help.
QString CaptureManPage(const QString& date);

// quillmark(1): the application, its files and its environment.
QString ApplicationManPage(const QString& date, const QString& dataFolder);

}  // namespace qm::cli
