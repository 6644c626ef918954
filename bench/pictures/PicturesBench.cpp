// Storing one 1920 x 1080 screen-like picture: our GIF writer beside libavcodec's GIF encoder
// on the same pixels (converted to its 8-bit rgb8 format beforehand, outside the timing), and
// our JPEG and BMP stores beside them.

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>

#include "common/DIBBitmap.h"
#include "pictures/GIFImage.h"
#include "pictures/PictureStore.h"

namespace {

using qm::DIBBitmap;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Rgb {
  uint8_t R, G, B;
};

void Fill(DIBBitmap& b, int x0, int y0, int x1, int y1, Rgb c) {
  for (int y = std::max(y0, 0); y < std::min(y1, b.Height()); ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = std::max(x0, 0); x < std::min(x1, b.Width()); ++x) {
      row[3 * x] = c.B;
      row[3 * x + 1] = c.G;
      row[3 * x + 2] = c.R;
    }
  }
}

// A desktop: a gradient wallpaper, a taskbar, overlapping windows with title bars, lines of
// text-like glyphs, a photo-like picture and a few icons. Always the same pixels.
const DIBBitmap& ScreenLikePicture() {
  static const DIBBitmap picture = [] {
    DIBBitmap b;
    b.SetFormat(kWidth, kHeight, qm::PixelFormat::Bits24);
    for (int y = 0; y < kHeight; ++y) {
      uint8_t* row = b.ScanLine(y);
      for (int x = 0; x < kWidth; ++x) {
        row[3 * x] = uint8_t(120 + y * 100 / kHeight);
        row[3 * x + 1] = uint8_t(60 + x * 60 / kWidth);
        row[3 * x + 2] = uint8_t(30 + (x + y) * 40 / (kWidth + kHeight));
      }
    }
    std::mt19937 random(2004);
    Fill(b, 0, kHeight - 40, kWidth, kHeight, {40, 44, 52});
    for (int i = 0; i < 12; ++i)
      Fill(b, 8 + i * 160, kHeight - 34, 150 + i * 160, kHeight - 6, {70, 76, 90});
    struct WindowItem {
      int X, Y, W, H;
    };
    for (const WindowItem w : {WindowItem{60, 40, 1100, 760}, WindowItem{700, 200, 1000, 700},
                               WindowItem{300, 500, 800, 480}}) {
      Fill(b, w.X - 1, w.Y - 1, w.X + w.W + 1, w.Y + w.H + 1, {90, 90, 90});
      Fill(b, w.X, w.Y, w.X + w.W, w.Y + 28, {48, 96, 190});
      Fill(b, w.X, w.Y + 28, w.X + w.W, w.Y + w.H, {250, 250, 250});
      Fill(b, w.X, w.Y + 28, w.X + w.W, w.Y + 52, {236, 236, 236});
      // Text: runs of 7 x 12 glyph cells with a few dark strokes each, words and lines.
      for (int line = w.Y + 64; line + 14 < w.Y + w.H - 10; line += 18) {
        int x = w.X + 12;
        const int end = w.X + w.W - 12 - int(random() % 300);
        while (x + 7 < end) {
          const int letters = 2 + int(random() % 8);
          for (int l = 0; l < letters && x + 7 < end; ++l, x += 7) {
            const uint32_t shape = uint32_t(random());
            for (int s = 0; s < 5; ++s) {
              if (!(shape >> s & 1)) continue;
              const bool vertical = shape >> (s + 8) & 1;
              const int sx = x + int(shape >> (s * 3 + 12) & 3) * 2;
              const int sy = line + int(shape >> (s * 2 + 20) & 3) * 3;
              if (vertical)
                Fill(b, sx, sy, sx + 1, sy + 9, {30, 30, 30});
              else
                Fill(b, sx, sy, sx + 5, sy + 1, {30, 30, 30});
            }
          }
          x += 7;
        }
      }
    }
    // A photo: smooth colour fields with grain.
    for (int y = 560; y < 940; ++y) {
      uint8_t* row = b.ScanLine(y);
      for (int x = 1180; x < 1680; ++x) {
        const int grain = int(random() % 24);
        row[3 * x] = uint8_t((x * 3 + grain) & 0xFF);
        row[3 * x + 1] = uint8_t((y * 2 + x + grain) & 0xFF);
        row[3 * x + 2] = uint8_t((200 - (y - 560) / 3 + grain) & 0xFF);
      }
    }
    for (int i = 0; i < 8; ++i) {
      const int x = 1750, y = 40 + i * 90;
      Fill(b, x, y, x + 48, y + 48, {uint8_t(random()), uint8_t(random()), uint8_t(random())});
      Fill(b, x + 12, y + 12, x + 36, y + 36, {250, 250, 250});
    }
    return b;
  }();
  return picture;
}

