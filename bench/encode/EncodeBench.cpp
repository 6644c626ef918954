// The cost of one 1920 x 1080 screen-like frame through each listed compressor and our AVI
// writer (Compress + AddFrame), measured frame by frame beside libavcodec with libavformat's
// own AVI muxer encoding the same frames with the same settings; and the uncompressed path
// beside a plain sequential write of the same bytes.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/FourCC.h"
#include "platform/clock/TickClock.h"
#include "platform/codecs/FrameConverter.h"
#include "video/AviCompress.h"
#include "video/AviWriter.h"

namespace {

using Clock = std::chrono::steady_clock;

// The frame size: QM_BENCH_SIZE=WIDTHxHEIGHT, 1920x1080 by default.
struct FrameSize {
  int Width = 1920;
  int Height = 1080;
};
FrameSize SizeFromEnvironment() {
  FrameSize size;
  if (const char* text = std::getenv("QM_BENCH_SIZE")) {
    int w = 0, h = 0;
    if (std::sscanf(text, "%dx%d", &w, &h) == 2 && w > 0 && h > 0) size = {w, h};
  }
  return size;
}
const FrameSize kSize = SizeFromEnvironment();
const int kWidth = kSize.Width;
const int kHeight = kSize.Height;
const int kStride = (kWidth * 3 + 3) & ~3;
constexpr int kFrameRate = 15;
constexpr int kDistinctFrames = 30;
// Files are started anew after this many frames, outside the measured time, so that a long
// run stays far from the size limit and the disk does not fill.
constexpr int kFramesPerFile = 60;

// ---------------------------------------------------------------------------------------
// Screen-like frames: a desktop with three windows of text; the editor scrolls a line every
// third frame, a line is being typed, one window is dragged across and the mouse moves.

class FrameCanvas {
 public:
  explicit FrameCanvas(std::vector<uint8_t>& bits) : bits_(bits) {}

  void Fill(int x0, int y0, int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    const int x1 = std::min(kWidth, x0 + w), y1 = std::min(kHeight, y0 + h);
    x0 = std::max(0, x0);
    y0 = std::max(0, y0);
    for (int y = y0; y < y1; ++y) {
      uint8_t* row = Row(y);
      for (int x = x0; x < x1; ++x) {
        row[3 * x] = b;
        row[3 * x + 1] = g;
        row[3 * x + 2] = r;
      }
    }
  }

  // A 7 x 12 glyph cell; 5 x 8 of it inked from the glyph's own pattern.
  void Glyph(int x0, int y0, uint32_t glyph, uint8_t ink, int clipTop, int clipBottom) {
    for (int gy = 0; gy < 8; ++gy) {
      const int y = y0 + 2 + gy;
      if (y < clipTop || y >= clipBottom || y < 0 || y >= kHeight) continue;
      const uint32_t pattern = Hash(glyph * 16 + uint32_t(gy));
      uint8_t* row = Row(y);
      for (int gx = 0; gx < 5; ++gx) {
        const int x = x0 + 1 + gx;
        if (x < 0 || x >= kWidth || !((pattern >> gx) & 1)) continue;
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = ink;
      }
    }
  }

  // Lines of words starting at text line firstLine, clipped to the area.
  void Text(int x0, int y0, int w, int h, int firstLine, int lastLineChars = -1) {
    const int lines = h / 12;
    for (int l = 0; l <= lines; ++l) {
      const uint32_t line = uint32_t(firstLine + l);
      int chars = int(Hash(line * 7919) % uint32_t(w / 7));
      if (lastLineChars >= 0 && l == lines - 1) chars = lastLineChars;
      int c = 0;
      while (c < chars) {
        const int word = 2 + int(Hash(line * 131 + uint32_t(c)) % 8);
        for (int k = 0; k < word && c < chars; ++k, ++c) {
          Glyph(x0 + 4 + c * 7, y0 + l * 12, Hash(line * 977 + uint32_t(c)) % 80, 0x18, y0, y0 + h);
        }
        ++c;
      }
    }
  }

