#pragma once

#include <QObject>

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace qm {

// Runs steps of a worker thread on the user-interface thread and makes the worker wait until
// each has run (a synchronous hand-off). An exception thrown by a step is carried back and
// rethrown in the worker. The user-interface thread runs the steps from its event loop, and
// from WaitUntil while it waits for a worker to end, so the two never block each other.
//
// Create it on the user-interface thread (its thread affinity is the thread that runs the
// steps); it must outlive every worker that uses it. Run may be called from any thread;
// RunPending and WaitUntil only on the user-interface thread.
class UiHandoff : public QObject {
  Q_OBJECT

 public:
  explicit UiHandoff(QObject* parent = nullptr);
  ~UiHandoff() override;
  UiHandoff(const UiHandoff&) = delete;
  UiHandoff& operator=(const UiHandoff&) = delete;

  // Runs step on the user-interface thread and returns after it has run, rethrowing what it
  // threw. Called on the user-interface thread itself, runs step at once. The step is not
  // copied, so handing over a frame allocates nothing but the posted wake-up event.
  template <class F>
  void Run(F&& step) {
    using Step = std::remove_reference_t<F>;
    Pending pending;
    pending.Call = [](void* s) { (*static_cast<Step*>(s))(); };
    pending.Step = const_cast<void*>(static_cast<const void*>(std::addressof(step)));
    Hand(pending);
  }

  // Runs the steps queued so far, in the order they were queued.
  void RunPending();

  // Runs queued steps as they arrive until finished() returns true. finished() is tested
  // with the hand-off's lock held, after every step and after every Wake.
  void WaitUntil(const std::function<bool()>& finished);

  // Makes WaitUntil test its condition again. Call it after changing what the condition
  // reads (for example when a worker ends). Any thread.
  void Wake();

 protected:
  bool event(QEvent* event) override;

 private:
  // One queued step; it lives on the waiting worker's stack.
  struct Pending {
    void (*Call)(void*) = nullptr;
    void* Step = nullptr;
    std::exception_ptr Error;
    bool Done = false;
    Pending* Next = nullptr;
  };

  void Hand(Pending& pending);
  // Takes the first queued step, or nullptr. Lock held.
  Pending* TakeFirst();
  // Runs a taken step with the lock released and reports it done.
  void RunOne(Pending* pending, std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable uiWake_;      // a step was queued, or Wake was called
  std::condition_variable workerWake_;  // a step has run
  Pending* first_ = nullptr;
  Pending* last_ = nullptr;
  bool eventPosted_ = false;
};

}  // namespace qm
