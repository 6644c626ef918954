#pragma once

#include <QString>

namespace qm {

// The first width characters of text, padded with spaces to exactly width characters,
// on the left when padLeft is set, else on the right.
inline QString FixedWidth(const QString& text, int width, bool padLeft) {
  const QString head = text.left(width);
  return padLeft ? head.rightJustified(width, QLatin1Char(' '))
                 : head.leftJustified(width, QLatin1Char(' '));
}

}  // namespace qm
