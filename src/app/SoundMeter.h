#pragma once

#include <QProgressBar>
#include <QTimer>

#include <atomic>
#include <memory>

#include "platform/audio/SoundInput.h"

namespace qm {

// The level meter of the "Record sound" choice: while it is shown and a sound is chosen, it
// listens to that sound and shows its loudest sample of the last tenth of a second, so the
// user sees that sound arrives. It listens to nothing while hidden. User-interface thread.
class SoundMeter : public QProgressBar {
 public:
  explicit SoundMeter(QWidget* parent = nullptr);
  ~SoundMeter() override;

  void SetChoice(SoundChoice choice);
  SoundChoice Choice() const { return choice_; }
  // It listens now.
  bool Listening() const { return input_ != nullptr; }

 private:
  void Tick();

  SoundChoice choice_ = SoundChoice::Off;
  std::unique_ptr<SoundInput> input_;
  std::shared_ptr<std::atomic<int>> peak_ = std::make_shared<std::atomic<int>>(0);
  QTimer timer_;
  int retryTicks_ = 0;  // a start that failed is tried again after a while
};

}  // namespace qm
