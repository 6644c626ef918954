#include "common/Stamps.h"

#include <QUuid>

#include <cmath>

namespace qm {

QString NewGuidString() {
  const QUuid id = QUuid::createUuid();
  if (id.isNull()) return QString();
  return id.toString(QUuid::WithBraces).toUpper();
}

QString TimeStampDigits() {
  return TimeStampDigits(QDateTime::currentDateTime());
}

QString TimeStampDigits(const QDateTime& localTime) {
  static const QDate kEpoch(1899, 12, 30);
  const double days = double(kEpoch.daysTo(localTime.date())) +
                      double(localTime.time().msecsSinceStartOfDay()) / 86400000.0;
  return QString::number(std::llround(days * 1000000.0));
}

}  // namespace qm
