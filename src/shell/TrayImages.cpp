#include "shell/TrayImages.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace qm {

namespace {

constexpr int kSize = 16;

// The outline that keeps every image readable on a light panel; the fills keep it readable
// on a dark one.
const QColor kOutline(0x20, 0x18, 0x14);

QList<QImage> Draw(qreal ratio, int frames, const std::function<void(QPainter&, int)>& frame) {
  QList<QImage> images;
  images.reserve(frames);
  const int side = int(std::ceil(kSize * std::max<qreal>(ratio, 1)));
  for (int i = 0; i < frames; ++i) {
    // The painter draws in the 16 x 16 of the design; the ratio gives it the pixels.
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(qreal(side) / kSize);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    frame(painter, i);
    painter.end();
    images.append(image);
  }
  return images;
}

}  // namespace

qreal TrayImages::ScreenRatio() {
  return qApp ? std::ceil(qApp->devicePixelRatio()) : 1;
}

QList<QImage> TrayImages::Still(qreal ratio) {
  return Draw(ratio, 8, [](QPainter& p, int frame) {
    // The vane: a leaf along the diagonal from the top right corner down to the nib.
    QPainterPath vane;
    vane.moveTo(14.5, 1.5);
    vane.cubicTo(9.0, 2.0, 4.5, 6.0, 4.5, 11.5);
    vane.cubicTo(9.5, 10.5, 13.5, 7.0, 14.5, 1.5);
    p.setPen(QPen(kOutline, 1.0));
    p.setBrush(QColor(0xF6, 0xEE, 0xD6));
    p.drawPath(vane);
    p.setPen(QPen(kOutline, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(13.5, 2.5), QPointF(2.0, 14.0));
    // The drop of ink at the nib: it gathers for four frames, falls for three, then is gone.
    const QColor ink(0x2A, 0x5C, 0xD8);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    if (frame < 4) {
      p.drawEllipse(QPointF(2.0, 14.0), 0.5 + 0.4 * frame, 0.5 + 0.4 * frame);
    } else if (frame < 7) {
      const double fall = frame - 3;
      p.drawEllipse(QPointF(2.0, 14.0 + fall * 0.6), 1.4 - 0.3 * fall, 1.4 - 0.3 * fall);
    }
  });
}

QList<QImage> TrayImages::Recording(qreal ratio) {
  return Draw(ratio, 8, [](QPainter& p, int frame) {
    // A ring leaves the dot and fades as it grows.
    const double ring = 4.6 + 0.45 * frame;
    QColor ringColour(0xFF, 0x3B, 0x30);
    ringColour.setAlphaF(float(1.0 - frame / 8.0));
    p.setPen(QPen(ringColour, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(8.0, 8.0), ring, ring);
    p.setPen(QPen(kOutline, 1.0));
    p.setBrush(QColor(0xFF, 0x3B, 0x30));
    p.drawEllipse(QPointF(8.0, 8.0), 4.0, 4.0);
  });
}

QList<QImage> TrayImages::Paused(qreal ratio) {
  return Draw(ratio, 2, [](QPainter& p, int frame) {
    p.setPen(QPen(kOutline, 1.0));
    p.setBrush(frame == 0 ? QColor(0xF2, 0xA6, 0x1C) : QColor(0xFA, 0xDA, 0x8C));
    // Edges on pixel centres keep the gap between the bars clear.
    p.drawRoundedRect(QRectF(3.5, 2.5, 3.0, 11.0), 1.0, 1.0);
    p.drawRoundedRect(QRectF(9.5, 2.5, 3.0, 11.0), 1.0, 1.0);
  });
}

QList<QImage> TrayImages::Photo(qreal ratio) {
  return Draw(ratio, 9, [](QPainter& p, int frame) {
    // The blades turn as the hexagonal opening closes (frames 0 to 4) and opens again.
    constexpr double kOpening[9] = {5.5, 4.5, 3.5, 2.5, 1.5, 2.5, 3.5, 4.5, 5.5};
    const QPointF centre(8.0, 8.0);
    const double turn = frame * 7.0 * std::numbers::pi / 180.0;
    p.setPen(QPen(QColor(0xD8, 0xD8, 0xD8), 1.0));
    p.setBrush(QColor(0x3A, 0x3A, 0x40));
    p.drawEllipse(centre, 7.0, 7.0);
    QPolygonF opening;
    for (int i = 0; i < 6; ++i) {
      const double a = turn + i * std::numbers::pi / 3.0;
      opening << centre + kOpening[frame] * QPointF(std::cos(a), std::sin(a));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9C, 0xD2, 0xFF));
    p.drawPolygon(opening);
    // Each blade's edge runs from a corner of the opening to the rim.
    QPainterPath body;
    body.addEllipse(centre, 7.0, 7.0);
    p.setClipPath(body);
    p.setPen(QPen(QColor(0xA0, 0xA0, 0xA8), 0.8));
    for (int i = 0; i < 6; ++i) {
      const QPointF corner = opening[i];
      const QPointF along = opening[(i + 1) % 6] - corner;
      const double length = std::hypot(along.x(), along.y());
      if (length > 0) p.drawLine(corner, corner - along * (7.0 / length));
    }
    p.setClipping(false);
    p.setPen(QPen(kOutline, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, 7.5, 7.5);
  });
}

}  // namespace qm
