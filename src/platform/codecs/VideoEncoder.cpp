#include "platform/codecs/VideoEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/rational.h>
}

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "common/BitmapInfoHeader.h"
#include "common/LittleEndian.h"
#include "platform/codecs/FrameConverter.h"

namespace qm {

namespace {

// What the quality setting of a compressor steers.
enum class QualityKind {
  Quantiser,   // a fixed quantiser, 31 (quality 0) to 1 (quality 100)
  RateFactor,  // a constant rate factor, 51 (quality 0) to 0 (quality 100)
  Fixed,       // the encoder's own choice; the dialog offers only the key-frame interval
  Lossless,    // as Fixed, and every pixel is kept
};

// One compressor of the catalogue. Quality defaults are those that suit screen recordings:
// quality 90 is quantiser 4, quality 55 is rate factor 23.
struct CatalogueEntry {
  char Code[5];
  const char* Encoder;  // libavcodec encoder name
  const char* Name;
  const char* Description;
  AVPixelFormat PixelFormat;
  QualityKind Quality;
  int DefaultQuality;
  int Alignment;         // width and height must be multiples of this
  uint16_t BitCount;     // bits per pixel announced in the output format
  int CompressionLevel;  // -1: the encoder's default
  // Options of the encoder or of its codec context, "key=value:key=value".
  const char* Options;
  bool FullRange;  // YUV with the full 0-255 range (JPEG)
  // Some encoders read the interval from keyint_min, and Video 1 counts only the frames
  // between two key frames: this is added to the interval to give keyint_min.
  int KeyIntMinBias;
  // Slices of one frame may be coded in parallel when one thread does not keep up with the
  // frame rate: still one frame in, one frame out, at once.
  bool SliceThreads;
};

// Descriptions are ours; they must survive the listing rules of the wrapper (no "yuv",
// "h." or "rle"). x264 gets its own picture layout (chroma interleaved), which it then only
// copies. The lossless ones encode RGB, so decoded pixels equal the input, and compress at
// their fastest levels. Cinepak's vector search is slow at any setting; it
// gets the settings that cut its time most (one strip, no extra codebook rounds).
// Every frame format here carries its own parameters in its key frames (x264 repeats its
// sequence headers there), so the 40-byte format is all a decoder needs, at every size.
// FFV1 is held to version 1 with one slice and no slice checksums: above 720 x 576, or with
// slices or checksums, the encoder moves to version 3, whose parameters travel only in
// extra data that the 40-byte format cannot carry.
const std::array<CatalogueEntry, 10> kCatalogue = {{
    {"MP42", "msmpeg4v2", "MPEG-4 V2", "MPEG-4 video, Microsoft version 2", AV_PIX_FMT_YUV420P,
     QualityKind::Quantiser, 90, 1, 24, -1, "", false, 0, false},
    {"DIV3", "msmpeg4", "MPEG-4 V3", "MPEG-4 video, Microsoft version 3", AV_PIX_FMT_YUV420P,
     QualityKind::Quantiser, 90, 1, 24, -1, "", false, 0, false},
    {"XVID", "mpeg4", "MPEG-4 Part 2", "MPEG-4 Part 2 video (Xvid compatible)", AV_PIX_FMT_YUV420P,
     QualityKind::Quantiser, 90, 1, 24, -1, "", false, 0, true},
    {"H264", "libx264", "AVC (x264)", "AVC / MPEG-4 Part 10 video (x264)", AV_PIX_FMT_NV12,
     QualityKind::RateFactor, 55, 2, 24, -1, "preset=veryfast:tune=zerolatency", false, 0, true},
    {"MJPG", "mjpeg", "Motion JPEG", "Motion JPEG", AV_PIX_FMT_YUV420P, QualityKind::Quantiser, 90,
     1, 24, -1, "", true, 0, true},
    {"FFV1", "ffv1", "FFV1", "FFV1 lossless video", AV_PIX_FMT_BGR0, QualityKind::Lossless, 100, 1,
     24, -1, "level=1:slices=1:slicecrc=0", false, 0, false},
    {"ZMBV", "zmbv", "ZMBV", "Zip Motion Blocks Video, lossless", AV_PIX_FMT_BGR0,
     QualityKind::Lossless, 100, 1, 24, 1, "", false, 0, false},
    {"cvid", "cinepak", "Cinepak", "Cinepak video", AV_PIX_FMT_RGB24, QualityKind::Fixed, 100, 4,
     24, -1, "max_extra_cb_iterations=0:skip_empty_cb=1:max_strips=1", false, 0, false},
    {"CRAM", "msvideo1", "Video 1", "Microsoft Video 1", AV_PIX_FMT_RGB555LE, QualityKind::Fixed,
     100, 4, 16, -1, "", false, -1, false},
    {"MPNG", "png", "Motion PNG", "Motion PNG, lossless", AV_PIX_FMT_RGB24, QualityKind::Lossless,
     100, 1, 24, 1, "pred=none", false, 0, false},
}};

// Frames per second assumed when the caller announced none.
constexpr int kDefaultFrameRate = 15;

// Threads of one sequence. One thread costs the least processor time: slices cost each frame
// their own start-up, their waits, the caches they share and the prediction lost at their
// borders (a recording of moving content at 1920 x 1080 takes about a tenth more processor time
// in two slices). The time a frame takes is measured while recording; only an encoder that does
// not keep up with the frame rate codes its frames in slices on several threads, and goes back
// to one thread once that would keep up again. A change takes a new encoder, which begins with
// a key frame: the stream still decodes from each key frame on. Falling behind loses frames,
// so the move to slices comes at once, with a key frame of its own; the way back waits for the
// next key frame that is due anyway.
// Frames measured before a change is considered. The first frame of an encoder is not: it
// carries the encoder's own start (tables it fills once, memory it touches the first time),
// which at 2560 x 1440 makes it take six frame periods. Key frames take several times an
// ordinary frame's time, so they weigh as the key-frame interval has them: one in so many.
constexpr int kThreadSamples = 10;
// One thread is too slow beyond this share of the frame period: a frame may wait while the
// one before is compressed, so the writer keeps up while its frames take less than the period
// on average; the rest is for storing them and the sound.
constexpr double kOneThreadBusiest = 0.9;
// Slices go back to one thread when the frames' time on all their threads (as one thread
// would spend it, at most) stays below this share: far enough below the other mark that a
// recording does not move back and forth, each move costing a key frame.
constexpr double kBackToOneThread = 0.6;
// The largest width or height taken; the AVI frame rectangle holds 16-bit values.
constexpr int32_t kMaxDimension = 16384;

std::atomic<bool> g_scalerOnly{false};

uint32_t CodeOf(const CatalogueEntry& entry) {
  return MakeFourCC(entry.Code);
}

uint32_t LowerCode(uint32_t code) {
  uint32_t lower = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t c = uint8_t(code >> (8 * i));
    if (c >= 'A' && c <= 'Z') c = uint8_t(c - 'A' + 'a');
    lower |= uint32_t(c) << (8 * i);
  }
  return lower;
}

// The encoders report their statistics on every sequence; only their errors are worth a
// line on standard error. A level somebody chose on purpose is left alone.
void QuietEncoderLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);
  });
}

