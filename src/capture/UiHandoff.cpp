#include "capture/UiHandoff.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace qm {

namespace {

QEvent::Type HandoffEventType() {
  static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
  return type;
}

}  // namespace

UiHandoff::UiHandoff(QObject* parent) : QObject(parent) {
  HandoffEventType();
}

UiHandoff::~UiHandoff() {
  // Workers are gone by contract; a step still queued would leave its worker blocked, so run
  // it rather than abandon it.
  RunPending();
}

void UiHandoff::Hand(Pending& pending) {
  if (QThread::currentThread() == thread()) {
    pending.Call(pending.Step);
    return;
  }
  std::unique_lock lock(mutex_);
  if (last_)
    last_->Next = &pending;
  else
    first_ = &pending;
  last_ = &pending;
  // One wake-up event at a time is enough: the handler drains the whole queue.
  const bool post = !eventPosted_;
  eventPosted_ = true;
  uiWake_.notify_all();
  if (post) QCoreApplication::postEvent(this, new QEvent(HandoffEventType()));
  workerWake_.wait(lock, [&] { return pending.Done; });
  if (pending.Error) std::rethrow_exception(pending.Error);
}

UiHandoff::Pending* UiHandoff::TakeFirst() {
  Pending* pending = first_;
  if (pending) {
    first_ = pending->Next;
    if (!first_) last_ = nullptr;
    pending->Next = nullptr;
  }
  return pending;
}

void UiHandoff::RunOne(Pending* pending, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  std::exception_ptr error;
  try {
    pending->Call(pending->Step);
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  pending->Error = std::move(error);
  pending->Done = true;
  // The worker may return and pop its record the moment it sees Done; touch nothing after.
  workerWake_.notify_all();
}

void UiHandoff::RunPending() {
  std::unique_lock lock(mutex_);
  while (Pending* pending = TakeFirst()) RunOne(pending, lock);
}

void UiHandoff::WaitUntil(const std::function<bool()>& finished) {
  std::unique_lock lock(mutex_);
  for (;;) {
    while (Pending* pending = TakeFirst()) RunOne(pending, lock);
    if (finished()) return;
    uiWake_.wait(lock);
  }
}

void UiHandoff::Wake() {
  std::lock_guard lock(mutex_);
  uiWake_.notify_all();
}

bool UiHandoff::event(QEvent* event) {
  if (event->type() != HandoffEventType()) return QObject::event(event);
  {
    std::lock_guard lock(mutex_);
    eventPosted_ = false;
  }
  RunPending();
  return true;
}

}  // namespace qm