  void Window(int x, int y, int w, int h) {
    Fill(x - 1, y - 1, w + 2, h + 2, 0x40, 0x40, 0x40);
    Fill(x, y, w, 24, 0x90, 0x50, 0x20);
    Fill(x, y + 24, w, h - 24, 0xFC, 0xFC, 0xFC);
  }

  void Cursor(int x, int y) {
    for (int i = 0; i < 16; ++i) Fill(x, y + i, i / 2 + 1, 1, 0, 0, 0);
  }

 private:
  static uint32_t Hash(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v;
  }
  uint8_t* Row(int y) { return bits_.data() + size_t(kHeight - 1 - y) * kStride; }

  std::vector<uint8_t>& bits_;
};

// Bottom-up 24-bit rows, as the frame bitmap holds them.
std::vector<uint8_t> RenderFrame(int t) {
  std::vector<uint8_t> bits(size_t(kStride) * kHeight);
  FrameCanvas canvas(bits);
  for (int y = 0; y < kHeight; ++y) {
    canvas.Fill(0, y, kWidth, 1, uint8_t(0x60 + y / 12), uint8_t(0x30 + y / 20), 0x20);
  }
  canvas.Fill(0, kHeight - 40, kWidth, 40, 0x30, 0x30, 0x30);  // task bar
  canvas.Window(60, 40, 1100, 900);                            // editor, scrolling
  canvas.Text(60, 64, 1100, 876, t / 3, -1);
  canvas.Window(1200, 60, 660, 500);  // chat, being typed into
  canvas.Text(1200, 84, 660, 476, 5000, t * 2);
  const int dx = 700 + t * 6, dy = 600 + t * 2;  // a window being dragged
  canvas.Window(dx, dy, 520, 320);
  canvas.Text(dx, dy + 24, 520, 296, 9000, -1);
  canvas.Cursor(400 + t * 23, 300 + t * 11);
  return bits;
}

const std::vector<std::vector<uint8_t>>& Frames() {
  static const std::vector<std::vector<uint8_t>> frames = [] {
    std::vector<std::vector<uint8_t>> all;
    for (int t = 0; t < kDistinctFrames; ++t) all.push_back(RenderFrame(t));
    return all;
  }();
  return frames;
}

// The same frames with 32-bit pixels (blue, green, red, unused).
const std::vector<std::vector<uint8_t>>& WideFrames() {
  static const std::vector<std::vector<uint8_t>> frames = [] {
    std::vector<std::vector<uint8_t>> all;
    for (const std::vector<uint8_t>& narrow : Frames()) {
      std::vector<uint8_t> wide(size_t(kWidth) * 4 * kHeight);
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
          std::memcpy(&wide[(size_t(y) * kWidth + x) * 4], &narrow[size_t(y) * kStride + x * 3], 3);
      all.push_back(std::move(wide));
    }
    return all;
  }();
  return frames;
}

const std::vector<std::vector<uint8_t>>& FramesOf(int bits) {
  return bits == 32 ? WideFrames() : Frames();
}

// ---------------------------------------------------------------------------------------
// The same encoder settings as the compressor catalogue, for libavcodec used directly.

struct BaselineSetting {
  const char* Encoder;
  AVPixelFormat PixelFormat;
  int Quantiser;         // 0: none
  int RateFactor;        // -1: none
  int CompressionLevel;  // -1: the encoder's default
  const char* Options;
  bool FullRange;
  int KeyIntMinBias;  // added to the key-frame interval to give keyint_min
  bool SliceThreads;  // slices of a frame coded in parallel
  int Iterations;     // frames measured per repetition
};

// Mirrors the compressor catalogue (src/platform/codecs); the run prints both byte counts
// side by side, so settings that drift apart show as sizes that differ.
const std::map<uint32_t, BaselineSetting>& BaselineSettings() {
  static const std::map<uint32_t, BaselineSetting> settings = {
      {qm::MakeFourCC("MP42"),
       {"msmpeg4v2", AV_PIX_FMT_YUV420P, 4, -1, -1, "", false, 0, false, 60}},
      {qm::MakeFourCC("DIV3"), {"msmpeg4", AV_PIX_FMT_YUV420P, 4, -1, -1, "", false, 0, false, 60}},
      {qm::MakeFourCC("XVID"), {"mpeg4", AV_PIX_FMT_YUV420P, 4, -1, -1, "", false, 0, false, 60}},
      {qm::MakeFourCC("H264"),
       {"libx264", AV_PIX_FMT_YUV420P, 0, 23, -1, "preset=veryfast:tune=zerolatency", false, 0,
        true, 60}},
      {qm::MakeFourCC("MJPG"), {"mjpeg", AV_PIX_FMT_YUV420P, 4, -1, -1, "", true, 0, false, 60}},
      {qm::MakeFourCC("FFV1"), {"ffv1", AV_PIX_FMT_BGR0, 0, -1, -1, "", false, 0, false, 30}},
      {qm::MakeFourCC("ZMBV"), {"zmbv", AV_PIX_FMT_BGR0, 0, -1, 1, "", false, 0, false, 10}},
      {qm::MakeFourCC("cvid"),
       {"cinepak", AV_PIX_FMT_RGB24, 0, -1, -1,
        "max_extra_cb_iterations=0:skip_empty_cb=1:max_strips=1", false, 0, false, 4}},
      {qm::MakeFourCC("CRAM"),
       {"msvideo1", AV_PIX_FMT_RGB555LE, 0, -1, -1, "", false, -1, false, 20}},
      {qm::MakeFourCC("MPNG"),
       {"png", AV_PIX_FMT_RGB24, 0, -1, 1, "pred=none", false, 0, false, 30}},
  };
  return settings;
}

// libavcodec encoding into libavformat's AVI muxer: what we measure ourselves against.
class FfmpegAviWriter {
 public:
  ~FfmpegAviWriter() { Close(); }

