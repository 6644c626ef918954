#include "app/ClampingSpinBox.h"

#include <QRegularExpression>

#include <algorithm>

namespace qm {

ClampingSpinBox* ClampingSpinBox::Make(const char* name, int min, int max, int value) {
  auto* spin = new ClampingSpinBox;
  spin->setObjectName(QLatin1String(name));
  spin->setRange(min, max);
  spin->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  spin->setValue(value);
  return spin;
}

QValidator::State ClampingSpinBox::validate(QString& text, int& pos) const {
  const QValidator::State state = QSpinBox::validate(text, pos);
  if (state != QValidator::Invalid) return state;
  static const QRegularExpression digits(QStringLiteral("^\\d{1,9}$"));
  return digits.match(text).hasMatch() ? QValidator::Intermediate : QValidator::Invalid;
}

void ClampingSpinBox::fixup(QString& input) const {
  bool ok = false;
  const qlonglong typed = input.trimmed().toLongLong(&ok);
  if (!ok) return QSpinBox::fixup(input);
  input = QString::number(std::clamp<qlonglong>(typed, minimum(), maximum()));
}

}  // namespace qm
