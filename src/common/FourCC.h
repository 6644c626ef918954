#pragma once

#include <QString>

#include <cstdint>

namespace qm {

// a + b*2^8 + c*2^16 + d*2^24: "MP42" gives 0x3234504D.
constexpr uint32_t MakeFourCC(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t(a) | uint32_t(b) << 8 | uint32_t(c) << 16 | uint32_t(d) << 24;
}
constexpr uint32_t MakeFourCC(const char (&code)[5]) {
  return MakeFourCC(uint8_t(code[0]), uint8_t(code[1]), uint8_t(code[2]), uint8_t(code[3]));
}
// The four characters of a code, lowest byte first.
QString FourCCText(uint32_t code);

}  // namespace qm
