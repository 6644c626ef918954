#include "app/CapThreadRecorder.h"

#include <QCoreApplication>
#include <QEvent>

#include "capture/CapThread.h"

namespace qm {

class CapThreadRecorder::Receiver : public QObject {
 public:
  explicit Receiver(std::function<void()> done) : done_(std::move(done)) {}

 protected:
  bool event(QEvent* event) override {
    if (event->type() != QEvent::Type(kWmCapDone)) return QObject::event(event);
    if (done_) done_();
    return true;
  }

 private:
  std::function<void()> done_;
};

CapThreadRecorder::CapThreadRecorder(MovieWriter& writer, const CapInfo& info,
                                     RecorderEvents events)
    : receiver_(std::make_unique<Receiver>(std::move(events.Done))),
      thread_(std::make_unique<CapThread>()) {
  CapInfo job = info;
  job.OwnerWindow = receiver_.get();
  job.Writer = &writer;
  job.OnError = std::move(events.Error);
  thread_->SetInfo(job);
  thread_->Start();
}

CapThreadRecorder::~CapThreadRecorder() {
  thread_.reset();
  QCoreApplication::sendPostedEvents(receiver_.get(), kWmCapDone);
}

void CapThreadRecorder::Pause() {
  thread_->Pause();
}

void CapThreadRecorder::Continue() {
  thread_->Continue();
}

void CapThreadRecorder::Stop() {
  thread_->Stop();
}

bool CapThreadRecorder::IsFinished() const {
  return thread_->IsFinished();
}

RecordingFigures CapThreadRecorder::Figures() const {
  return thread_->Figures();
}

RecorderFactory CapThreadRecorder::Factory(MovieWriter& writer) {
  return [&writer](const CapInfo& info, RecorderEvents events) {
    return std::make_unique<CapThreadRecorder>(writer, info, std::move(events));
  };
}

}  // namespace qm
