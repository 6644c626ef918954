#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qm {

// The colours of one animation frame's changed pixels and the table that codes them. Colours
// are 0xRRGGBB; kUnchanged marks a pixel the frame leaves as it was (coded transparent).
//
// A frame of screen content (text, buttons, a clock) has few colours: they all go into the
// table exactly, and no pixel changes. A photo or a gradient has more than a table holds:
// the colours that cover large areas stay exact and median cut chooses the rest, and only
// the pixels that are not exact get error diffusion, so flat areas stay flat and compress.
class GifPalette {
 public:
  static constexpr uint32_t kUnchanged = 0xFFFFFFFFu;

  GifPalette();
  ~GifPalette();
  GifPalette(const GifPalette&) = delete;
  GifPalette& operator=(const GifPalette&) = delete;

  // Counts the colours of n pixels.
  void Count(const uint32_t* pixels, size_t n);
  // The number of different colours counted; above limit it may stop counting.
  int Distinct() const { return distinct_; }
  bool Exceeds(int limit) const { return overflow_ || distinct_ > limit; }
  // Whether every counted colour is one of colours.
  bool Within(const std::vector<uint32_t>& colours) const;

  // Up to limit colours for the counted pixels: all of them, the most frequent first, when
  // they fit; else the frequent ones exactly and median cut for the rest.
  std::vector<uint32_t> Choose(const uint32_t* pixels, size_t n, int limit) const;

  // Codes width x height pixels by table: an exact colour by its entry, any other by the
  // nearest entry (with error diffusion when dither), kUnchanged by transparent.
  static void Map(const uint32_t* pixels, int width, int height, const std::vector<uint32_t>& table,
                  int transparent, bool dither, uint8_t* out);

 private:
  struct Slot {
    uint32_t Colour;
    uint32_t Count;
  };
  std::vector<Slot> slots_;
  int distinct_ = 0;
  bool overflow_ = false;
};

}  // namespace qm
