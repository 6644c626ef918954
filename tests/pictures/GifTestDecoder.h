#pragma once

// A small GIF reader of the tests' own: it splits a file into its parts and decodes the LZW
// stream the way a standard decoder does, keeping every code with the width it was read at,
// so that tests can see exactly what the writer put out.

#include <QByteArray>

#include <cstdint>
#include <string>
#include <vector>

namespace qm::test {

struct GifCode {
  uint32_t Code;
  int Width;
};

struct GifFile {
  std::string Error;  // empty when the file was read completely
  int ScreenWidth = 0, ScreenHeight = 0;
  uint8_t ScreenFlags = 0;
  int Left = 0, Top = 0, Width = 0, Height = 0;
  uint8_t FrameFlags = 0;
  std::vector<uint8_t> LocalTable;  // 3 bytes per entry
  int MinCodeSize = 0;
  std::vector<int> BlockSizes;  // data sub-block sizes, without the terminator
  std::vector<uint8_t> CodedBytes;
  std::vector<GifCode> Codes;
  std::vector<uint8_t> Pixels;
  size_t TrailerOffset = 0;
};

inline GifFile ReadGif(const QByteArray& data) {
  GifFile f;
  const auto* p = reinterpret_cast<const uint8_t*>(data.constData());
  const size_t n = size_t(data.size());
  size_t at = 0;
  auto need = [&](size_t count) { return at + count <= n; };
  auto word = [&](size_t offset) { return int(p[offset] | p[offset + 1] << 8); };
  if (!need(13) || std::string(data.constData(), 6) != "GIF87a") {
    f.Error = "no GIF87a header";
    return f;
  }
  f.ScreenWidth = word(6);
  f.ScreenHeight = word(8);
  f.ScreenFlags = p[10];
  at = 13;
  if (f.ScreenFlags & 0x80) at += size_t(3) << ((f.ScreenFlags & 7) + 1);
  if (!need(10) || p[at] != 0x2C) {
    f.Error = "no image separator";
    return f;
  }
  f.Left = word(at + 1);
  f.Top = word(at + 3);
  f.Width = word(at + 5);
  f.Height = word(at + 7);
  f.FrameFlags = p[at + 9];
  at += 10;
  if (f.FrameFlags & 0x80) {
    const size_t size = size_t(3) << ((f.FrameFlags & 7) + 1);
    if (!need(size)) {
      f.Error = "short colour table";
      return f;
    }
    f.LocalTable.assign(p + at, p + at + size);
    at += size;
  }
  if (!need(1)) {
    f.Error = "no code size";
    return f;
  }
  f.MinCodeSize = p[at++];
  for (;;) {
    if (!need(1)) {
      f.Error = "blocks run past the end";
      return f;
    }
    const int size = p[at++];
    if (size == 0) break;
    if (!need(size_t(size))) {
      f.Error = "short block";
      return f;
    }
    f.BlockSizes.push_back(size);
    f.CodedBytes.insert(f.CodedBytes.end(), p + at, p + at + size);
    at += size_t(size);
  }
  f.TrailerOffset = at;
  if (!need(1) || p[at] != 0x3B || at + 1 != n) {
    f.Error = "no trailer at the end";
    return f;
  }

  // LZW decoding with the usual decoder rules: the width grows when the next free code
  // reaches 2^width, up to 12 bits.
  const uint32_t clear = 1u << f.MinCodeSize, end = clear + 1;
  std::vector<uint32_t> prefix(4096);
  std::vector<uint8_t> suffix(4096), first(4096);
  std::vector<uint8_t> stack;
  for (uint32_t i = 0; i < clear; ++i) suffix[i] = first[i] = uint8_t(i);
  int width = f.MinCodeSize + 1;
  uint32_t next = clear + 2;
  int64_t previous = -1;
  uint64_t bitPos = 0;
  const uint64_t bitCount = uint64_t(f.CodedBytes.size()) * 8;
  auto emitString = [&](uint32_t code) {
    stack.clear();
    while (code >= clear) {
      stack.push_back(suffix[code]);
      code = prefix[code];
    }
    stack.push_back(uint8_t(code));
    f.Pixels.insert(f.Pixels.end(), stack.rbegin(), stack.rend());
  };
  for (;;) {
    if (bitPos + uint64_t(width) > bitCount) {
      f.Error = "code stream ends without the end code";
      return f;
    }
    uint32_t code = 0;
    for (int b = 0; b < width; ++b, ++bitPos)
      code |= uint32_t(f.CodedBytes[bitPos / 8] >> (bitPos % 8) & 1) << b;
    f.Codes.push_back({code, width});
    if (code == clear) {
      width = f.MinCodeSize + 1;
      next = clear + 2;
      previous = -1;
      continue;
    }
    if (code == end) break;
    if (previous < 0) {
      if (code >= clear) {
        f.Error = "first code after clear is not a pixel";
        return f;
      }
      emitString(code);
      previous = code;
      continue;
    }
    uint8_t head;
    if (code < next) {
      head = first[code];
      emitString(code);
    } else if (code == next) {
      head = first[previous];
      emitString(uint32_t(previous));
      f.Pixels.push_back(head);
    } else {
      f.Error = "code beyond the table";
      return f;
    }
    if (next < 4096) {
      prefix[next] = uint32_t(previous);
      suffix[next] = head;
      first[next] = first[previous];
      ++next;
      if (next == (1u << width) && width < 12) ++width;
    }
    previous = code;
  }
  if ((bitPos + 7) / 8 != f.CodedBytes.size()) f.Error = "bytes left after the end code";
  return f;
}

}  // namespace qm::test
