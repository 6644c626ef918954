#include "app/CapThreadRecorder.h"

#include <QCoreApplication>
#include <QEvent>

#include "capture/CapThread.h"

namespace qm {

CapThreadRecorder::CapThreadRecorder(MovieWriter& writer, const CapInfo& info,
                                     RecorderFinished finished)
    : receiver_(std::make_unique<QObject>()), thread_(std::make_unique<CapThread>()) {
  CapInfo job = info;
  job.Receiver = receiver_.get();
  job.Writer = &writer;
  job.Finished = std::move(finished);
  thread_->SetInfo(job);
  thread_->Start();
}

CapThreadRecorder::~CapThreadRecorder() {
  thread_.reset();
  QCoreApplication::sendPostedEvents(receiver_.get(), QEvent::MetaCall);
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
  return [&writer](const CapInfo& info, RecorderFinished finished) {
    return std::make_unique<CapThreadRecorder>(writer, info, std::move(finished));
  };
}

}  // namespace qm
