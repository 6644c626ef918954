#include "platform/audio/SoundInput.h"

#include <QStringList>

#include <pulse/pulseaudio.h>

#include <chrono>
#include <utility>
#include <vector>

namespace qm {

namespace {

const pa_sample_spec kSpec = {PA_SAMPLE_S16LE, uint32_t(SoundInput::kRate),
                              uint8_t(SoundInput::kChannels)};
// Blocks of 20 ms: the delay between the sound and the file stays well below a frame period,
// and the client is woken rarely.
constexpr uint32_t kFragmentBytes = SoundInput::kRate / 50 * SoundInput::kChannels * 2;

QString ServerError(pa_context* context) {
  return QString::fromUtf8(pa_strerror(pa_context_errno(context)));
}

}  // namespace

// Everything here is used with the main loop's lock held, or before the loop runs.
struct SoundInput::State {
  pa_threaded_mainloop* Loop = nullptr;
  pa_context* Context = nullptr;
  pa_stream* Streams[2] = {nullptr, nullptr};
  int Inputs = 0;
  Receiver Take;
  LostReceiver Lost;
  bool LostSaid[2] = {false, false};
  bool Stopping = false;
  QString DefaultSink;
  QString DefaultSource;
  std::vector<int16_t> Silence;  // what a hole in the stream stands for (the loop's thread)

  ~State() {
    if (!Loop) return;
    pa_threaded_mainloop_lock(Loop);
    Stopping = true;
    for (pa_stream*& stream : Streams) {
      if (!stream) continue;
      pa_stream_set_read_callback(stream, nullptr, nullptr);
      pa_stream_set_state_callback(stream, nullptr, nullptr);
      pa_stream_disconnect(stream);
      pa_stream_unref(stream);
      stream = nullptr;
    }
    if (Context) {
      pa_context_set_state_callback(Context, nullptr, nullptr);
      pa_context_disconnect(Context);
      pa_context_unref(Context);
      Context = nullptr;
    }
    pa_threaded_mainloop_unlock(Loop);
    pa_threaded_mainloop_stop(Loop);
    pa_threaded_mainloop_free(Loop);
  }

  int InputOf(pa_stream* stream) const { return stream == Streams[1] ? 1 : 0; }

  void SayLost(int input, const QString& reason) {
    if (Stopping || LostSaid[input]) return;
    LostSaid[input] = true;
    if (Lost) Lost(input, reason);
  }

  // Connects to the server; false with failure set.
  bool Connect(QString& failure) {
    Loop = pa_threaded_mainloop_new();
    if (!Loop) {
      failure = QStringLiteral("the sound library could not start");
      return false;
    }
    Context = pa_context_new(pa_threaded_mainloop_get_api(Loop), "Quillmark");
    if (!Context) {
      failure = QStringLiteral("the sound library could not start");
      return false;
    }
    pa_context_set_state_callback(
        Context,
        [](pa_context* context, void* data) {
          auto* state = static_cast<State*>(data);
          const pa_context_state_t now = pa_context_get_state(context);
          if (now == PA_CONTEXT_FAILED || now == PA_CONTEXT_TERMINATED) {
            for (int i = 0; i < state->Inputs; ++i)
              state->SayLost(i, QStringLiteral("the sound server went away"));
          }
          pa_threaded_mainloop_signal(state->Loop, 0);
        },
        this);
    if (pa_context_connect(Context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      failure = QStringLiteral("no sound server (") + ServerError(Context) + QLatin1Char(')');
      return false;
    }
    if (pa_threaded_mainloop_start(Loop) < 0) {
      failure = QStringLiteral("the sound library could not start");
      return false;
    }
    pa_threaded_mainloop_lock(Loop);
    for (;;) {
      const pa_context_state_t now = pa_context_get_state(Context);
      if (now == PA_CONTEXT_READY) break;
      if (!PA_CONTEXT_IS_GOOD(now)) {
        failure = QStringLiteral("no sound server (") + ServerError(Context) + QLatin1Char(')');
        pa_threaded_mainloop_unlock(Loop);
        return false;
      }
      pa_threaded_mainloop_wait(Loop);
    }
    pa_threaded_mainloop_unlock(Loop);
    return true;
  }

  // Waits for op with the lock held and lets it go.
  void Await(pa_operation* op) {
    if (!op) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(Loop);
    pa_operation_unref(op);
  }

  void ReadDefaults() {
    Await(pa_context_get_server_info(
        Context,
        [](pa_context*, const pa_server_info* info, void* data) {
          auto* state = static_cast<State*>(data);
          if (info) {
            state->DefaultSink = QString::fromUtf8(info->default_sink_name);
            state->DefaultSource = QString::fromUtf8(info->default_source_name);
          }
          pa_threaded_mainloop_signal(state->Loop, 0);
        },
        this));
  }

  static void OnRead(pa_stream* stream, size_t, void* data) {
    auto* state = static_cast<State*>(data);
    const int input = state->InputOf(stream);
    for (;;) {
      const void* bytes = nullptr;
      size_t length = 0;
      if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0) return;
      // The age of the oldest sample not yet read, by the server's timing reports; without
      // them yet, the block is taken as just captured.
      const int64_t now = NowMicroseconds();
      const size_t frames = length / (2 * kChannels);
      int64_t first = now - int64_t(pa_bytes_to_usec(length, &kSpec));
      pa_usec_t latency = 0;
      int negative = 0;
      if (pa_stream_get_latency(stream, &latency, &negative) == 0)
        first = negative ? now + int64_t(latency) : now - int64_t(latency);
      // A hole in the stream (no data, only its length) is silence of that length: the
      // stream stays continuous, and what follows keeps its place.
      const int16_t* samples = static_cast<const int16_t*>(bytes);
      if (!bytes && frames > 0) {
        state->Silence.assign(frames * kChannels, 0);
        samples = state->Silence.data();
      }
      if (frames > 0 && state->Take) state->Take(input, samples, frames, first);
      pa_stream_drop(stream);
    }
  }