bool TypeMatches(uint32_t type) {
  return type == 0 || type == kVideoEncoderType;
}

const AVCodec* EncoderOf(const CatalogueEntry& entry) {
  return avcodec_find_encoder_by_name(entry.Encoder);
}

// The only inputs taken: 24-bit or 32-bit uncompressed bottom-up rows.
bool ValidInput(const uint8_t* input, BitmapInfoHeader& h) {
  if (!input) return false;
  h = BitmapInfoHeader::Read(input);
  return h.Size >= kBitmapInfoHeaderSize && h.Width > 0 && h.Height > 0 &&
         h.Width <= kMaxDimension && h.Height <= kMaxDimension && h.Planes == 1 &&
         (h.BitCount == 24 || h.BitCount == 32) && h.Compression == 0;
}

EncoderResult FromAvError(int error) {
  return error == AVERROR(ENOMEM) ? EncoderResult::Memory : EncoderResult::Internal;
}

struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct DictionaryDeleter {
  void operator()(AVDictionary** dictionary) const { av_dict_free(dictionary); }
};
using DictionaryPtr = std::unique_ptr<AVDictionary*, DictionaryDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// Releases a received packet's data at the end of a scope; the packet itself is reused.
class PacketRef {
 public:
  explicit PacketRef(AVPacket* packet) : packet_(packet) {}
  ~PacketRef() { av_packet_unref(packet_); }
  PacketRef(const PacketRef&) = delete;
  PacketRef& operator=(const PacketRef&) = delete;

