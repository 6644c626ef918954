#pragma once

#include <array>
#include <cstdint>

namespace qm {

// The LZW string table: an open-addressed hash table of 8009 (a prime) 32-bit slots. A slot
// holds (key << 12) + code, where key = prefix code * 256 + pixel (20 bits); all-ones marks an
// empty slot. At most 4095 - 258 strings are held at a time, so the table stays at most half
// full and a probe never runs long. Fixed size: no allocation while coding.
class TGIFStringTable {
 public:
  static constexpr uint32_t kSlots = 8009;

  TGIFStringTable() { Clear(); }

  // Empties every slot.
  void Clear() { slots_.fill(kEmpty); }

  static uint32_t Key(uint32_t prefix, uint32_t pixel) { return prefix << 8 | pixel; }

  // The code of the string key, or -1 when it is not held; slot then receives the empty slot
  // where Insert must put it.
  int Find(uint32_t key, uint32_t& slot) const {
    uint32_t h = ((key >> 4) ^ key) % kSlots;
    // A fixed step for the whole probe; as kSlots is prime, any step visits every slot.
    const uint32_t step = h == 0 ? 1 : kSlots - h;
    for (;;) {
      const uint32_t value = slots_[h];
      if (value >= kEmptyFloor) {
        slot = h;
        return -1;
      }
      if (value >> 12 == key) return int(value & 0xFFF);
      h = h >= step ? h - step : h + kSlots - step;
    }
  }

  // Stores key with its code (below 4096) in the slot that Find returned.
  void Insert(uint32_t slot, uint32_t key, uint32_t code) { slots_[slot] = key << 12 | code; }

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFF;
  static constexpr uint32_t kEmptyFloor = 0xFFFFF000;

  std::array<uint32_t, kSlots> slots_;
};

}  // namespace qm
