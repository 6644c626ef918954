// Fills the screen with a still, detailed picture and moves a few objects across it at 30 Hz,
// so that a recorder sees what a desktop recording sees: most of the screen unchanged, some
// of it moving. Only the changed rectangles are repainted, so the X server's own share of
// the work stays small and the same for every recorder measured beside it.
#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include "common/BenchBackground.h"

#include <array>
#include <cmath>

namespace {

class Animator : public QWidget {
 public:
  explicit Animator(const QRect& screen) : background_(screen.size()) {
    setGeometry(screen);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    PaintBenchBackground(background_);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
    clock_.start();
    timer_.start(33);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.drawPixmap(event->rect(), background_, event->rect());
    for (size_t i = 0; i < objects_.size(); ++i) {
      const QRect r = objects_[i];
      painter.fillRect(r, QColor::fromHsv(int((frame_ * 3 + i * 60) % 360), 200, 230));
      painter.setPen(Qt::black);
      painter.drawText(r, Qt::AlignCenter, QString::number(frame_));
    }
  }

 private:
  void Step() {
    ++frame_;
    const double t = double(clock_.elapsed()) / 1000.0;
    for (size_t i = 0; i < objects_.size(); ++i) {
      update(objects_[i]);
      const double phase = t * (0.4 + 0.15 * double(i)) + double(i);
      const int x = int((width() - 240) * (0.5 + 0.5 * std::sin(phase)));
      const int y = int((height() - 160) * (0.5 + 0.5 * std::sin(phase * 1.3 + 0.7)));
      objects_[i] = QRect(x, y, 240, 160);
      update(objects_[i]);
    }
  }

  QPixmap background_;
  std::array<QRect, 3> objects_{};
  QTimer timer_;
  QElapsedTimer clock_;
  unsigned frame_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Animator animator(QGuiApplication::primaryScreen()->geometry());
  animator.show();
  return app.exec();
}
