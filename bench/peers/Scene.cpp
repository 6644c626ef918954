// Moving content whose every picture is known: picture k (k counts thirtieths of a second
// since the start) is a function of k alone, and carries k in a strip of black and white
// blocks at its top left. With --render WIDTHxHEIGHT it draws, for each number read from
// standard input, that picture as 24-bit blue, green, red rows on standard output, so that a
// benchmark can judge a recording's frames against the pictures that were on the screen.
// Each picture repaints only what moved (the boxes where they were and are, the scrolling
// window, the number), as a desktop does.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "common/BenchBackground.h"

namespace {

constexpr int kRate = 30;
constexpr int kCodeBits = 20;
constexpr int kCodeBlock = 16;
constexpr int kBoxes = 4;

// A page of text that scrolls in a window of the scene, as a terminal or a browser does.
QPixmap TextPage(int width, int lines) {
  QPixmap page(width, lines * 16);
  page.fill(QColor(250, 250, 245));
  QPainter painter(&page);
  painter.setPen(QColor(30, 30, 30));
  for (int l = 0; l < lines; ++l)
    painter.drawText(6, l * 16 + 12,
                     QStringLiteral("%1: static void scroll(int line) { return line * %2; }")
                         .arg(l, 4)
                         .arg(l * 7 % 97));
  return page;
}

class Scene {
 public:
  explicit Scene(QSize size) : background_(size), page_(TextPage(size.width() / 3, 200)) {
    PaintBenchBackground(background_);
  }

  // What picture k draws over the background: the scrolling window's frame and the boxes.
  QRect Window() const {
    const int w = background_.width(), h = background_.height();
    return QRect(w / 2, h / 5, page_.width(), h / 2).adjusted(-1, -1, 0, 0);
  }
  QRect Box(int k, int i) const {
    const int w = background_.width(), h = background_.height();
    const double phase = double(k) / kRate * (0.4 + 0.15 * i) + i;
    const int x = int((w - 240) * (0.5 + 0.5 * std::sin(phase)));
    const int y = int((h - 160) * (0.5 + 0.5 * std::sin(phase * 1.3 + 0.7)));
    return QRect(x, y, 240, 160);
  }
  static QRect Code() { return QRect(0, 0, kCodeBits * kCodeBlock, kCodeBlock); }
  // What changes from picture before to picture k.
  QRegion Changed(int before, int k) const {
    QRegion region = QRegion(Window()) + Code();
    for (int i = 0; i < kBoxes; ++i) region += QRegion(Box(before, i)) + Box(k, i);
    return region;
  }

  void Paint(QPainter& painter, int k) const {
    painter.drawPixmap(0, 0, background_);
    // The scrolling window: half a line of text a picture.
    const QRect window = Window().adjusted(1, 1, 0, 0);
    const int scroll = (k * 8) % (page_.height() - window.height());
    painter.drawPixmap(window.topLeft(), page_, QRect(0, scroll, window.width(), window.height()));
    painter.setPen(QColor(20, 20, 20));
    painter.drawRect(window.adjusted(-1, -1, 0, 0));
    // Boxes that wander across the screen.
    for (int i = 0; i < kBoxes; ++i) {
      const int x = Box(k, i).x(), y = Box(k, i).y();
      painter.fillRect(x, y, 240, 160, QColor::fromHsv((k * 3 + i * 60) % 360, 200, 230));
      painter.fillRect(x + 20, y + 20, 200, 12, QColor(20, 20, 20));
      painter.fillRect(x + 20 + (k * 4 + i * 37) % 160, y + 60, 40, 40, Qt::white);
    }
    for (int b = 0; b < kCodeBits; ++b)
      painter.fillRect(b * kCodeBlock, 0, kCodeBlock, kCodeBlock,
                       (k >> b) & 1 ? Qt::white : Qt::black);
  }

 private:
  QPixmap background_;
  QPixmap page_;
};

class SceneWindow : public QWidget {
 public:
  explicit SceneWindow(const QRect& screen) : scene_(screen.size()) {
    setGeometry(screen);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
      const int k = int(clock_.elapsed() * kRate / 1000);
      if (k == k_) return;
      update(scene_.Changed(k_, k));
      k_ = k;
    });
    clock_.start();
    timer_.start(5);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.setClipRegion(event->region());
    scene_.Paint(painter, k_);
  }

 private:
  Scene scene_;
  QTimer timer_;
  QElapsedTimer clock_;
  int k_ = 0;
};

int Render(const std::string& size) {
  int w = 0, h = 0;
  if (std::sscanf(size.c_str(), "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) return 2;
  const Scene scene(QSize(w, h));
  QImage image(w, h, QImage::Format_RGB32);
  std::string rows(size_t(w) * 3, '\0');
  int k = 0;
  while (std::cin >> k) {
    QPainter painter(&image);
    scene.Paint(painter, k);
    painter.end();
    for (int y = 0; y < h; ++y) {
      const uchar* in = image.constScanLine(y);
      for (int x = 0; x < w; ++x) std::memcpy(&rows[size_t(x) * 3], in + x * 4, 3);
      std::fwrite(rows.data(), 1, rows.size(), stdout);
    }
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc == 3 && std::string(argv[1]) == "--render") return Render(argv[2]);
  SceneWindow window(QGuiApplication::primaryScreen()->geometry());
  window.show();
  return app.exec();
}