  // Frames of inputBits (24 or 32) per pixel, as the frame bitmap holds them.
  bool Open(const std::string& path, const BaselineSetting& s, int inputBits) {
    Close();
    stride_ = inputBits == 32 ? kWidth * 4 : kStride;
    const AVCodec* codec = avcodec_find_encoder_by_name(s.Encoder);
    if (!codec || avformat_alloc_output_context2(&format_, nullptr, "avi", path.c_str()) < 0)
      return false;
    context_ = avcodec_alloc_context3(codec);
    context_->width = kWidth;
    context_->height = kHeight;
    context_->pix_fmt = s.PixelFormat;
    context_->time_base = AVRational{1, kFrameRate};
    context_->framerate = AVRational{kFrameRate, 1};
    context_->gop_size = kFrameRate;
    context_->keyint_min = std::max(0, kFrameRate + s.KeyIntMinBias);
    context_->max_b_frames = 0;
    context_->thread_count = s.SliceThreads ? 0 : 1;
    if (s.SliceThreads) context_->thread_type = FF_THREAD_SLICE;
    if (s.Quantiser > 0) {
      context_->flags |= AV_CODEC_FLAG_QSCALE;
      context_->global_quality = FF_QP2LAMBDA * s.Quantiser;
    }
    if (s.RateFactor >= 0) av_opt_set_double(context_->priv_data, "crf", s.RateFactor, 0);
    if (s.CompressionLevel >= 0) context_->compression_level = s.CompressionLevel;
    if (s.FullRange) context_->color_range = AVCOL_RANGE_JPEG;
    if (*s.Options) av_opt_set_from_string(context_->priv_data, s.Options, nullptr, "=", ":");
    if (avcodec_open2(context_, codec, nullptr) < 0) return false;

    stream_ = avformat_new_stream(format_, nullptr);
    avcodec_parameters_from_context(stream_->codecpar, context_);
    stream_->time_base = context_->time_base;
    if (avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(format_, nullptr) < 0) return false;
    headerWritten_ = true;

    // Encoders may keep a reference to the pictures they were given; with a few pictures to
    // take turns, one is always free again without allocating or copying.
    for (AVFrame*& frame : frames_) {
      frame = av_frame_alloc();
      frame->format = s.PixelFormat;
      frame->width = kWidth;
      frame->height = kHeight;
      if (av_frame_get_buffer(frame, 0) < 0) return false;
    }
    packet_ = av_packet_alloc();
    const bool toRgb = s.PixelFormat == AV_PIX_FMT_BGR0 || s.PixelFormat == AV_PIX_FMT_RGB24 ||
                       s.PixelFormat == AV_PIX_FMT_RGB555LE;
    const int flags =
        toRgb ? SWS_POINT : (s.FullRange ? SWS_BICUBIC | SWS_ACCURATE_RND : SWS_BICUBIC);
    scaler_ = sws_getContext(kWidth, kHeight, inputBits == 32 ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_BGR24,
                             kWidth, kHeight, s.PixelFormat, flags, nullptr, nullptr, nullptr);
    if (s.FullRange) {
      const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
      sws_setColorspaceDetails(scaler_, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
    }
    pts_ = 0;
    return scaler_ && packet_;
  }

  // One bottom-up frame.
  bool Encode(const uint8_t* bits) {
    AVFrame* picture = frames_[0];
    for (AVFrame* candidate : frames_) {
      if (av_frame_is_writable(candidate)) {
        picture = candidate;
        break;
      }
    }
    if (av_frame_make_writable(picture) < 0) return false;
    const uint8_t* source[1] = {bits + size_t(kHeight - 1) * size_t(stride_)};
    const int sourceStride[1] = {-stride_};
    sws_scale(scaler_, source, sourceStride, 0, kHeight, picture->data, picture->linesize);
    picture->pts = pts_++;
    picture->quality = context_->global_quality;  // what a fixed quantiser takes per frame
    if (avcodec_send_frame(context_, picture) < 0) return false;
    return Drain();
  }

  void Close() {
    if (context_ && headerWritten_) {
      avcodec_send_frame(context_, nullptr);
      Drain();
      av_write_trailer(format_);
    }
    headerWritten_ = false;
    if (format_ && format_->pb) avio_closep(&format_->pb);
    avformat_free_context(format_);
    format_ = nullptr;
    avcodec_free_context(&context_);
    for (AVFrame*& frame : frames_) av_frame_free(&frame);
    av_packet_free(&packet_);
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    stream_ = nullptr;
  }

  int64_t Bytes() const { return bytes_; }

 private:
  bool Drain() {
    for (;;) {
      const int received = avcodec_receive_packet(context_, packet_);
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
      if (received < 0) return false;
      bytes_ += packet_->size;
      av_packet_rescale_ts(packet_, context_->time_base, stream_->time_base);
      packet_->stream_index = stream_->index;
      if (av_write_frame(format_, packet_) < 0) return false;
    }
  }

  int stride_ = kStride;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* context_ = nullptr;
  AVStream* stream_ = nullptr;
  std::array<AVFrame*, 3> frames_{};
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int64_t pts_ = 0;
  int64_t bytes_ = 0;
  bool headerWritten_ = false;
};

// The writer's pause after a large frame is a deliberate yield to the desktop, not work;
// it is left out of the measurement (it adds 2 ms to every frame over 50000 bytes).
class NoPauseClock : public qm::TickClock {
 public:
  uint32_t Now() override { return qm::TickClock::System().Now(); }
  void Sleep(uint32_t) override {}
};

qm::AviSettings Settings() {
  qm::AviSettings settings;
  settings.FrameRate = kFrameRate;
  settings.Width = kWidth;
  settings.Height = kHeight;
  settings.FrameCountHint = 1000000;
  settings.WideFrames = true;  // as the recorder asks
  return settings;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Times ours and theirs on the same input; who goes first alternates with n, so that neither
// always finds the input in the cache. Returns the two durations in seconds.
template <class Ours, class Theirs>
std::pair<double, double> TimeBoth(int64_t n, Ours ours, Theirs theirs) {
  Clock::duration mine{}, other{};
  const auto timeOurs = [&] {
    const auto t0 = Clock::now();
    ours();
    mine = Clock::now() - t0;
  };
  const auto timeTheirs = [&] {
    const auto t0 = Clock::now();
    theirs();
    other = Clock::now() - t0;
  };
  if (n % 2 == 0) {
    timeOurs();
    timeTheirs();
  } else {
    timeTheirs();
    timeOurs();
  }
  return {Seconds(mine), Seconds(other)};
}

void BM_Encode(benchmark::State& state, uint32_t code) {
  const BaselineSetting& setting = BaselineSettings().at(code);
  QTemporaryDir dir;
  qm::AviCompress compressor;
  if (!compressor.Select(code) || compressor.CurrentCode() != code) {
    state.SkipWithError("compressor not available");
    return;
  }
  NoPauseClock clock;
  qm::AviWriter writer(dir.filePath(QStringLiteral("Index.~tmp")), &clock);
  FfmpegAviWriter baseline;
  const QString oursPath = dir.filePath(QStringLiteral("ours.avi"));
  const std::string theirsPath = dir.filePath(QStringLiteral("ffmpeg.avi")).toStdString();
  auto open = [&] {
    return writer.Open(oursPath, Settings(), compressor) &&
           baseline.Open(theirsPath, setting,
                         qm::DIBBitmap::BitsPerPixel(compressor.Bitmap().Format()));
  };
  if (!open()) {
    state.SkipWithError("cannot open the writers");
    return;
  }

  qm::DIBBitmap& bitmap = compressor.Bitmap();
  const auto& frames = FramesOf(qm::DIBBitmap::BitsPerPixel(bitmap.Format()));
  qm::CompressedFrame frame;
  double ours = 0, theirs = 0;
  int64_t oursBytes = 0, n = 0, inFile = 0;
  for (auto _ : state) {
    std::memcpy(bitmap.Bits(), frames[size_t(n % kDistinctFrames)].data(), bitmap.ImageSize());
    // Both read the same bitmap.
    const auto [mine, other] = TimeBoth(
        n,
        [&] {
          if (!writer.AddFrame(frame)) state.SkipWithError("AddFrame failed");
          oursBytes += frame.Size;
          ++frame.FrameNumber;
        },
        [&] {
          if (!baseline.Encode(bitmap.Bits())) state.SkipWithError("libavcodec failed");
        });
    state.SetIterationTime(mine);
    ours += mine;
    theirs += other;
    ++n;
    if (++inFile == kFramesPerFile) {
      writer.Close(0);
      baseline.Close();
      frame.FrameNumber = 0;
      inFile = 0;
      if (!open()) state.SkipWithError("cannot reopen the writers");
    }
  }
  writer.Close(0);
  baseline.Close();
  state.counters["ours_ms"] = ours / double(n) * 1e3;
  state.counters["ffmpeg_ms"] = theirs / double(n) * 1e3;
  state.counters["ratio"] = ours / theirs;
  state.counters["ours_bytes"] = double(oursBytes) / double(n);
  state.counters["ffmpeg_bytes"] = double(baseline.Bytes()) / double(n);
}

// The colour conversion alone, as the compressors do it (libyuv where it has the path) beside
// swscale set up as before, on the same frames into the same kind of picture.
void BM_Convert(benchmark::State& state, int inputBits, AVPixelFormat format, bool fullRange) {
  qm::FrameConverter fast, scaler;
  if (!fast.Begin(kWidth, kHeight, inputBits, format, fullRange) ||
      !scaler.Begin(kWidth, kHeight, inputBits, format, fullRange,
                    qm::FrameConverter::Engine::Scaler)) {
    state.SkipWithError("no conversion");
    return;
  }
  std::array<AVFrame*, 2> pictures{};
  for (AVFrame*& picture : pictures) {
    picture = av_frame_alloc();
    picture->format = format;
    picture->width = kWidth;
    picture->height = kHeight;
    if (av_frame_get_buffer(picture, 0) < 0) state.SkipWithError("no picture");
  }
  const auto& frames = FramesOf(inputBits);
  double ours = 0, theirs = 0;
  int64_t n = 0;
  for (auto _ : state) {
    const uint8_t* bits = frames[size_t(n % kDistinctFrames)].data();
    const auto [mine, other] = TimeBoth(
        n,
        [&] {
          if (!fast.Convert(bits, pictures[0])) state.SkipWithError("libyuv failed");
        },
        [&] {
          if (!scaler.Convert(bits, pictures[1])) state.SkipWithError("swscale failed");
        });
    state.SetIterationTime(mine);
    ours += mine;
    theirs += other;
    ++n;
  }
  for (AVFrame*& picture : pictures) av_frame_free(&picture);
  state.counters["ours_ms"] = ours / double(n) * 1e3;
  state.counters["swscale_ms"] = theirs / double(n) * 1e3;
  state.counters["ratio"] = ours / theirs;
}

void BM_Uncompressed(benchmark::State& state) {
  QTemporaryDir dir;
  qm::AviCompress compressor;
  compressor.Select(0);
  NoPauseClock clock;
  qm::AviWriter writer(dir.filePath(QStringLiteral("Index.~tmp")), &clock);
  const QString oursPath = dir.filePath(QStringLiteral("ours.avi"));
  const QByteArray plainPath = QFile::encodeName(dir.filePath(QStringLiteral("plain.raw")));
  int fd = -1;
  auto open = [&] {
    if (fd >= 0) ::close(fd);
    fd = ::open(plainPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return writer.Open(oursPath, Settings(), compressor) && fd >= 0;
  };
  if (!open()) {
    state.SkipWithError("cannot open the files");
    return;
  }
  qm::DIBBitmap& bitmap = compressor.Bitmap();
  const auto& frames = FramesOf(qm::DIBBitmap::BitsPerPixel(bitmap.Format()));
  qm::CompressedFrame frame;
  double ours = 0, plain = 0;
  int64_t bytes = 0, n = 0, inFile = 0;
  for (auto _ : state) {
    std::memcpy(bitmap.Bits(), frames[size_t(n % kDistinctFrames)].data(), bitmap.ImageSize());
    Clock::duration mine{}, other{};
    auto runOurs = [&] {
      const auto t0 = Clock::now();
      if (!writer.AddFrame(frame)) state.SkipWithError("AddFrame failed");
      mine = Clock::now() - t0;
    };
    auto runPlain = [&] {
      const auto t0 = Clock::now();
      const ssize_t w = ::write(fd, bitmap.Bits(), bitmap.ImageSize());
      other = Clock::now() - t0;
      if (w != ssize_t(bitmap.ImageSize())) state.SkipWithError("write failed");
    };
    if (n % 2 == 0) {
      runOurs();
      runPlain();
    } else {
      runPlain();
      runOurs();
    }
    state.SetIterationTime(Seconds(mine));
    ours += Seconds(mine);
    plain += Seconds(other);
    bytes += bitmap.ImageSize();
    ++n;
    if (++inFile == kFramesPerFile) {
      writer.Close(0);
      inFile = 0;
      if (!open()) state.SkipWithError("cannot reopen the files");
    }
  }
  writer.Close(0);
  if (fd >= 0) ::close(fd);
  state.counters["ours_MBps"] = double(bytes) / ours / 1e6;
  state.counters["plain_MBps"] = double(bytes) / plain / 1e6;
  state.counters["ratio"] = ours / plain;
}

}  // namespace

int main(int argc, char** argv) {
  // The writer lets the user interface handle its messages after each frame, as it does in
  // the application.
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  {
    qm::AviCompress catalogue;
    for (const qm::CompressorEntry& entry : catalogue.Entries()) {
      const auto setting = BaselineSettings().find(entry.Handler);
      if (setting == BaselineSettings().end()) continue;
      const std::string name = "Encode/" + qm::FourCCText(entry.Handler).toStdString();
      benchmark::RegisterBenchmark(name.c_str(), BM_Encode, entry.Handler)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond)
          ->Iterations(setting->second.Iterations);
    }
  }
  const struct {
    const char* Name;
    AVPixelFormat Format;
    bool FullRange;
  } conversions[] = {{"yuv420p", AV_PIX_FMT_YUV420P, false},
                     {"yuvj420p", AV_PIX_FMT_YUV420P, true},
                     {"bgr0", AV_PIX_FMT_BGR0, false},
                     {"rgb24", AV_PIX_FMT_RGB24, false},
                     {"rgb555", AV_PIX_FMT_RGB555LE, false}};
  for (const int bits : {24, 32}) {
    for (const auto& c : conversions) {
      const std::string name = "Convert/" + std::to_string(bits) + "/" + c.Name;
      benchmark::RegisterBenchmark(name.c_str(), BM_Convert, bits, c.Format, c.FullRange)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond)
          ->Iterations(300);
    }
  }
  benchmark::RegisterBenchmark("Uncompressed", BM_Uncompressed)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(120);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
