#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace qm {

// Turns SIGTERM and SIGINT into a signal on the user-interface thread (through a pipe the
// handler writes one byte to), so the application can end as its Exit does. One at a time.
class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

 signals:
  void Received();

 private:
  int fds_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace qm