 private:
  AVPacket* packet_;
};

}  // namespace

struct VideoEncoder::Impl {
  const CatalogueEntry* Entry = nullptr;
  std::atomic<EncoderResult> InjectedFault{EncoderResult::Ok};
  const AVCodec* Codec = nullptr;
  bool IntraOnly = false;  // every frame is a key frame
  EncoderMode Mode = EncoderMode::Query;
  EncoderSettings Settings;
  SequenceInfo Frames;

  // The running sequence.
  CodecContextPtr Context;
  // Encoders may keep a reference to the pictures they were given; with a few pictures to
  // take turns, one is always free again without allocating.
  std::array<FramePtr, 3> Pictures;
  // The input frame (its FrameChanges serial; 0 for none known) each picture holds converted.
  std::array<uint64_t, 3> Held{};
  PacketPtr Packet;
  FrameConverter Converter;
  int32_t Width = 0;
  int32_t Height = 0;
  uint16_t InputBits = 24;
  int64_t NextPts = 0;
  // The recording's frame numbers: the last one compressed and the last key frame. A gap
  // between two numbers is frames the recorder left out as repeats of the one before.
  int64_t LastNumber = -1;
  int64_t LastKey = 0;
  bool GapSinceKey = false;
  // The encoder's threads now, and the time its frames other than key frames took since the
  // last look at it; the last key frame's time, while one was measured on these threads.
  int Threads = 1;
  std::chrono::nanoseconds Spent{};
  Stopwatch Clock;
  int Measured = 0;
  std::optional<std::chrono::nanoseconds> KeySpent;
  bool FirstOfEncoder = true;

  AVRational FrameRate() const {
    if (Frames.Rate > 0 && Frames.Scale > 0)
      return AVRational{int(std::min<uint32_t>(Frames.Rate, INT32_MAX)),
                        int(std::min<uint32_t>(Frames.Scale, INT32_MAX))};
    return AVRational{kDefaultFrameRate, 1};
  }

  int KeyFrameInterval() const {
    if (Settings.KeyFrameInterval > 0) return Settings.KeyFrameInterval;
    if (Frames.KeyRate > 0) return Frames.KeyRate;
    const AVRational rate = FrameRate();
    return std::max(1, int(std::lround(av_q2d(rate))));
  }

  bool SetOptions(AVCodecContext* context) const {
    switch (Entry->Quality) {
      case QualityKind::Quantiser: {
        const int quantiser = 31 - int(std::lround(Settings.Quality * 30 / 100.0));
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = FF_QP2LAMBDA * std::clamp(quantiser, 1, 31);
        break;
      }
      case QualityKind::RateFactor: {
        const int factor = 51 - int(std::lround(Settings.Quality * 51 / 100.0));
        if (av_opt_set_double(context->priv_data, "crf", std::clamp(factor, 0, 51), 0) < 0)
          return false;
        break;
      }
      case QualityKind::Fixed:
      case QualityKind::Lossless:
        break;
    }
    if (Entry->CompressionLevel >= 0) context->compression_level = Entry->CompressionLevel;
    if (Entry->FullRange) context->color_range = AVCOL_RANGE_JPEG;
    return true;
  }

  // The measuring starts again: after a change of threads, at a key frame, at a new sequence.
  void StartMeasuring() {
    Spent = {};
    Measured = 0;
  }
  // A new encoder on threads threads: nothing of the one before tells its time.
  void Started(int threads) {
    Threads = threads;
    FirstOfEncoder = true;
    KeySpent.reset();
    StartMeasuring();
  }
  void Measure(std::chrono::nanoseconds spent, bool key) {
    if (std::exchange(FirstOfEncoder, false)) return;
    if (key) {
      KeySpent = spent;
      return;
    }
    Spent += spent;
    ++Measured;
  }
  std::chrono::nanoseconds Now() const {
    if (Clock) return Clock();
    return std::chrono::steady_clock::now().time_since_epoch();
  }

  // Threads that slices run on: one per processor.
  static int SliceThreadCount() { return int(std::max(1u, std::thread::hardware_concurrency())); }

