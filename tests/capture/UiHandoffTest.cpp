#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "capture/UiHandoff.h"
#include "common/SilentAbort.h"

namespace qm {
namespace {

// A worker thread that tells the hand-off when it has ended.
class Worker {
 public:
  template <class F>
  Worker(UiHandoff& handoff, F body)
      : handoff_(handoff), thread_([this, body] {
          body();
          done_ = true;
          handoff_.Wake();
        }) {}
  ~Worker() {
    if (thread_.joinable()) Wait();
  }
  void Wait() {
    handoff_.WaitUntil([this] { return done_.load(); });
    thread_.join();
  }
  bool Done() const { return done_; }

 private:
  UiHandoff& handoff_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST(UiHandoffTest, StepsRunOnTheUserInterfaceThreadInOrderAndTheWorkerSeesTheirResults) {
  UiHandoff handoff;
  QThread* const ui = QThread::currentThread();
  std::vector<int> order;
  std::vector<int> seenByWorker;
  bool allOnUi = true;
  Worker worker(handoff, [&] {
    for (int i = 0; i < 50; ++i) {
      int result = -1;
      handoff.Run([&] {
        allOnUi = allOnUi && QThread::currentThread() == ui;
        order.push_back(i);
        result = i * 2;
      });
      seenByWorker.push_back(result);
    }
  });
  worker.Wait();
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(order[i], i);
    EXPECT_EQ(seenByWorker[i], i * 2);
  }
  EXPECT_TRUE(allOnUi);
}

TEST(UiHandoffTest, AnExceptionThrownByAStepIsRethrownInTheWorker) {
  UiHandoff handoff;
  bool silentAbortSeen = false;
  std::string message;
  bool stepAfterwardsRan = false;
  Worker worker(handoff, [&] {
    try {
      handoff.Run([] { throw SilentAbort(); });
    } catch (const SilentAbort&) {
      silentAbortSeen = true;
    }
    try {
      handoff.Run([] { throw std::runtime_error("compressor refused the frame"); });
    } catch (const std::runtime_error& e) {
      message = e.what();
    }
    // The hand-off goes on working after a failed step.
    handoff.Run([&] { stepAfterwardsRan = true; });
  });
  worker.Wait();
  EXPECT_TRUE(silentAbortSeen);
  EXPECT_EQ(message, "compressor refused the frame");
  EXPECT_TRUE(stepAfterwardsRan);
}

TEST(UiHandoffTest, TheEventLoopRunsHandedSteps) {
  UiHandoff handoff;
  QEventLoop loop;
  std::atomic<int> ran{0};
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) handoff.Run([&] { ++ran; });
    handoff.Run([&] { loop.quit(); });
  });
  // A guard against a hand-off that never reaches the loop; the test then fails on the count.
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);
  loop.exec();
  handoff.RunPending();
  worker.join();
  EXPECT_EQ(ran, 20);
}

TEST(UiHandoffTest, OnTheUserInterfaceThreadAStepRunsAtOnce) {
  UiHandoff handoff;
  int ran = 0;
  handoff.Run([&] { ++ran; });
  EXPECT_EQ(ran, 1);
  EXPECT_THROW(handoff.Run([] { throw SilentAbort(); }), SilentAbort);
}

TEST(UiHandoffTest, WaitingForAWorkerThatHandsNothingOverEndsWhenItIsWoken) {
  UiHandoff handoff;
  std::atomic<int> ran{0};
  Worker worker(handoff, [&] {
    std::this_thread::yield();
    ++ran;
  });
  worker.Wait();
  EXPECT_TRUE(worker.Done());
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace qm
