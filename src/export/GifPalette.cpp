#include "export/GifPalette.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace qm {

namespace {

constexpr int kSlotBits = 13;
constexpr size_t kSlots = size_t(1) << kSlotBits;
// Counting stops adding colours here: beyond a table's 256 the exact number does not matter.
constexpr int kMaxCounted = int(kSlots / 2);
constexpr uint32_t kEmpty = 0xFFFFFFFFu;
// A colour that covers at least one pixel in this many stays exact in a chosen table.
constexpr size_t kFrequentShare = 200;
// The error one pixel passes on is held to this, so an edge does not smear into its
// neighbours.
constexpr int kMaxError = 40;
// Rounds of k-means after median cut.
constexpr int kRefinements = 3;
// Neighbours closer than this (the sum of the three components' differences) form a
// gradient.
constexpr int kSmoothStep = 6;
// A gradient shows bands where its nearest colours lie this far (the sum of the three
// components' differences) from it; nearer, the plain colours look better than dots.
constexpr int kBanding = 12;

uint32_t Hash(uint32_t colour) {
  return (colour * 0x9E3779B1u) >> (32 - kSlotBits);
}

int Red(uint32_t c) {
  return int(c >> 16 & 0xFF);
}
int Green(uint32_t c) {
  return int(c >> 8 & 0xFF);
}
int Blue(uint32_t c) {
  return int(c & 0xFF);
}

// One cell of the 32 x 32 x 32 colour histogram that median cut divides.
struct Cell {
  uint32_t Key;  // 15 bits: red, green, blue, 5 each
  uint32_t Count;
  uint64_t Red, Green, Blue;
};

struct Box {
  size_t Begin, End;  // cells
  uint64_t Count;
  int Axis;      // the side of the largest spread: 0 red, 1 green, 2 blue
  double Error;  // the squared error of showing every pixel as the box's mean
};

int Component(uint32_t key, int axis) {
  return int(key >> (10 - 5 * axis) & 31);
}

Box Measure(const std::vector<Cell>& cells, size_t begin, size_t end) {
  Box box{begin, end, 0, 0, 0};
  std::array<double, 3> sum{}, squares{};
  for (size_t i = begin; i < end; ++i) {
    const Cell& cell = cells[i];
    box.Count += cell.Count;
    const std::array<uint64_t, 3> sums{cell.Red, cell.Green, cell.Blue};
    for (size_t a = 0; a < 3; ++a) {
      sum[a] += double(sums[a]);
      // The cell's pixels lie close to its mean: its spread counts as its mean's.
      const double mean = double(sums[a]) / cell.Count;
      squares[a] += mean * mean * cell.Count;
    }
  }
  // Green counts most to the eye, blue least.
  static constexpr std::array<double, 3> kWeight{3, 4, 2};
  double largest = -1;
  for (size_t a = 0; a < 3; ++a) {
    const double spread = (squares[a] - sum[a] * sum[a] / double(box.Count)) * kWeight[a];
    box.Error += spread;
    if (spread > largest) {
      largest = spread;
      box.Axis = int(a);
    }
  }
  return box;
}

int Distance(uint32_t a, uint32_t b) {
  return std::abs(Red(a) - Red(b)) + std::abs(Green(a) - Green(b)) + std::abs(Blue(a) - Blue(b));
}

// Whether the pixel at (x, y) continues its left and upper neighbours gently, as in a
// gradient, where error diffusion hides the steps between the table's colours. In texture
// and noise the steps do not show, and diffusion only adds noise of its own.
bool Smooth(const uint32_t* pixels, int width, int x, int y) {
  const uint32_t c = pixels[size_t(y) * size_t(width) + size_t(x)];
  const auto near = [c](uint32_t other) {
    return other == GifPalette::kUnchanged || Distance(c, other) <= kSmoothStep;
  };
  return (x == 0 || near(pixels[size_t(y) * size_t(width) + size_t(x - 1)])) &&
         (y == 0 || near(pixels[size_t(y - 1) * size_t(width) + size_t(x)]));
}

// Finds the entry of table nearest to a colour.
int Nearest(const std::vector<uint32_t>& table, int red, int green, int blue, int skip) {
  int best = 0;
  int bestDistance = 1 << 30;
  for (int i = 0; i < int(table.size()); ++i) {
    if (i == skip) continue;
    const int dr = Red(table[size_t(i)]) - red;
    const int dg = Green(table[size_t(i)]) - green;
    const int db = Blue(table[size_t(i)]) - blue;
    const int distance = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

}  // namespace

GifPalette::GifPalette() : slots_(kSlots, Slot{kEmpty, 0}) {}
GifPalette::~GifPalette() = default;

void GifPalette::Count(const uint32_t* pixels, size_t n) {
  uint32_t last = kEmpty;
  Slot* lastSlot = nullptr;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t colour = pixels[i];
    if (colour == kUnchanged) continue;
    if (colour == last) {
      ++lastSlot->Count;
      continue;
    }
    size_t h = Hash(colour);
    while (slots_[h].Colour != kEmpty && slots_[h].Colour != colour) h = (h + 1) & (kSlots - 1);
    if (slots_[h].Colour == kEmpty) {
      if (distinct_ >= kMaxCounted) {
        overflow_ = true;
        last = kEmpty;
        continue;
      }
      slots_[h].Colour = colour;
      ++distinct_;
    }
    ++slots_[h].Count;
    last = colour;
    lastSlot = &slots_[h];
  }
}

bool GifPalette::Within(const std::vector<uint32_t>& colours) const {
  if (overflow_ || distinct_ > int(colours.size())) return false;
  std::vector<uint32_t> sorted = colours;
  std::sort(sorted.begin(), sorted.end());
  for (const Slot& slot : slots_)
    if (slot.Colour != kEmpty && !std::binary_search(sorted.begin(), sorted.end(), slot.Colour))
      return false;
  return true;
}

std::vector<uint32_t> GifPalette::Choose(const uint32_t* pixels, size_t n, int limit) const {
  std::vector<Slot> counted;
  uint64_t total = 0;
  for (const Slot& slot : slots_)
    if (slot.Colour != kEmpty) {
      counted.push_back(slot);
      total += slot.Count;
    }
  std::sort(counted.begin(), counted.end(),
            [](const Slot& a, const Slot& b) { return a.Count > b.Count; });
  std::vector<uint32_t> table;
  if (!Exceeds(limit)) {
    for (const Slot& slot : counted) table.push_back(slot.Colour);
    return table;
  }
  // The colours of large areas stay exact (at most a quarter of the table).
  const uint64_t frequent = std::max<uint64_t>(total / kFrequentShare, 2);
  for (const Slot& slot : counted) {
    if (slot.Count < frequent || int(table.size()) >= limit / 4) break;
    table.push_back(slot.Colour);
  }
  std::vector<uint32_t> exact = table;
  std::sort(exact.begin(), exact.end());

  // Median cut over the histogram of the other pixels.
  std::vector<Cell> grid(32768, Cell{0, 0, 0, 0, 0});
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = pixels[i];
    if (c == kUnchanged || std::binary_search(exact.begin(), exact.end(), c)) continue;
    const uint32_t key =
        uint32_t(Red(c) >> 3) << 10 | uint32_t(Green(c) >> 3) << 5 | uint32_t(Blue(c) >> 3);
    Cell& cell = grid[key];
    cell.Key = key;
    ++cell.Count;
    cell.Red += uint64_t(Red(c));
    cell.Green += uint64_t(Green(c));
    cell.Blue += uint64_t(Blue(c));
  }
  std::vector<Cell> cells;
  for (const Cell& cell : grid)
    if (cell.Count) cells.push_back(cell);
  if (cells.empty()) return table;
  std::vector<Box> boxes{Measure(cells, 0, cells.size())};
  const size_t wanted = size_t(limit) - table.size();
  while (boxes.size() < wanted) {
    // The box whose mean shows its pixels worst is split at its median.
    size_t pick = boxes.size();
    double best = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      if (boxes[i].End - boxes[i].Begin > 1 && boxes[i].Error > best) {
        best = boxes[i].Error;
        pick = i;
      }
    }
    if (pick == boxes.size()) break;
    const Box box = boxes[pick];
    const int axis = box.Axis;
    std::sort(cells.begin() + ptrdiff_t(box.Begin), cells.begin() + ptrdiff_t(box.End),
              [axis](const Cell& a, const Cell& b) {
                return Component(a.Key, axis) < Component(b.Key, axis);
              });
    uint64_t half = 0;
    size_t split = box.Begin + 1;
    for (size_t i = box.Begin; i < box.End - 1; ++i) {
      half += cells[i].Count;
      split = i + 1;
      if (half * 2 >= box.Count) break;
    }
    boxes[pick] = Measure(cells, box.Begin, split);
    boxes.push_back(Measure(cells, split, box.End));
  }
  // Each box's mean, then a few rounds of moving each colour to the mean of the cells
  // nearest to it (k-means), which lowers the error median cut leaves.
  std::vector<std::array<double, 3>> centres;
  for (const Box& box : boxes) {
    std::array<double, 3> sum{};
    double count = 0;
    for (size_t i = box.Begin; i < box.End; ++i) {
      sum[0] += double(cells[i].Red);
      sum[1] += double(cells[i].Green);
      sum[2] += double(cells[i].Blue);
      count += cells[i].Count;
    }
    centres.push_back({sum[0] / count, sum[1] / count, sum[2] / count});
  }
  for (int round = 0; round < kRefinements; ++round) {
    std::vector<std::array<double, 4>> sums(centres.size(), {0, 0, 0, 0});
    for (const Cell& cell : cells) {
      const double weight = cell.Count;
      const std::array<double, 3> mean{double(cell.Red) / weight, double(cell.Green) / weight,
                                       double(cell.Blue) / weight};
      size_t best = 0;
      double bestDistance = 1e18;
      for (size_t k = 0; k < centres.size(); ++k) {
        const double dr = centres[k][0] - mean[0], dg = centres[k][1] - mean[1],
                     db = centres[k][2] - mean[2];
        const double distance = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (distance < bestDistance) {
          bestDistance = distance;
          best = k;
        }
      }
      sums[best][0] += double(cell.Red);
      sums[best][1] += double(cell.Green);
      sums[best][2] += double(cell.Blue);
      sums[best][3] += weight;
    }
    for (size_t k = 0; k < centres.size(); ++k)
      if (sums[k][3] > 0)
        centres[k] = {sums[k][0] / sums[k][3], sums[k][1] / sums[k][3], sums[k][2] / sums[k][3]};
  }
  for (const auto& centre : centres) {
    const uint32_t colour = uint32_t(std::lround(centre[0])) << 16 |
                            uint32_t(std::lround(centre[1])) << 8 |
                            uint32_t(std::lround(centre[2]));
    if (std::find(table.begin(), table.end(), colour) == table.end()) table.push_back(colour);
  }
  return table;
}

