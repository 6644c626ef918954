#include "support/ToolRun.h"

#include <QCoreApplication>
#include <QProcessEnvironment>

namespace qm::test {

void StartTool(QProcess& process, const QStringList& args) {
  process.start(QStringLiteral(QM_CLI_PATH), args);
  process.waitForStarted();
}

ProcessResult FinishProcess(QProcess& process, int timeoutMs) {
  ProcessResult run;
  if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
    process.kill();
    process.waitForFinished();
    run.Err = process.error() == QProcess::FailedToStart
                  ? process.errorString()
                  : QStringLiteral("did not finish normally");
    return run;
  }
  run.ExitCode = process.exitCode();
  run.RawOut = process.readAllStandardOutput();
  run.Out = QString::fromLocal8Bit(run.RawOut);
  run.Err = QString::fromLocal8Bit(process.readAllStandardError());
  return run;
}

ProcessResult RunProcess(const QString& program, const QStringList& args, int timeoutMs) {
  QProcess process;
  process.start(program, args);
  process.closeWriteChannel();
  return FinishProcess(process, timeoutMs);
}

ProcessResult FinishTool(QProcess& process, int timeoutMs) {
  return FinishProcess(process, timeoutMs);
}

ProcessResult RunTool(const QStringList& args, int timeoutMs) {
  QProcess process;
  StartTool(process, args);
  return FinishTool(process, timeoutMs);
}

int RunThisProgramAgain(const QString& variable, const QString& value, const QString& filter) {
  QProcess run;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(variable, value);
  run.setProcessEnvironment(env);
  run.setProcessChannelMode(QProcess::ForwardedChannels);
  run.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + filter});
  if (!run.waitForFinished(120000) || run.exitStatus() != QProcess::NormalExit) {
    run.kill();
    run.waitForFinished();
    return -1;
  }
  return run.exitCode();
}

}  // namespace qm::test