  static void OnState(pa_stream* stream, void* data) {
    auto* state = static_cast<State*>(data);
    const pa_stream_state_t now = pa_stream_get_state(stream);
    if (now == PA_STREAM_FAILED || now == PA_STREAM_TERMINATED)
      state->SayLost(state->InputOf(stream), QStringLiteral("the sound device went away"));
    pa_threaded_mainloop_signal(state->Loop, 0);
  }

  // Starts input's stream from device; false with failure set. Lock held.
  bool Open(int input, const QString& device, QString& failure) {
    pa_stream* stream = pa_stream_new(Context, "Recording", &kSpec, nullptr);
    if (!stream) {
      failure = ServerError(Context);
      return false;
    }
    Streams[input] = stream;
    pa_stream_set_read_callback(stream, &State::OnRead, this);
    pa_stream_set_state_callback(stream, &State::OnState, this);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = kFragmentBytes;
    // A stream that stays on its device: when the device goes, the stream ends, and the
    // recording knows it.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                         PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_DONT_MOVE);
    const QByteArray name = device.toUtf8();
    if (pa_stream_connect_record(stream, name.constData(), &attr, flags) < 0) {
      failure = ServerError(Context);
      return false;
    }
    for (;;) {
      const pa_stream_state_t now = pa_stream_get_state(stream);
      if (now == PA_STREAM_READY) return true;
      if (!PA_STREAM_IS_GOOD(now)) {
        failure = QStringLiteral("no sound device ") + device + QStringLiteral(" (") +
                  ServerError(Context) + QLatin1Char(')');
        return false;
      }
      pa_threaded_mainloop_wait(Loop);
    }
  }
};

SoundInput::SoundInput() = default;

SoundInput::~SoundInput() {
  Stop();
}

int64_t SoundInput::NowMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int SoundInput::Inputs() const {
  return state_ ? state_->Inputs : 0;
}

bool SoundInput::Start(SoundChoice choice, Receiver receiver, LostReceiver lost) {
  Stop();
  failure_.clear();
  if (choice == SoundChoice::Off) return false;
  auto state = std::make_unique<State>();
  state->Take = std::move(receiver);
  state->Lost = std::move(lost);
  if (!state->Connect(failure_)) return false;
  pa_threaded_mainloop_lock(state->Loop);
  state->ReadDefaults();
  QStringList devices;
  if (choice == SoundChoice::Desktop || choice == SoundChoice::Both)
    devices << (state->DefaultSink.isEmpty() ? QString()
                                             : state->DefaultSink + QStringLiteral(".monitor"));
  if (choice == SoundChoice::Microphone || choice == SoundChoice::Both)
    devices << state->DefaultSource;
  bool ok = true;
  for (int i = 0; ok && i < devices.size(); ++i) {
    if (devices[i].isEmpty()) {
      failure_ = i == 0 && choice != SoundChoice::Microphone
                     ? QStringLiteral("the sound server has no output")
                     : QStringLiteral("the sound server has no input");
      ok = false;
      break;
    }
    state->Inputs = i + 1;
    ok = state->Open(i, devices[i], failure_);
  }
  pa_threaded_mainloop_unlock(state->Loop);
  if (!ok) return false;
  state_ = std::move(state);
  return true;
}

void SoundInput::Stop() {
  state_.reset();
}

bool SoundInput::List(std::vector<SoundDevice>& devices, QString& failure) {
  devices.clear();
  State state;
  if (!state.Connect(failure)) return false;
  struct Query {
    State* Owner;
    std::vector<SoundDevice>* Devices;
  } query{&state, &devices};
  pa_threaded_mainloop_lock(state.Loop);
  state.Await(pa_context_get_source_info_list(
      state.Context,
      [](pa_context*, const pa_source_info* info, int eol, void* data) {
        auto* asked = static_cast<Query*>(data);
        if (eol == 0 && info) {
          SoundDevice device;
          device.Name = QString::fromUtf8(info->name);
          device.Description = QString::fromUtf8(info->description);
          device.Monitor = info->monitor_of_sink != PA_INVALID_INDEX;
          asked->Devices->push_back(device);
        }
        if (eol != 0) pa_threaded_mainloop_signal(asked->Owner->Loop, 0);
      },
      &query));
  pa_threaded_mainloop_unlock(state.Loop);
  return true;
}

}  // namespace qm
