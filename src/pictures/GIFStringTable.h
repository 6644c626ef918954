#pragma once

#include <array>
#include <cstdint>

namespace qm {

// The LZW string table: an open-addressed hash table of 16384 32-bit slots. A slot holds
// (key << 12) + code, where key = prefix code * 256 + pixel (20 bits); all-ones marks an
// empty slot. At most 4095 - 258 strings are held at a time, so the table stays under a
// quarter full and probes stay short. Fixed size: no allocation while coding.
//
// Coding is one long chain of dependent look-ups (each found code is the next prefix), so
// the slot of a string is computed in as few steps as possible from the prefix just found:
// the prefix XOR a scrambled pixel value. For one pixel, distinct prefixes get distinct
// slots; for one prefix, the pixels scatter over the table. Neighbouring codes of one pixel
// land in neighbouring slots, which is why the table is four times the largest count of
// strings: at half full, linear probing through those runs cost more than the larger table.
class GIFStringTable {
 public:
  static constexpr uint32_t kSlots = 16384;

  GIFStringTable() { Clear(); }

  // Empties every slot.
  void Clear() { slots_.fill(kEmpty); }

  static uint32_t Key(uint32_t prefix, uint32_t pixel) { return prefix << 8 | pixel; }

  // The code of the string (prefix, pixel), or -1 when it is not held; slot then receives
  // the empty slot where Insert must put it.
  int Find(uint32_t prefix, uint32_t pixel, uint32_t& slot) const {
    const uint32_t key = Key(prefix, pixel);
    uint32_t h = (prefix ^ Spread(pixel)) & kMask;
    for (;;) {
      const uint32_t value = slots_[h];
      if (value >> 12 == key) return int(value & 0xFFF);
      if (value >= kEmptyFloor) {
        slot = h;
        return -1;
      }
      h = (h + 1) & kMask;
    }
  }

  // Stores the string (prefix, pixel) with its code (below 4096) in the slot that Find
  // returned.
  void Insert(uint32_t slot, uint32_t prefix, uint32_t pixel, uint32_t code) {
    slots_[slot] = Key(prefix, pixel) << 12 | code;
  }

 private:
  static constexpr uint32_t kMask = kSlots - 1;
  static constexpr uint32_t kEmpty = 0xFFFFFFFF;
  // No key reaches 0xFFFFF (prefixes stay below 4095), so no held string looks empty.
  static constexpr uint32_t kEmptyFloor = 0xFFFFF000;

  // A pixel value scrambled over 14 bits. It does not depend on the previous look-up, so
  // it is ready before the prefix is.
  static constexpr uint32_t Spread(uint32_t pixel) { return (pixel * 0x9E3779B1u) >> 18; }

  std::array<uint32_t, kSlots> slots_;
};

}  // namespace qm
