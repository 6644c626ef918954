#include "app/ExportController.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <exception>

#include "export/ExportError.h"
#include "export/ExportPlan.h"
#include "export/Exporter.h"

namespace qm {

namespace {

// How much less of the processor the export asks for than the recorder's threads.
constexpr int kExportNiceness = 10;

// Something, a link included, stands at path.
bool Taken(const QString& path) {
  const QFileInfo info(path);
  return info.exists() || info.isSymLink();
}

}  // namespace

struct ExportController::Running {
  Job Work;
  std::atomic<bool> Cancel = false;
  std::thread Thread;
};

ExportController::ExportController(QObject* parent) : QObject(parent) {}

ExportController::~ExportController() {
  waiting_.clear();
  if (!running_) return;
  running_->Cancel = true;
  running_->Thread.join();
}

int ExportController::Start(const ExportRequest& request) {
  const int id = ++lastId_;
  waiting_.push_back({id, request});
  if (!running_) StartNext();
  return id;
}

void ExportController::Cancel(int id) {
  if (running_ && running_->Work.Id == id) {
    running_->Cancel = true;
    return;
  }
  const auto job =
      std::find_if(waiting_.begin(), waiting_.end(), [id](const Job& j) { return j.Id == id; });
  if (job == waiting_.end()) return;
  const QString output = job->Request.Output;
  waiting_.erase(job);
  // Reported on a later pass, as a running one would be.
  QTimer::singleShot(0, this, [this, id, output] {
    emit Finished(id, Outcome::Cancelled, output, QStringLiteral("The export was cancelled"));
  });
}

bool ExportController::IsBusy() const {
  return running_ || !waiting_.empty();
}

void ExportController::StartNext() {
  if (running_ || waiting_.empty()) return;
  running_ = std::make_unique<Running>();
  running_->Work = std::move(waiting_.front());
  waiting_.pop_front();
  running_->Thread = std::thread([this, running = running_.get()] { Work(*running); });
}

void ExportController::Work(Running& running) {
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kExportNiceness);
  const int id = running.Work.Id;
  int shown = -1;
  const auto progress = [&](double done) {
    if (running.Cancel) return false;
    const int percent = std::clamp(int(done * 100), 0, 100);
    if (percent != shown) {
      shown = percent;
      QMetaObject::invokeMethod(
          this, [this, id, done] { emit Progress(id, done); }, Qt::QueuedConnection);
    }
    return true;
  };
  Outcome outcome = Outcome::Done;
  QString message;
  try {
    message = Exporter::Run(running.Work.Request, progress);
  } catch (const ExportError& e) {
    outcome = running.Cancel ? Outcome::Cancelled : Outcome::Failed;
    message = QString::fromUtf8(e.what());
  } catch (const std::exception& e) {
    // Nothing may leave the thread; the engine's own failures are ExportErrors.
    outcome = Outcome::Failed;
    message = QString::fromUtf8(e.what());
  }
  QMetaObject::invokeMethod(
      this, [this, outcome, message] { Ended(outcome, message); }, Qt::QueuedConnection);
}

void ExportController::Ended(Outcome outcome, const QString& message) {
  const std::unique_ptr<Running> ended = std::move(running_);
  ended->Thread.join();
  StartNext();
  emit Finished(ended->Work.Id, outcome, ended->Work.Request.Output, message);
}

QString ExportController::CopyName(const QString& recording, ExportKind kind) {
  const QFileInfo info(recording);
  const QString base = info.dir().filePath(info.completeBaseName());
  const QString dot = QLatin1Char('.') + ExportPlan::ExtensionOf(kind);
  QString name = base + dot;
  for (int n = 1; n < 1000 && Taken(name); ++n)
    name = base + QLatin1Char('-') + QString::number(n) + dot;
  return name;
}

QString ExportController::NewestRecording(const QString& folder) {
  const QFileInfoList files = QDir(folder).entryInfoList(
      {QStringLiteral("*.avi"), QStringLiteral("*.AVI")}, QDir::Files, QDir::Time);
  return files.isEmpty() ? QString() : files.front().absoluteFilePath();
}

}  // namespace qm
