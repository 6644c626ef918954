#include "export/GifAnimation.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "common/LittleEndian.h"
#include "export/GifPalette.h"
#include "pictures/GIFColorMap.h"
#include "pictures/GIFError.h"
#include "pictures/GIFLZWEncoder.h"

namespace qm {

namespace {

void WriteBytes(QIODevice& out, const void* data, qint64 size) {
  if (out.write(static_cast<const char*>(data), size) != size)
    throw GIFError("Can not write GIF data: " + out.errorString().toStdString());
}

GIFColorMap MapOf(const std::vector<uint32_t>& table, bool transparent) {
  GIFColorMap map;
  for (const uint32_t c : table) map.Add(uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c));
  if (transparent) map.Add(0, 0, 0);
  return map;
}

// Frames are never shorter than this (hundredths of a second): browsers show shorter
// delays as a tenth of a second.
constexpr int kShortestDelay = 2;
// The most colours of a frame of screen content after the first.
constexpr int kChangeColours = 64;
// More colours than this in a change make it a picture or video.
constexpr int kScreenColours = 1024;

}  // namespace

GifAnimation::GifAnimation(QIODevice& out, int width, int height)
    : out_(out), width_(width), height_(height) {}

void GifAnimation::Begin(const std::vector<uint32_t>& first) {
  global_ = first;
  const GIFColorMap map = MapOf(global_, true);
  const int bits = map.BitsPerPixel();
  std::array<uint8_t, 13> header{'G', 'I', 'F', '8', '9', 'a'};
  PutLE16(&header[6], width_);
  PutLE16(&header[8], height_);
  header[10] = uint8_t(0x80 | (bits - 1) << 4 | (bits - 1));
  WriteBytes(out_, header.data(), qint64(header.size()));
  map.Write(out_);
  // Loops forever.
  static constexpr uint8_t kLoop[] = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                                      'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
  WriteBytes(out_, kLoop, sizeof kLoop);
}

GifAnimation::Coded GifAnimation::CodeWith(int left, int top, int width, int height,
                                           const std::vector<uint32_t>& pixels,
                                           const std::vector<uint32_t>& table, bool local,
                                           bool unchanged, bool dither) {
  Coded coded;
  coded.Left = left;
  coded.Top = top;
  coded.Width = width;
  coded.Height = height;
  coded.Table = table;
  coded.Transparent = unchanged ? int(table.size()) : -1;
  coded.Indices.resize(pixels.size());
  GifPalette::Map(pixels.data(), width, height, table, coded.Transparent, dither,
                  coded.Indices.data());
  if (unchanged) {
    // An unchanged pixel takes the colour of the one before it when that is what it shows
    // anyway: the run goes on instead of breaking for a transparent one.
    const auto transparent = uint8_t(coded.Transparent);
    for (int y = 0; y < height; ++y) {
      uint8_t* row = &coded.Indices[size_t(y) * size_t(width)];
      const uint32_t* shown = &shown_[size_t(top + y) * size_t(width_) + size_t(left)];
      for (int x = 1; x < width; ++x)
        if (row[x] == transparent && row[x - 1] != transparent && table[row[x - 1]] == shown[x])
          row[x] = row[x - 1];
    }
  }

  const GIFColorMap map = MapOf(table, unchanged);
  const int bits = local ? map.BitsPerPixel() : MapOf(global_, true).BitsPerPixel();
  const int count = local ? map.Count() : int(global_.size()) + 1;
  QBuffer buffer(&coded.Bytes);
  buffer.open(QIODevice::WriteOnly);
  std::array<uint8_t, 10> descriptor{0x2C};
  PutLE16(&descriptor[1], left);
  PutLE16(&descriptor[3], top);
  PutLE16(&descriptor[5], width);
  PutLE16(&descriptor[7], height);
  descriptor[9] = local ? uint8_t(0x80 | (bits - 1)) : 0;
  WriteBytes(buffer, descriptor.data(), qint64(descriptor.size()));
  if (local) map.Write(buffer);
  GIFLZWEncoder encoder(buffer);
  encoder.Encode(coded.Indices.data(), coded.Indices.size(), uint32_t(count), std::max(bits, 2));
  return coded;
}

void GifAnimation::Show(const Coded& coded) {
  for (int y = 0; y < coded.Height; ++y) {
    const uint8_t* row = &coded.Indices[size_t(y) * size_t(coded.Width)];
    uint32_t* shown = &shown_[size_t(coded.Top + y) * size_t(width_) + size_t(coded.Left)];
    for (int x = 0; x < coded.Width; ++x)
      if (row[x] != coded.Transparent) shown[x] = coded.Table[row[x]];
  }
}