  // A new encoder of the sequence's settings on threads threads (1: no slices).
  EncoderResult OpenContext(int threads, CodecContextPtr& opened) const {
    CodecContextPtr context(avcodec_alloc_context3(Codec));
    if (!context) return EncoderResult::Memory;
    context->width = Width;
    context->height = Height;
    context->pix_fmt = Entry->PixelFormat;
    const AVRational rate = FrameRate();
    av_reduce(&context->time_base.num, &context->time_base.den, rate.den, rate.num, 65535);
    context->framerate = av_inv_q(context->time_base);
    context->gop_size = KeyFrameInterval();
    context->keyint_min = std::max(0, context->gop_size + Entry->KeyIntMinBias);
    // One frame in, one frame out: no reordering and no frame threads.
    context->max_b_frames = 0;
    context->thread_count = threads;
    if (threads > 1) context->thread_type = FF_THREAD_SLICE;
    if (!SetOptions(context.get())) return EncoderResult::BadFormat;
    // The entry's options, of the encoder or of the codec context alike; one the encoder did
    // not take is a fault of the entry, not something to pass over.
    AVDictionary* options = nullptr;
    const DictionaryPtr optionsOwner(&options);
    if (av_dict_parse_string(&options, Entry->Options, "=", ":", 0) < 0)
      return EncoderResult::Memory;
    if (avcodec_open2(context.get(), Codec, &options) < 0 || av_dict_count(options) != 0)
      return EncoderResult::BadFormat;
    opened = std::move(context);
    return EncoderResult::Ok;
  }

  // The threads the frames measured so far ask for; the current count while too few were.
  int WantedThreads() const {
    if (!Entry->SliceThreads || Measured < kThreadSamples) return Threads;
    const double period = 1.0 / av_q2d(FrameRate());
    const double ordinary =
        std::chrono::duration<double>(Spent).count() / double(std::max(Measured, 1));
    const double key = KeySpent ? std::chrono::duration<double>(*KeySpent).count() : ordinary;
    const double interval = double(std::max(1, Context ? Context->gop_size : 1));
    const double perFrame = (ordinary * (interval - 1) + key) / interval;
    if (Threads == 1) return perFrame > kOneThreadBusiest * period ? SliceThreadCount() : 1;
    return perFrame * Threads < kBackToOneThread * period ? 1 : Threads;
  }

  void Reset() noexcept {
    Context.reset();
    for (FramePtr& picture : Pictures) picture.reset();
    Held = {};
    Packet.reset();
    Width = Height = 0;
    NextPts = 0;
    LastNumber = -1;
    LastKey = 0;
    GapSinceKey = false;
    Started(1);
  }
};

VideoEncoder::VideoEncoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

VideoEncoder::~VideoEncoder() {
  End();
}

bool VideoEncoder::Info(uint32_t type, int index, EncoderInfo& info) {
  if (!TypeMatches(type) || index < 0) return false;
  int found = 0;
  for (const CatalogueEntry& entry : kCatalogue) {
    if (!EncoderOf(entry)) continue;
    if (found++ == index) {
      info.Type = kVideoEncoderType;
      info.Handler = CodeOf(entry);
      return true;
    }
  }
  return false;
}

std::unique_ptr<VideoEncoder> VideoEncoder::Open(uint32_t type, uint32_t handler,
                                                 EncoderMode mode) {
  if (!TypeMatches(type)) return nullptr;
  QuietEncoderLog();
  for (const CatalogueEntry& entry : kCatalogue) {
    if (LowerCode(CodeOf(entry)) != LowerCode(handler)) continue;
    const AVCodec* codec = EncoderOf(entry);
    if (!codec) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->Entry = &entry;
    impl->Codec = codec;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
    impl->IntraOnly = descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY);
    impl->Mode = mode;
    impl->Settings.Quality = entry.DefaultQuality;
    return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(impl)));
  }
  return nullptr;
}

void VideoEncoder::InjectFault(EncoderResult result) {
  impl_->InjectedFault.store(result);
}

void VideoEncoder::TimeFramesWith(Stopwatch clock) {
  impl_->Clock = std::move(clock);
}

void VideoEncoder::ConvertWithScalerOnly(bool scalerOnly) {
  g_scalerOnly.store(scalerOnly);
}

bool VideoEncoder::GetInfo(EncoderInfo& info) const {
  info.Type = kVideoEncoderType;
  info.Handler = CodeOf(*impl_->Entry);
  info.Name = QString::fromLatin1(impl_->Entry->Name);
  info.Description = QString::fromLatin1(impl_->Entry->Description);
  return true;
}

