#pragma once

#include <cstdint>

namespace qm {

// Every number in the files this system writes (AVI, BMP, GIF, the bitmap and wave format
// headers) is little-endian, whatever the processor.

inline void PutLE16(uint8_t* at, uint32_t value) {
  at[0] = uint8_t(value);
  at[1] = uint8_t(value >> 8);
}

inline void PutLE32(uint8_t* at, uint32_t value) {
  at[0] = uint8_t(value);
  at[1] = uint8_t(value >> 8);
  at[2] = uint8_t(value >> 16);
  at[3] = uint8_t(value >> 24);
}

inline void PutLE64(uint8_t* at, uint64_t value) {
  PutLE32(at, uint32_t(value));
  PutLE32(at + 4, uint32_t(value >> 32));
}

inline uint16_t GetLE16(const uint8_t* at) {
  return uint16_t(at[0] | at[1] << 8);
}

inline uint32_t GetLE32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

inline uint64_t GetLE64(const uint8_t* at) {
  return uint64_t(GetLE32(at)) | uint64_t(GetLE32(at + 4)) << 32;
}

}  // namespace qm
