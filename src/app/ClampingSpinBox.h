#pragma once

#include <QSpinBox>

namespace qm {

// A spin edit that takes typed numbers too, brought within its limits when the edit ends.
class ClampingSpinBox : public QSpinBox {
 public:
  // A new one named name (its object name), from min to max, showing value.
  static ClampingSpinBox* Make(const char* name, int min, int max, int value);

  QValidator::State validate(QString& text, int& pos) const override;
  void fixup(QString& input) const override;
};

}  // namespace qm
