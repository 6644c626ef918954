#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

class QIODevice;

namespace qm {

// A GIF colour map: up to 256 entries of red, green, blue.
class GIFColorMap {
 public:
  static constexpr int kMaxEntries = 256;

  void Clear() {
    entries_.fill(0);
    count_ = 0;
  }
  // Appends an entry; false when the map is full.
  bool Add(uint8_t red, uint8_t green, uint8_t blue);

  int Count() const { return count_; }
  bool Sorted() const { return sorted_; }
  // The smallest n >= 1 with 2^n >= Count(), or 0 for an empty map.
  int BitsPerPixel() const;
  // Entry i as red, green, blue (i below Count()).
  const uint8_t* Entry(int i) const { return &entries_[size_t(i) * 3]; }

  // Writes the entries followed by as many black entries as make 2^BitsPerPixel() entries.
  // Throws GIFError when the device refuses the bytes.
  void Write(QIODevice& out) const;

 private:
  std::array<uint8_t, kMaxEntries * 3> entries_{};
  int count_ = 0;
  bool sorted_ = false;
};

}  // namespace qm