void GifPalette::Map(const uint32_t* pixels, int width, int height,
                     const std::vector<uint32_t>& table, int transparent, bool dither,
                     uint8_t* out) {
  // The table's colours by hash, for the exact ones.
  constexpr size_t kTableSlots = 1024;
  std::array<uint32_t, kTableSlots> colours;
  std::array<uint8_t, kTableSlots> entries{};
  colours.fill(kEmpty);
  for (size_t i = 0; i < table.size(); ++i) {
    if (int(i) == transparent) continue;
    size_t h = Hash(table[i]) & (kTableSlots - 1);
    while (colours[h] != kEmpty && colours[h] != table[i]) h = (h + 1) & (kTableSlots - 1);
    if (colours[h] == kEmpty) {
      colours[h] = table[i];
      entries[h] = uint8_t(i);
    }
  }
  const auto exact = [&](uint32_t colour) -> int {
    size_t h = Hash(colour) & (kTableSlots - 1);
    while (colours[h] != kEmpty) {
      if (colours[h] == colour) return entries[h];
      h = (h + 1) & (kTableSlots - 1);
    }
    return -1;
  };
  // The nearest entry of every colour met, by its upper six bits of each component.
  std::vector<int16_t> nearest;
  const auto closest = [&](int r, int g, int b) -> int {
    if (nearest.empty()) nearest.assign(size_t(1) << 18, -1);
    const size_t key = size_t(r >> 2) << 12 | size_t(g >> 2) << 6 | size_t(b >> 2);
    if (nearest[key] < 0)
      nearest[key] = int16_t(Nearest(table, (r & ~3) | 2, (g & ~3) | 2, (b & ~3) | 2, transparent));
    return nearest[key];
  };

  // Floyd-Steinberg: the error of this row and the next, three components per pixel, with a
  // margin of one pixel at either end.
  std::vector<int> errors(dither ? size_t(width + 2) * 6 : 0, 0);
  for (int y = 0; y < height; ++y) {
    int* here = dither ? &errors[size_t((y & 1) * (width + 2) * 3)] : nullptr;
    int* below = dither ? &errors[size_t(((y + 1) & 1) * (width + 2) * 3)] : nullptr;
    if (dither) std::fill(below, below + (width + 2) * 3, 0);
    for (int x = 0; x < width; ++x) {
      const uint32_t c = pixels[size_t(y) * size_t(width) + size_t(x)];
      uint8_t& index = out[size_t(y) * size_t(width) + size_t(x)];
      if (c == kUnchanged) {
        index = uint8_t(transparent);
        continue;
      }
      const int known = exact(c);
      if (known >= 0) {
        index = uint8_t(known);
        continue;
      }
      const int plain = closest(Red(c), Green(c), Blue(c));
      if (!dither || !Smooth(pixels, width, x, y) || Distance(c, table[size_t(plain)]) < kBanding) {
        index = uint8_t(plain);
        continue;
      }
      int* e = &here[(x + 1) * 3];
      const int r = std::clamp(Red(c) + e[0] / 16, 0, 255);
      const int g = std::clamp(Green(c) + e[1] / 16, 0, 255);
      const int b = std::clamp(Blue(c) + e[2] / 16, 0, 255);
      const int chosen = closest(r, g, b);
      index = uint8_t(chosen);
      const uint32_t shown = table[size_t(chosen)];
      const std::array<int, 3> error{std::clamp(r - Red(shown), -kMaxError, kMaxError),
                                     std::clamp(g - Green(shown), -kMaxError, kMaxError),
                                     std::clamp(b - Blue(shown), -kMaxError, kMaxError)};
      for (size_t k = 0; k < 3; ++k) {
        e[3 + k] += error[k] * 7;
        below[size_t(x) * 3 + k] += error[k] * 3;
        below[size_t(x + 1) * 3 + k] += error[k] * 5;
        below[size_t(x + 2) * 3 + k] += error[k];
      }
    }
  }
}

}  // namespace qm
