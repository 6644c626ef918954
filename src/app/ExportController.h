#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <memory>
#include <thread>

#include "export/ExportPlan.h"

namespace qm {

// Shareable copies of recordings made off the user-interface thread: one export at a time on
// a worker thread of lower priority, so a recording that starts meanwhile keeps its pace; the
// others wait in turn. Each export reports its progress and its end, once, on the event loop.
// No widgets. Call from the user-interface thread only.
class ExportController : public QObject {
  Q_OBJECT

 public:
  enum class Outcome { Done, Failed, Cancelled };

  explicit ExportController(QObject* parent = nullptr);
  // Cancels every export and waits for the running one, which leaves nothing behind.
  ~ExportController() override;

  // Queues an export; its id, which its reports carry.
  int Start(const ExportRequest& request);
  // Cancels a waiting or running export; its Finished still comes, Cancelled.
  void Cancel(int id);
  // An export runs or waits.
  bool IsBusy() const;

  // The file an automatic copy of recording gets: the recording's name with the kind's
  // extension, or with "-1", "-2", ... added when that names something already.
  static QString CopyName(const QString& recording, ExportKind kind);
  // The newest recording (".avi") in folder; empty when it holds none.
  static QString NewestRecording(const QString& folder);

 signals:
  // The part done, 0 to 1, as it grows (about every percent).
  void Progress(int id, double done);
  // message: the line that tells what was written when Done, else the reason.
  void Finished(int id, Outcome outcome, const QString& output, const QString& message);

 private:
  struct Job {
    int Id = 0;
    ExportRequest Request;
  };
  struct Running;

  void StartNext();
  // On the worker thread.
  void Work(Running& running);
  // Back on the event loop once the worker has ended.
  void Ended(Outcome outcome, const QString& message);

  std::deque<Job> waiting_;
  std::unique_ptr<Running> running_;
  int lastId_ = 0;
};

}  // namespace qm
