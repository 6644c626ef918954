#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <vector>

#include "pictures/GIFError.h"
#include "pictures/GIFImage.h"
#include "pictures/GIFLZWEncoder.h"
#include "pictures/GifTestDecoder.h"
#include "pictures/PictureSamples.h"
#include "support/FullDevice.h"
#include "support/ToolRun.h"

namespace qm {
namespace {

using test::GifFile;
using test::ReadGif;
using test::Rgb;

QByteArray GifBytes(const DIBBitmap& bitmap) {
  GIFImage gif;
  gif.Assign(bitmap);
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  gif.SaveToStream(buffer);
  return buffer.data();
}

// The bytes of the code stream alone (size byte, sub-blocks, terminator) for raw indices.
QByteArray CodedBytes(const std::vector<uint8_t>& pixels, uint32_t colours = 256) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  GIFLZWEncoder encoder(buffer);
  encoder.Encode(pixels.data(), pixels.size(), colours, 8);
  return buffer.data();
}

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const GIFError& e) {
    return e.what();
  }
  return "(no GIFError)";
}

TEST(GIFImage, OneBlackPixelIsTheSmallestFile) {
  const QByteArray data = GifBytes(test::MakeBitmap(1, 1, [](int, int) { return Rgb{0, 0, 0}; }));
  ASSERT_EQ(data.size(), 13 + 10 + 768 + 1 + 1 + 4 + 1 + 1);
  const auto* b = reinterpret_cast<const uint8_t*>(data.constData());
  const std::vector<uint8_t> head(b, b + 23);
  const std::vector<uint8_t> expectedHead{'G', 'I',  'F', '8', '7', 'a', 1, 0, 1, 0, 0x77, 0,
                                          0,   0x2C, 0,   0,   0,   0,   1, 0, 1, 0, 0x87};
  EXPECT_EQ(head, expectedHead);
  // Colour table entry 0 is black, entry 1 is the cube's (0, 0, 51).
  EXPECT_EQ(std::vector<uint8_t>(b + 23, b + 29), (std::vector<uint8_t>{0, 0, 0, 0, 0, 51}));
  // Minimum code size 8; one block of 4 bytes holding clear (256), 0 and end (257) at 9 bits.
  const std::vector<uint8_t> tail(b + 791, b + data.size());
  EXPECT_EQ(tail, (std::vector<uint8_t>{8, 4, 0x00, 0x01, 0x04, 0x04, 0, 0x3B}));
}

TEST(GIFImage, ReductionLevelsUseAnOffsetOfThree) {
  EXPECT_EQ(GIFImage::CubeIndex(255, 255, 255), 215);
  EXPECT_EQ(GIFImage::CubeIndex(47, 47, 47), 0);
  EXPECT_EQ(GIFImage::CubeIndex(48, 48, 48), 43);
  // The level boundaries of each component and its weight in the index.
  const int firstOfLevel[] = {0, 48, 99, 150, 201, 252};
  for (int level = 0; level < 6; ++level) {
    const uint8_t low = uint8_t(firstOfLevel[level]);
    const uint8_t high = uint8_t(level == 5 ? 255 : firstOfLevel[level + 1] - 1);
    for (uint8_t v : {low, high}) {
      EXPECT_EQ(GIFImage::CubeIndex(v, 0, 0), 36 * level) << int(v);
      EXPECT_EQ(GIFImage::CubeIndex(0, v, 0), 6 * level) << int(v);
      EXPECT_EQ(GIFImage::CubeIndex(0, 0, v), level) << int(v);
    }
  }

  // The frame holds those indices row by row from the top (the bitmap is stored bottom-up).
  const Rgb colours[] = {{255, 255, 255}, {47, 47, 47}, {48, 48, 48}, {0, 255, 100}};
  GIFImage gif;
  gif.Assign(test::MakeBitmap(2, 2, [&](int x, int y) { return colours[2 * y + x]; }));
  ASSERT_NE(gif.Frame(), nullptr);
  EXPECT_EQ(gif.Frame()->Pixels, (std::vector<uint8_t>{215, 0, 43, 6 * 5 + 2}));
}

TEST(GIFImage, FrameHasTheCubeThenFortyBlackEntriesAndFillsTheScreen) {
  const QByteArray data = GifBytes(test::MakeBitmap(300, 2, [](int x, int) {
    return Rgb{uint8_t(x), 9, 200};
  }));
  const GifFile f = ReadGif(data);
  ASSERT_EQ(f.Error, "");
  EXPECT_EQ(f.ScreenWidth, 300);
  EXPECT_EQ(f.ScreenHeight, 2);
  EXPECT_EQ(f.ScreenFlags, 0x77);
  EXPECT_EQ(f.Left, 0);
  EXPECT_EQ(f.Top, 0);
  EXPECT_EQ(f.Width, 300);
  EXPECT_EQ(f.Height, 2);
  EXPECT_EQ(f.FrameFlags, 0x87);
  EXPECT_EQ(f.MinCodeSize, 8);
  ASSERT_EQ(f.LocalTable.size(), 768u);
  for (int i = 0; i < 256; ++i) {
    const int r = i / 36, g = i / 6 % 6, b = i % 6;
    const bool cube = i < 216;
    EXPECT_EQ(f.LocalTable[3 * i], cube ? 51 * r : 0) << i;
    EXPECT_EQ(f.LocalTable[3 * i + 1], cube ? 51 * g : 0) << i;
    EXPECT_EQ(f.LocalTable[3 * i + 2], cube ? 51 * b : 0) << i;
  }
}

