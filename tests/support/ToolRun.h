#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace qm::test {

// What one run of a program gave. ExitCode stays -1 when it did not end normally.
struct ProcessResult {
  int ExitCode = -1;
  QByteArray RawOut;  // standard output as it came
  QString Out;
  QString Err;
};

// Waits for a started process (at most timeoutMs) and collects its output; kills it on timeout.
ProcessResult FinishProcess(QProcess& process, int timeoutMs = 300000);

// Runs program with args to the end, its standard input closed.
ProcessResult RunProcess(const QString& program, const QStringList& args, int timeoutMs = 300000);

// Runs this test program again with variable set to value and only the tests that filter
// names, its output going where this one's goes. Its exit code; -1 when it did not end
// normally within two minutes.
int RunThisProgramAgain(const QString& variable, const QString& value, const QString& filter);

// Starts quillmark-capture with args and returns once it has started.
void StartTool(QProcess& process, const QStringList& args);

// Waits for a started tool (at most timeoutMs) and collects its output; kills it on timeout.
ProcessResult FinishTool(QProcess& process, int timeoutMs = 300000);

// Runs quillmark-capture with args to the end.
ProcessResult RunTool(const QStringList& args, int timeoutMs = 300000);

}  // namespace qm::test