void StoreGifInMemory(benchmark::State& state) {
  const DIBBitmap& picture = ScreenLikePicture();
  QByteArray bytes;
  bytes.reserve(4 << 20);
  for (auto _ : state) {
    bytes.clear();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    qm::GIFImage gif;
    gif.Assign(picture);
    gif.SaveToStream(buffer);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(StoreGifInMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

struct CodecCloser {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameCloser {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsCloser {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

// The picture in libavcodec's rgb8 format (3-3-2 bits), which its GIF encoder takes with a
// fixed palette, as our cube reduction gives a fixed palette.
std::unique_ptr<AVFrame, FrameCloser> Rgb8Frame() {
  const DIBBitmap& picture = ScreenLikePicture();
  std::unique_ptr<AVFrame, FrameCloser> frame(av_frame_alloc());
  frame->format = AV_PIX_FMT_RGB8;
  frame->width = kWidth;
  frame->height = kHeight;
  if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::runtime_error("no frame buffer");
  std::unique_ptr<SwsContext, SwsCloser> sws(sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24,
                                                            kWidth, kHeight, AV_PIX_FMT_RGB8,
                                                            SWS_POINT, nullptr, nullptr, nullptr));
  const uint8_t* source[1] = {picture.ScanLine(0)};
  const int sourceStride[1] = {-int(picture.Stride())};
  sws_scale(sws.get(), source, sourceStride, 0, kHeight, frame->data, frame->linesize);
  return frame;
}

void StoreGifWithLibavcodec(benchmark::State& state) {
  const auto frame = Rgb8Frame();
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_GIF);
  if (!codec) {
    state.SkipWithError("libavcodec has no GIF encoder");
    return;
  }
  std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
  int64_t bytes = 0;
  for (auto _ : state) {
    // A fresh encoder each time: a second frame through the same one would be coded as the
    // difference to the first.
    state.PauseTiming();
    std::unique_ptr<AVCodecContext, CodecCloser> context(avcodec_alloc_context3(codec));
    context->width = kWidth;
    context->height = kHeight;
    context->pix_fmt = AV_PIX_FMT_RGB8;
    context->time_base = AVRational{1, 25};
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
      state.SkipWithError("cannot open the GIF encoder");
      return;
    }
    state.ResumeTiming();
    if (avcodec_send_frame(context.get(), frame.get()) < 0 ||
        avcodec_receive_packet(context.get(), packet.get()) < 0) {
      state.SkipWithError("the GIF encoder failed");
      return;
    }
    bytes = packet->size;
    av_packet_unref(packet.get());
  }
  state.counters["bytes"] = double(bytes);
}
BENCHMARK(StoreGifWithLibavcodec)->Unit(benchmark::kMillisecond)->UseRealTime();

void StorePictureFile(benchmark::State& state, qm::PictureType type) {
  const DIBBitmap& picture = ScreenLikePicture();
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("B00000001.") + qm::PictureExtension(type));
  for (auto _ : state) qm::StorePicture(picture, type, qm::kDefaultJpegPosition, path);
  state.counters["bytes"] = double(QFileInfo(path).size());
}
BENCHMARK_CAPTURE(StorePictureFile, gif, qm::PictureType::Gif)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(StorePictureFile, jpeg, qm::PictureType::Jpeg)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(StorePictureFile, bmp, qm::PictureType::Bmp)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
