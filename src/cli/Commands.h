#pragma once

#include <QStringList>

namespace qm::cli {

// Each command takes the arguments after its name and returns the process exit code.
// They throw UsageError for a bad command line.
int RunRecord(const QStringList& args);
int RunCodecs(const QStringList& args);
int RunPhoto(const QStringList& args);
int RunRepair(const QStringList& args);
int RunSounds(const QStringList& args);
int RunMonitors(const QStringList& args);
int RunExport(const QStringList& args);

}  // namespace qm::cli