TEST(GIFImage, FullStringTableEmitsClearAtTwelveBitsAndGoesOnAtNine) {
  // Noise makes a new string at almost every pixel: several table fills.
  std::mt19937 random(7);
  const DIBBitmap bitmap = test::MakeBitmap(200, 150, [&](int, int) {
    const uint32_t v = uint32_t(random());
    return Rgb{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
  });
  GIFImage gif;
  gif.Assign(bitmap);
  const GifFile f = ReadGif(GifBytes(bitmap));
  ASSERT_EQ(f.Error, "");
  EXPECT_EQ(f.Pixels, gif.Frame()->Pixels);

  ASSERT_GE(f.Codes.size(), 2u);
  EXPECT_EQ(f.Codes.front().Code, 256u);
  EXPECT_EQ(f.Codes.front().Width, 9);
  EXPECT_EQ(f.Codes.back().Code, 257u);
  std::vector<size_t> clears;
  int widest = 0;
  for (size_t i = 0; i < f.Codes.size(); ++i) {
    widest = std::max(widest, f.Codes[i].Width);
    if (f.Codes[i].Code == 256) clears.push_back(i);
  }
  EXPECT_EQ(widest, 12);
  ASSERT_GE(clears.size(), 3u);
  for (size_t c = 1; c < clears.size(); ++c) {
    const size_t at = clears[c];
    EXPECT_EQ(f.Codes[at].Width, 12);
    ASSERT_LT(at + 1, f.Codes.size());
    EXPECT_EQ(f.Codes[at + 1].Width, 9);
    // 4095 - 258 = 3837 new strings fill the table; one more code goes out before the clear.
    EXPECT_EQ(at - clears[c - 1] - 1, 3838u);
  }
}

// The code stream as a plain dictionary coder with the same rules makes it: 9 to 12 bits,
// a clear code instead of a 4096th code, 255-byte blocks. The writer's hash table must give
// the very same bytes.
QByteArray PlainDictionaryStream(const std::vector<uint8_t>& pixels) {
  std::map<std::pair<uint32_t, uint32_t>, uint32_t> strings;
  std::vector<uint8_t> coded;
  uint64_t pending = 0;
  int pendingBits = 0, width = 9;
  uint32_t maxCode = 511, next = 258;
  auto put = [&](uint32_t code) {
    pending |= uint64_t(code) << pendingBits;
    for (pendingBits += width; pendingBits >= 8; pendingBits -= 8, pending >>= 8)
      coded.push_back(uint8_t(pending));
    if (code == 256) {
      width = 9, maxCode = 511, next = 258;
      strings.clear();
    } else if (next > maxCode) {
      ++width;
      maxCode = width == 12 ? 4096 : (1u << width) - 1;
    }
  };
  put(256);
  uint32_t prefix = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    const auto found = strings.find({prefix, pixels[i]});
    if (found != strings.end()) {
      prefix = found->second;
      continue;
    }
    put(prefix);
    if (next >= 4095)
      put(256);
    else
      strings[{prefix, pixels[i]}] = next++;
    prefix = pixels[i];
  }
  put(prefix);
  put(257);
  if (pendingBits > 0) coded.push_back(uint8_t(pending));
  QByteArray stream(1, char(8));
  for (size_t at = 0; at < coded.size(); at += 255) {
    const size_t size = std::min<size_t>(255, coded.size() - at);
    stream += char(size);
    stream += QByteArray(reinterpret_cast<const char*>(coded.data() + at), qsizetype(size));
  }
  stream += char(0);
  return stream;
}

TEST(GIFLZWEncoder, SameBytesAsAPlainDictionaryCoder) {
  std::mt19937 random(11);
  const std::vector<std::function<uint8_t(size_t)>> sources{
      [&](size_t) { return uint8_t(random()); },                            // noise: many clears
      [&](size_t) { return uint8_t(random() % 3); },                        // few colours
      [](size_t i) { return uint8_t(i / 5000 % 216); },                     // long runs
      [](size_t i) { return uint8_t((i % 1920) * 216 / 1920 ^ i / 7680); }  // gradient rows
  };
  for (size_t s = 0; s < sources.size(); ++s) {
    std::vector<uint8_t> pixels(300000);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = sources[s](i);
    EXPECT_EQ(CodedBytes(pixels), PlainDictionaryStream(pixels)) << "source " << s;
  }
}