void GifAnimation::WritePending(double until) {
  if (!havePending_) return;
  const int64_t end = std::llround(until * 100);
  const int64_t delay = std::clamp<int64_t>(end - written_, kShortestDelay, 65535);
  written_ += delay;
  std::array<uint8_t, 8> control{0x21, 0xF9, 0x04};
  // Disposal 1: the frame stays on the screen under the next one.
  control[3] = uint8_t(1 << 2 | (pending_.Transparent >= 0 ? 1 : 0));
  PutLE16(&control[4], int(delay));
  control[6] = uint8_t(std::max(pending_.Transparent, 0));
  control[7] = 0;
  WriteBytes(out_, control.data(), qint64(control.size()));
  WriteBytes(out_, pending_.Bytes.constData(), pending_.Bytes.size());
  havePending_ = false;
}

void GifAnimation::Add(const RgbPicture& picture) {
  const size_t count = size_t(width_) * size_t(height_);
  std::vector<uint32_t> now(count);
  const uint8_t* rgb = picture.Pixels.data();
  for (size_t i = 0; i < count; ++i, rgb += 3)
    now[i] = uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];

  if (previous_.empty()) {
    GifPalette palette;
    palette.Count(now.data(), now.size());
    // One entry stays free for the transparent pixels of later frames.
    Begin(palette.Choose(now.data(), now.size(), GIFColorMap::kMaxEntries - 1));
    shown_.assign(count, 0);
    pending_ = CodeWith(0, 0, width_, height_, now, global_, false, false,
                        palette.Exceeds(int(global_.size())));
  } else {
    // The rectangle that changed.
    int top = 0, bottom = height_ - 1;
    const size_t rowBytes = size_t(width_) * sizeof(uint32_t);
    const auto sameRow = [&](int y) {
      return std::memcmp(&now[size_t(y) * size_t(width_)], &previous_[size_t(y) * size_t(width_)],
                         rowBytes) == 0;
    };
    while (top < height_ && sameRow(top)) ++top;
    if (top == height_) return;  // the same picture: the frame before shows longer
    while (sameRow(bottom)) --bottom;
    int left = width_, right = -1;
    for (int y = top; y <= bottom; ++y) {
      const uint32_t* a = &now[size_t(y) * size_t(width_)];
      const uint32_t* b = &previous_[size_t(y) * size_t(width_)];
      int x = 0;
      while (x < left && a[x] == b[x]) ++x;
      left = std::min(left, x);
      x = width_ - 1;
      while (x > right && a[x] == b[x]) --x;
      right = std::max(right, x);
    }
    const int width = right - left + 1;
    const int height = bottom - top + 1;
    std::vector<uint32_t> pixels(size_t(width) * size_t(height));
    bool unchanged = false;
    for (int y = 0; y < height; ++y) {
      const size_t at = size_t(top + y) * size_t(width_) + size_t(left);
      for (int x = 0; x < width; ++x) {
        const bool same = now[at + size_t(x)] == previous_[at + size_t(x)];
        unchanged |= same;
        pixels[size_t(y) * size_t(width) + size_t(x)] =
            same ? GifPalette::kUnchanged : now[at + size_t(x)];
      }
    }
    WritePending(picture.Time);

    GifPalette palette;
    palette.Count(pixels.data(), pixels.size());
    // Changes of a few hundred colours are screen content (text, pointers, windows; a lossy
    // recording adds its noise to their edges): beyond the most telling colours they are edge
    // shades, which median cut replaces within a few levels, and a smaller table codes them in
    // fewer bytes. Pictures and video keep a full table.
    const int full = GIFColorMap::kMaxEntries - (unchanged ? 1 : 0);
    const int room = palette.Exceeds(kScreenColours) ? full : kChangeColours - (unchanged ? 1 : 0);
    Coded best;
    if (palette.Within(global_))
      best = CodeWith(left, top, width, height, pixels, global_, false, unchanged, false);
    const bool exact = !palette.Exceeds(room);
    if (best.Bytes.isEmpty() || exact) {
      Coded own =
          CodeWith(left, top, width, height, pixels,
                   palette.Choose(pixels.data(), pixels.size(), room), true, unchanged, !exact);
      if (best.Bytes.isEmpty() || own.Bytes.size() < best.Bytes.size()) best = std::move(own);
    }
    pending_ = std::move(best);
  }
  Show(pending_);
  pendingTime_ = picture.Time;
  havePending_ = true;
  previous_ = std::move(now);
}

void GifAnimation::Finish(double end) {
  WritePending(std::max(end, pendingTime_));
  const uint8_t trailer = 0x3B;
  WriteBytes(out_, &trailer, 1);
}

}  // namespace qm
