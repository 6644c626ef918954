#include "common/ErrorReport.h"

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

}  // namespace qm
