#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qm {

// What a recording takes its sound from.
enum class SoundChoice {
  Off,
  Desktop,     // the monitor of the default output
  Microphone,  // the default input
  Both,        // the two, mixed
};

// One input the sound server offers.
struct SoundDevice {
  QString Name;          // the server's name of it
  QString Description;   // the name the user knows it by
  bool Monitor = false;  // it hears an output
};

// The sound of a recording, taken from the sound server (the PulseAudio protocol, which
// PipeWire desktops serve as well) on a thread of the client library's own: 16-bit stereo at
// 48 kHz, in blocks stamped with the moment their first sample was captured, by the server's
// timing reports, on the clock of NowMicroseconds. One input per stream: "Both" has two.
class SoundInput {
 public:
  static constexpr int kRate = 48000;
  static constexpr int kChannels = 2;

  // On the sound thread: frames interleaved stereo samples of input (0, or 1 for the
  // microphone of "Both"), the first captured at firstMicroseconds.
  using Receiver = std::function<void(int input, const int16_t* samples, size_t frames,
                                      int64_t firstMicroseconds)>;
  // On the sound thread, once per input: the input is gone (its device went away, the server
  // ended); reason says why.
  using LostReceiver = std::function<void(int input, const QString& reason)>;

  SoundInput();
  // Stops the streams and waits for the sound thread.
  ~SoundInput();
  SoundInput(const SoundInput&) = delete;
  SoundInput& operator=(const SoundInput&) = delete;

  // Connects to the server and starts the streams of choice; waits until they run. False, with
  // Failure() saying why, when there is no server or no such device; nothing runs then.
  bool Start(SoundChoice choice, Receiver receiver, LostReceiver lost);
  void Stop();
  // Why the last Start failed.
  const QString& Failure() const { return failure_; }
  // Inputs of the running choice.
  int Inputs() const;

  // The inputs the server offers; false with failure set when there is no server.
  static bool List(std::vector<SoundDevice>& devices, QString& failure);
  // The clock of the blocks' stamps: the system's monotonic time.
  static int64_t NowMicroseconds();

 private:
  struct State;
  std::unique_ptr<State> state_;
  QString failure_;
};

}  // namespace qm
