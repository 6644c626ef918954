#include "support/ToolRun.h"

namespace qm::test {

void StartTool(QProcess& process, const QStringList& args) {
  process.start(QStringLiteral(QM_CLI_PATH), args);
  process.waitForStarted();
}

ProcessResult FinishTool(QProcess& process, int timeoutMs) {
  ProcessResult run;
  if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
    process.kill();
    process.waitForFinished();
    run.Err = QStringLiteral("did not finish normally");
    return run;
  }
  run.ExitCode = process.exitCode();
  run.Out = QString::fromLocal8Bit(process.readAllStandardOutput());
  run.Err = QString::fromLocal8Bit(process.readAllStandardError());
  return run;
}

ProcessResult RunTool(const QStringList& args, int timeoutMs) {
  QProcess process;
  StartTool(process, args);
  return FinishTool(process, timeoutMs);
}

}  // namespace qm::test