EncoderResult VideoEncoder::ConfigureQuery() const {
  return EncoderResult::Ok;
}

bool VideoEncoder::HasQuality() const {
  const QualityKind kind = impl_->Entry->Quality;
  return kind != QualityKind::Fixed && kind != QualityKind::Lossless;
}

bool VideoEncoder::Lossless() const {
  return impl_->Entry->Quality == QualityKind::Lossless;
}

const EncoderSettings& VideoEncoder::Settings() const {
  return impl_->Settings;
}

void VideoEncoder::SetSettings(const EncoderSettings& settings) {
  impl_->Settings = settings;
  impl_->Settings.Quality = std::clamp(settings.Quality, 0, 100);
  impl_->Settings.KeyFrameInterval = std::max(0, settings.KeyFrameInterval);
}

void VideoEncoder::FramesInfo(const SequenceInfo& frames) {
  impl_->Frames = frames;
}

uint32_t VideoEncoder::GetFormatSize(const uint8_t*) const {
  return kBitmapInfoHeaderSize;
}

EncoderResult VideoEncoder::GetFormat(const uint8_t* input, uint8_t* output) const {
  BitmapInfoHeader in;
  if (!output || !ValidInput(input, in)) return EncoderResult::BadFormat;
  BitmapInfoHeader out;
  out.Size = kBitmapInfoHeaderSize;
  out.Width = in.Width;
  out.Height = in.Height;
  out.Planes = 1;
  out.BitCount = impl_->Entry->BitCount;
  out.Compression = CodeOf(*impl_->Entry);
  out.SizeImage = uint32_t(in.Width) * uint32_t(in.Height) * 3;
  out.Write(output);
  return EncoderResult::Ok;
}

EncoderResult VideoEncoder::Query(const uint8_t* input, const uint8_t* output) const {
  BitmapInfoHeader in;
  if (!ValidInput(input, in)) return EncoderResult::BadFormat;
  const int alignment = impl_->Entry->Alignment;
  if (in.Width % alignment != 0 || in.Height % alignment != 0) return EncoderResult::BadFormat;
  if (output) {
    const BitmapInfoHeader out = BitmapInfoHeader::Read(output);
    if (out.Size < kBitmapInfoHeaderSize || out.Compression != CodeOf(*impl_->Entry) ||
        out.Width != in.Width || out.Height != in.Height)
      return EncoderResult::BadFormat;
  }
  return EncoderResult::Ok;
}

uint32_t VideoEncoder::GetSize(const uint8_t* input, const uint8_t*) const {
  BitmapInfoHeader in;
  if (!ValidInput(input, in)) return 0;
  // Even the lossless encoders stay well below 8 bytes a pixel on noise.
  return uint32_t(uint64_t(in.Width) * uint64_t(in.Height) * 8 + 65536);
}

EncoderResult VideoEncoder::Begin(const uint8_t* input, const uint8_t* output) {
  if (impl_->Mode != EncoderMode::Compress) return EncoderResult::Unsupported;
  if (const EncoderResult result = Query(input, output); result != EncoderResult::Ok) return result;
  End();
  Impl& s = *impl_;
  const BitmapInfoHeader in = BitmapInfoHeader::Read(input);

  s.Width = in.Width;
  s.Height = in.Height;
  CodecContextPtr context;
  if (const EncoderResult opened = s.OpenContext(1, context); opened != EncoderResult::Ok) {
    s.Width = s.Height = 0;
    return opened;
  }

  s.Held = {};
  for (FramePtr& picture : s.Pictures) {
    picture.reset(av_frame_alloc());
    if (!picture) return EncoderResult::Memory;
    picture->format = context->pix_fmt;
    picture->width = in.Width;
    picture->height = in.Height;
    if (av_frame_get_buffer(picture.get(), 0) < 0) return EncoderResult::Memory;
  }
  s.Packet.reset(av_packet_alloc());
  if (!s.Packet) return EncoderResult::Memory;

  if (!s.Converter.Begin(
          in.Width, in.Height, in.BitCount, s.Entry->PixelFormat, s.Entry->FullRange,
          g_scalerOnly.load() ? FrameConverter::Engine::Scaler : FrameConverter::Engine::Fast))
    return EncoderResult::Memory;

  s.Context = std::move(context);
  s.InputBits = in.BitCount;
  s.NextPts = 0;
  s.LastNumber = -1;
  s.LastKey = 0;
  s.GapSinceKey = false;
  s.Started(1);
  return EncoderResult::Ok;
}

