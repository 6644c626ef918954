// Grab + RefreshBits of the whole 1920 x 1080 screen into a 24-bit frame bitmap, the work
// of one video frame before compression. bench/grab/run adds the X server's processor time
// and compares with ffmpeg's x11grab on the same display.
//
//   bench_grab [--frames=N] [--pace=FPS] [benchmark flags]
//                      measure N frames per benchmark (default 600), back to back or, with
//                      --pace, one every 1/FPS seconds like a recording (processor time only
//                      counts the work, not the waits)
//   bench_grab --hold-pattern                   show a varied picture until killed
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "capture/Grabber.h"
#include "common/DIBBitmap.h"

// After the toolkit's headers, whose names the X headers' macros would replace.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

int gFrames = 600;
int gPace = 0;

void GrabScreen(benchmark::State& state, bool showCursor) {
  qm::Grabber lib;
  qm::DIBBitmap bitmap;
  bitmap.SetFormat(lib.ScreenRect().Width(), lib.ScreenRect().Height(), qm::PixelFormat::Bits24);
  qm::Rect captured;
  const auto period = std::chrono::microseconds(gPace > 0 ? 1000000 / gPace : 0);
  auto due = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (gPace > 0) {
      due += period;
      std::this_thread::sleep_until(due);
    }
    if (!lib.Grab(bitmap, qm::Point{0, 0}, captured, false, showCursor)) {
      state.SkipWithError("grab failed");
      break;
    }
    bitmap.RefreshBits();
    benchmark::DoNotOptimize(bitmap.Bits());
  }
  state.counters["width"] = bitmap.Width();
  state.counters["height"] = bitmap.Height();
}

void GrabWithCursor(benchmark::State& state) {
  GrabScreen(state, true);
}
void GrabWithoutCursor(benchmark::State& state) {
  GrabScreen(state, false);
}

// Fills the screen with a picture of gradients and noise, so no copy is of a blank screen,
// and keeps it there until the process is killed.
int HoldPattern() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "bench_grab: no X display\n");
    return 1;
  }
  const int screen = DefaultScreen(d);
  const unsigned w = unsigned(DisplayWidth(d, screen)), h = unsigned(DisplayHeight(d, screen));
  XImage* image = XCreateImage(d, DefaultVisual(d, screen), unsigned(DefaultDepth(d, screen)),
                               ZPixmap, 0, nullptr, w, h, 32, 0);
  image->data = static_cast<char*>(std::malloc(size_t(image->bytes_per_line) * h));
  uint32_t seed = 12345;
  for (unsigned y = 0; y < h; ++y) {
    for (unsigned x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const unsigned long noise = (seed >> 24) & 0x1F;
      XPutPixel(image, int(x), int(y),
                ((x * 255 / w) << 16 | (y * 255 / h) << 8 | ((x ^ y) & 0xFF)) ^ noise);
    }
  }
  const Window root = DefaultRootWindow(d);
  const Pixmap pixmap = XCreatePixmap(d, root, w, h, unsigned(DefaultDepth(d, screen)));
  const GC gc = XCreateGC(d, pixmap, 0, nullptr);
  XPutImage(d, pixmap, gc, image, 0, 0, 0, 0, w, h);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixmap = pixmap;
  const Window window =
      XCreateWindow(d, root, 0, 0, w, h, 0, DefaultDepth(d, screen), InputOutput,
                    DefaultVisual(d, screen), CWOverrideRedirect | CWBackPixmap, &attributes);
  XMapRaised(d, window);
  XWarpPointer(d, None, root, 0, 0, 0, 0, int(w / 2), int(h / 2));
  XSync(d, False);
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) pause();
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--hold-pattern") == 0) return HoldPattern();
    const bool frames = std::strncmp(argv[i], "--frames=", 9) == 0;
    const bool pace = std::strncmp(argv[i], "--pace=", 7) == 0;
    if (frames || pace) {
      (frames ? gFrames : gPace) = std::atoi(argv[i] + (frames ? 9 : 7));
      for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      --i;
    }
  }
  // A fixed count, so that the run script can divide the X server's processor time by it.
  benchmark::RegisterBenchmark("GrabWithCursor", GrabWithCursor)
      ->Iterations(gFrames)
      ->MeasureProcessCPUTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("GrabWithoutCursor", GrabWithoutCursor)
      ->Iterations(gFrames)
      ->MeasureProcessCPUTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
