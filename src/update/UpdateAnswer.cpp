#include "update/UpdateAnswer.h"

#include <QUrl>

namespace qm {

namespace {

QStringList SplitLines(const QString& text) {
  QStringList lines;
  qsizetype start = 0;
  const qsizetype size = text.size();
  for (qsizetype i = 0; i < size; ++i) {
    const QChar c = text[i];
    if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) continue;
    lines << text.mid(start, i - start);
    if (c == QLatin1Char('\r') && i + 1 < size && text[i + 1] == QLatin1Char('\n')) ++i;
    start = i + 1;
  }
  if (start < size) lines << text.mid(start);
  return lines;
}

std::optional<QString> WebAddress(const QString& text) {
  if (!IsWebAddress(text)) return std::nullopt;
  return text;
}

}  // namespace

bool IsWebAddress(const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() <= 0x20 || c.unicode() == 0x7F) return false;
  }
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) return false;
  const QString scheme = url.scheme().toLower();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

std::optional<UpdateAnswer> ParseUpdateAnswer(const QByteArray& body, const QString& product) {
  if (body.size() > kMaxAnswerBytes) return std::nullopt;
  const QStringList lines = SplitLines(QString::fromUtf8(body));
  if (lines.size() < 4 || lines[0].compare(product, Qt::CaseInsensitive) != 0) {
    return std::nullopt;
  }
  UpdateAnswer answer;
  answer.version = lines[1];
  answer.website = WebAddress(lines[2]);
  answer.downloadUrl = WebAddress(lines[3]);
  answer.notes = lines.mid(4);
  return answer;
}

QString UpdateMemoText(const UpdateAnswer& answer) {
  QStringList lines{QStringLiteral("Version ") + answer.version, QString()};
  lines << answer.notes;
  while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines.join(QLatin1Char('\n'));
}

}  // namespace qm
