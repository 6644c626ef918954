#include "common/CommonParams.h"

#include <QUuid>

#include <cmath>

#include "common/SilentAbort.h"
#include "common/UserMessages.h"

namespace qm {

const char kSupportEmail[] = QM_SUPPORT_EMAIL;

void ShowErrorReport(const QString& message) {
  Messages().ShowErrorReport(message);
  throw SilentAbort();
}

QString ErrorReportMailUrl(const QString& message) {
  const QString lines[] = {
      QStringLiteral("Dear author,"), QString(), QString(),
      QStringLiteral("An error has been encountered with the message:") + message};
  QString body = QStringLiteral("&body=");
  for (const QString& line : lines) body += line + QStringLiteral("%0A");
  return QStringLiteral("mailto:") + QLatin1String(kSupportEmail) +
         QStringLiteral("?subject=Error report") + body;
}

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

QString FourCCText(uint32_t code) {
  QString text;
  for (int i = 0; i < 4; ++i) text += QChar(char((code >> (8 * i)) & 0xFF));
  return text;
}

QString FixedWidth(const QString& text, int width, bool padLeft) {
  const QString head = text.left(width);
  return padLeft ? head.rightJustified(width, QLatin1Char(' '))
                 : head.leftJustified(width, QLatin1Char(' '));
}

}  // namespace qm
