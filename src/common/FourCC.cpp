#include "common/FourCC.h"

namespace qm {

QString FourCCText(uint32_t code) {
  QString text;
  for (int i = 0; i < 4; ++i) text += QChar(char((code >> (8 * i)) & 0xFF));
  return text;
}

}  // namespace qm
