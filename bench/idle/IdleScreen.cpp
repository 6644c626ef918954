// Covers the screen with a detailed picture and keeps it still, types into one 600x40 line
// five times a second, or moves the whole picture every 1/30 s: what a recorder sees while
// a speaker talks over a slide, while someone types, and in a film.
// Usage: bench_idle_screen still|typing|moving
#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include "common/BenchBackground.h"

#include <cstdio>
#include <cstring>

namespace {

enum class Mode { Still, Typing, Moving };

class IdleScreen : public QWidget {
 public:
  IdleScreen(const QRect& screen, Mode mode) : mode_(mode), background_(screen.size()) {
    setGeometry(screen);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    PaintBenchBackground(background_);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
    if (mode_ == Mode::Typing) timer_.start(200);
    if (mode_ == Mode::Moving) timer_.start(33);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    if (mode_ == Mode::Moving) {
      // The picture slides to the left and comes in again from the right.
      const int w = background_.width();
      const int shift = (step_ * 7) % w;
      painter.drawPixmap(0, 0, background_, shift, 0, w - shift, -1);
      painter.drawPixmap(w - shift, 0, background_, 0, 0, shift, -1);
      return;
    }
    painter.drawPixmap(event->rect(), background_, event->rect());
    if (mode_ == Mode::Typing) {
      painter.fillRect(kLine, Qt::white);
      painter.setPen(Qt::black);
      static const char kText[] = "Most of a screen recording is a screen that does not change ";
      const int typed = step_ % int(sizeof kText);
      painter.drawText(kLine.adjusted(6, 0, 0, 0), Qt::AlignVCenter,
                       QString::fromLatin1(kText, typed) + QLatin1Char('_'));
    }
  }

 private:
  static constexpr QRect kLine{200, 300, 600, 40};

  void Step() {
    ++step_;
    if (mode_ == Mode::Typing)
      update(kLine);
    else
      update();
  }

  Mode mode_;
  QPixmap background_;
  QTimer timer_;
  int step_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const char* name = argc > 1 ? argv[1] : "";
  Mode mode = Mode::Still;
  if (std::strcmp(name, "typing") == 0)
    mode = Mode::Typing;
  else if (std::strcmp(name, "moving") == 0)
    mode = Mode::Moving;
  else if (std::strcmp(name, "still") != 0) {
    std::fprintf(stderr, "usage: bench_idle_screen still|typing|moving\n");
    return 2;
  }
  IdleScreen screen(QGuiApplication::primaryScreen()->geometry(), mode);
  screen.show();
  return app.exec();
}