EncoderResult VideoEncoder::Compress(uint8_t* outputHeader, uint8_t* outputData, uint32_t capacity,
                                     const uint8_t* inputHeader, const uint8_t* inputBits,
                                     int32_t frameNumber, uint32_t& outFlags,
                                     const FrameChanges* changes) {
  outFlags = 0;
  if (const EncoderResult fault = impl_->InjectedFault.exchange(EncoderResult::Ok);
      fault != EncoderResult::Ok)
    return fault;
  Impl& s = *impl_;
  if (!s.Context) return EncoderResult::Error;
  if (!outputHeader || !outputData || !inputHeader || !inputBits) return EncoderResult::BadParam;
  const BitmapInfoHeader in = BitmapInfoHeader::Read(inputHeader);
  if (in.Width != s.Width || in.Height != s.Height || in.BitCount != s.InputBits)
    return EncoderResult::BadFormat;

  size_t held = 0;
  while (held < s.Pictures.size() && !av_frame_is_writable(s.Pictures[held].get())) ++held;
  if (held == s.Pictures.size()) {
    held = 0;
    s.Held[0] = 0;
    if (const int error = av_frame_make_writable(s.Pictures[0].get()); error < 0)
      return FromAvError(error);
  }
  AVFrame* picture = s.Pictures[held].get();

  const std::chrono::nanoseconds started = s.Now();
  // Frames left out still count towards the key-frame interval: the encoder counts only the
  // frames it sees, so once the interval has passed over a gap the next frame is made a key
  // frame here. Without gaps the encoder places them itself, as it always does.
  const int64_t number = std::max<int64_t>(frameNumber, 0);
  if (s.LastNumber >= 0 && number > s.LastNumber + 1) s.GapSinceKey = true;
  const bool keyDue =
      s.LastNumber >= 0 && (s.IntraOnly || number - s.LastKey >= s.Context->gop_size);
  bool forceKey = s.GapSinceKey && keyDue;
  const int wanted = s.WantedThreads();
  if (keyDue || wanted > s.Threads) {
    if (s.Measured >= kThreadSamples) {
      s.StartMeasuring();
    }
    if (wanted != s.Threads) {
      CodecContextPtr context;
      if (const EncoderResult opened = s.OpenContext(wanted, context); opened != EncoderResult::Ok)
        return opened;
      s.Context = std::move(context);
      s.Started(wanted);
      forceKey = true;
    }
  }
  // The picture may hold the conversion of the frame this one is told against.
  const bool sinceHeld = changes && changes->Since != 0 && s.Held[held] == changes->Since;
  s.Held[held] = 0;
  if (!s.Converter.Convert(inputBits, picture, sinceHeld ? &changes->Rects : nullptr))
    return EncoderResult::Internal;
  s.Held[held] = changes ? changes->Serial : 0;
  // The frame's time is its place in the recording, gaps included.
  picture->pts = std::max(s.NextPts, number);
  s.NextPts = picture->pts + 1;
  picture->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  picture->quality = s.Context->global_quality;

  if (const int error = avcodec_send_frame(s.Context.get(), picture); error < 0)
    return FromAvError(error);
  const int received = avcodec_receive_packet(s.Context.get(), s.Packet.get());
  // An encoder that held the frame back would shift every later frame: refuse it.
  if (received < 0)
    return received == AVERROR(EAGAIN) ? EncoderResult::Internal : FromAvError(received);
  PacketRef release(s.Packet.get());
  if (s.Packet->size < 0 || uint32_t(s.Packet->size) > capacity) return EncoderResult::BadSize;

  std::memcpy(outputData, s.Packet->data, size_t(s.Packet->size));
  s.Measure(s.Now() - started, (s.Packet->flags & AV_PKT_FLAG_KEY) && !s.IntraOnly);
  PutLE32(outputHeader + 20, uint32_t(s.Packet->size));
  if (s.Packet->flags & AV_PKT_FLAG_KEY) {
    outFlags = kKeyFrameFlag;
    s.LastKey = number;
    s.GapSinceKey = false;
  }
  s.LastNumber = number;
  return EncoderResult::Ok;
}

void VideoEncoder::End() noexcept {
  impl_->Reset();
}

}  // namespace qm