TEST(GIFLZWEncoder, FullBlockThenTerminatorForExactly255Bytes) {
  // With distinct pairs each pixel costs one 9-bit code: clear + n + end codes.
  auto stream = [](int n) {
    std::vector<uint8_t> pixels;
    for (int i = 0; i < n; ++i) pixels.push_back(uint8_t(i));
    return CodedBytes(pixels);
  };
  // 226 codes = 2034 bits = 255 bytes.
  const QByteArray exact = stream(224);
  ASSERT_EQ(exact.size(), 1 + 1 + 255 + 1);
  EXPECT_EQ(uint8_t(exact[0]), 8);
  EXPECT_EQ(uint8_t(exact[1]), 255);
  EXPECT_EQ(uint8_t(exact[257]), 0);

  // One byte more: a full block, a block of 1, the terminator.
  const QByteArray over = stream(225);
  ASSERT_EQ(over.size(), 1 + 1 + 255 + 1 + 1 + 1);
  EXPECT_EQ(uint8_t(over[1]), 255);
  EXPECT_EQ(uint8_t(over[257]), 1);
  EXPECT_EQ(uint8_t(over[259]), 0);
}

TEST(GIFLZWEncoder, PixelOutsideTheColourMapFails) {
  const std::vector<uint8_t> pixels{0, 1, 2, 3, 4};
  EXPECT_EQ(MessageOf([&] { CodedBytes(pixels, 4); }), "Color not in color table");
  EXPECT_EQ(MessageOf([&] { CodedBytes({9}, 4); }), "Color not in color table");
  EXPECT_NO_THROW(CodedBytes(pixels, 5));
}

TEST(GIFImage, SaveWithoutFrameOrOversizedPictureFails) {
  GIFImage empty;
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  EXPECT_EQ(MessageOf([&] { empty.SaveToStream(buffer); }), "Unsupported GIF version");
  EXPECT_TRUE(buffer.data().isEmpty());

  DIBBitmap wide;
  wide.SetFormat(65536, 1, PixelFormat::Bits24);
  GIFImage gif;
  EXPECT_THROW(gif.Assign(wide), GIFError);
  EXPECT_EQ(gif.Frame(), nullptr);

  DIBBitmap widest;
  widest.SetFormat(65535, 1, PixelFormat::Bits24);
  gif.Assign(widest);
  EXPECT_EQ(ReadGif(GifBytes(widest)).Width, 65535);
}

TEST(GIFImage, RefusedWriteEndsTheSave) {
  GIFImage gif;
  gif.Assign(test::VariedPicture(320, 200, 3));
  for (qint64 limit : {0, 5, 13, 800, 2000}) {
    test::FullDevice device(limit);
    const std::string message = MessageOf([&] { gif.SaveToStream(device); });
    EXPECT_NE(message.find("No space left on device"), std::string::npos) << limit << message;
  }
}

// Decodes a GIF file with ffmpeg into 8-bit RGB triples.
QByteArray FfmpegRgb(const QString& path) {
  const test::ProcessResult run =
      test::RunProcess(QStringLiteral("ffmpeg"),
                       {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                        QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-f"),
                        QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                        QStringLiteral("rgb24"), QStringLiteral("-")});
  return run.ExitCode == 0 ? run.RawOut : QByteArray();
}

TEST(GIFImage, IndependentDecodersReadTheCubeReducedPixels) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  struct Case {
    int Width, Height;
    uint32_t Seed;
  };
  for (const Case c : {Case{1920, 1080, 1}, Case{997, 613, 2}, Case{3, 700, 3}}) {
    const DIBBitmap bitmap = test::VariedPicture(c.Width, c.Height, c.Seed);
    const QByteArray data = GifBytes(bitmap);
    const QString path = dir.filePath(QStringLiteral("p%1.gif").arg(c.Seed));
    {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(data);
    }

    const QImage image(path, "GIF");
    ASSERT_FALSE(image.isNull()) << path.toStdString();
    ASSERT_EQ(image.width(), c.Width);
    ASSERT_EQ(image.height(), c.Height);
    const QByteArray rgb = FfmpegRgb(path);
    ASSERT_EQ(rgb.size(), qsizetype(3) * c.Width * c.Height) << "ffmpeg could not decode";

    int wrongQt = 0, wrongFfmpeg = 0;
    for (int y = 0; y < c.Height; ++y) {
      for (int x = 0; x < c.Width; ++x) {
        const Rgb expected = test::CubeColour(test::PixelOf(bitmap, x, y));
        const QRgb got = image.pixel(x, y);
        if (qRed(got) != expected.R || qGreen(got) != expected.G || qBlue(got) != expected.B)
          ++wrongQt;
        const auto* f = reinterpret_cast<const uint8_t*>(rgb.constData()) +
                        3 * (size_t(y) * size_t(c.Width) + size_t(x));
        if (f[0] != expected.R || f[1] != expected.G || f[2] != expected.B) ++wrongFfmpeg;
      }
    }
    EXPECT_EQ(wrongQt, 0) << c.Width << "x" << c.Height;
    EXPECT_EQ(wrongFfmpeg, 0) << c.Width << "x" << c.Height;
  }
}

}  // namespace
}  // namespace qm
