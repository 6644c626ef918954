#pragma once

#include <QColor>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QString>

// The busy background every benchmark screen stands on: a gradient under lines of text, as
// hard to compress as a real desktop.
inline void PaintBenchBackground(QPixmap& background) {
  QPainter painter(&background);
  const int w = background.width(), h = background.height();
  QLinearGradient gradient(0, 0, w, h);
  gradient.setColorAt(0, QColor(40, 60, 110));
  gradient.setColorAt(1, QColor(200, 210, 190));
  painter.fillRect(background.rect(), gradient);
  painter.setPen(QColor(20, 20, 20));
  for (int y = 12; y < h; y += 16)
    painter.drawText(
        4, y,
        QStringLiteral("%1  the quick brown fox jumps over the lazy dog  %2  ").arg(y).repeated(6));
}
