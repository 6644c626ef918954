#include "app/SoundMeter.h"

#include <algorithm>
#include <cstdlib>

namespace qm {

namespace {

constexpr int kTickMs = 100;
constexpr int kRetryTicks = 30;

}  // namespace

SoundMeter::SoundMeter(QWidget* parent) : QProgressBar(parent) {
  setObjectName(QStringLiteral("pbSoundLevel"));
  setRange(0, 32767);
  setValue(0);
  setTextVisible(false);
  timer_.setInterval(kTickMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  timer_.start();
}

SoundMeter::~SoundMeter() = default;

void SoundMeter::SetChoice(SoundChoice choice) {
  if (choice == choice_) return;
  choice_ = choice;
  input_.reset();
  retryTicks_ = 0;
  setValue(0);
}

void SoundMeter::Tick() {
  const bool wanted = choice_ != SoundChoice::Off && isVisible() && isEnabled();
  if (!wanted) {
    if (input_) {
      input_.reset();
      setValue(0);
    }
    return;
  }
  if (!input_) {
    if (retryTicks_ > 0) {
      --retryTicks_;
      return;
    }
    auto input = std::make_unique<SoundInput>();
    const auto peak = peak_;
    const bool started = input->Start(
        choice_,
        [peak](int, const int16_t* samples, size_t frames, int64_t) {
          int loudest = 0;
          for (size_t i = 0; i < frames * SoundInput::kChannels; ++i)
            loudest = std::max(loudest, std::abs(int(samples[i])));
          int seen = peak->load();
          while (loudest > seen && !peak->compare_exchange_weak(seen, loudest)) {
          }
        },
        [](int, const QString&) {});
    if (!started) {
      retryTicks_ = kRetryTicks;
      setToolTip(QStringLiteral("No sound: ") + input->Failure());
      return;
    }
    setToolTip(QString());
    input_ = std::move(input);
  }
  setValue(std::min(peak_->exchange(0), 32767));
}

}  // namespace qm
