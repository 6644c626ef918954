#include <gtest/gtest.h>

#include <cstring>

#include "common/DIBBitmap.h"
#include "common/LittleEndian.h"
#include "common/SilentAbort.h"
#include "support/RecordingMessages.h"

namespace qm {
namespace {

// The BITMAPINFOHEADER fields, checked together.
void ExpectHeader(const DIBBitmap& b, int32_t width, int32_t height, int bits, uint32_t image) {
  const uint8_t* h = b.Header();
  EXPECT_EQ(GetLE32(h + 0), 40u);
  EXPECT_EQ(int32_t(GetLE32(h + 4)), width);
  EXPECT_EQ(int32_t(GetLE32(h + 8)), height);
  EXPECT_EQ(GetLE16(h + 12), 1);
  EXPECT_EQ(GetLE16(h + 14), bits);
  EXPECT_EQ(GetLE32(h + 16), 0u);
  EXPECT_EQ(GetLE32(h + 20), image);
  for (int at = 24; at < 40; at += 4) EXPECT_EQ(GetLE32(h + at), 0u) << "offset " << at;
  EXPECT_EQ(b.ImageSize(), image);
}

TEST(DIBBitmap, FreshBitmapIs480By320At24Bits) {
  DIBBitmap b;
  EXPECT_EQ(b.Width(), 480);
  EXPECT_EQ(b.Height(), 320);
  EXPECT_EQ(b.Format(), PixelFormat::Bits24);
  EXPECT_EQ(b.HeaderSize(), 40u);
  ExpectHeader(b, 480, 320, 24, 460800);
}

TEST(DIBBitmap, RowsArePaddedToFourBytes) {
  DIBBitmap b;
  EXPECT_TRUE(b.SetFormat(241, 17, PixelFormat::Bits24));
  EXPECT_EQ(b.Stride(), 724u);  // 723 bytes of pixels and one pad byte
  ExpectHeader(b, 241, 17, 24, 724u * 17);

  EXPECT_TRUE(b.SetFormat(320, 240, PixelFormat::Bits24));
  EXPECT_EQ(b.Stride(), 960u);
  EXPECT_EQ(b.HeaderSize(), 40u);
  ExpectHeader(b, 320, 240, 24, 230400);

  EXPECT_EQ(DIBBitmap::StrideFor(1, 1), 4u);
  EXPECT_EQ(DIBBitmap::StrideFor(33, 1), 8u);
  EXPECT_EQ(DIBBitmap::StrideFor(9, 4), 8u);
  EXPECT_EQ(DIBBitmap::StrideFor(5, 8), 8u);
  EXPECT_EQ(DIBBitmap::StrideFor(3, 16), 8u);
  EXPECT_EQ(DIBBitmap::StrideFor(3, 32), 12u);
}

TEST(DIBBitmap, SmallFormatsCarryAColourTable) {
  DIBBitmap b;
  const struct {
    PixelFormat Format;
    int Bits;
    uint32_t HeaderSize;
  } cases[] = {{PixelFormat::Bits1, 1, 48},   {PixelFormat::Bits4, 4, 104},
               {PixelFormat::Bits8, 8, 1064}, {PixelFormat::Bits16, 16, 40},
               {PixelFormat::Bits24, 24, 40}, {PixelFormat::Bits32, 32, 40}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Bits);
    EXPECT_TRUE(b.SetFormat(100, 10, c.Format));
    EXPECT_EQ(b.HeaderSize(), c.HeaderSize);
    EXPECT_EQ(DIBBitmap::HeaderSizeFor(c.Bits), c.HeaderSize);
    ExpectHeader(b, 100, 10, c.Bits, DIBBitmap::StrideFor(100, c.Bits) * 10);
  }
  // The table of an 8-bit bitmap runs from black to white.
  b.SetFormat(4, 4, PixelFormat::Bits8);
  EXPECT_EQ(GetLE32(b.Header() + 40), 0x000000u);
  EXPECT_EQ(GetLE32(b.Header() + 40 + 4 * 255), 0xFFFFFFu);
}

TEST(DIBBitmap, FormatsWithoutBitCountAreReportedAndChangeNothing) {
  test::RecordingMessages messages;
  DIBBitmap b;
  b.SetFormat(64, 32, PixelFormat::Bits24);
  for (PixelFormat f : {PixelFormat::Device, PixelFormat::Bits15, PixelFormat::Custom}) {
    EXPECT_THROW(b.SetFormat(20, 10, f), SilentAbort);
  }
  EXPECT_EQ(messages.Reports(), QStringList(3, QStringLiteral("Invalid pixel format")));
  EXPECT_TRUE(messages.Messages().isEmpty());
  // Still the old shape, buffer and header together, so drawing stays in bounds.
  EXPECT_EQ(b.Width(), 64);
  EXPECT_EQ(b.Format(), PixelFormat::Bits24);
  ExpectHeader(b, 64, 32, 24, 192u * 32);
}

TEST(DIBBitmap, EmptyOrHugeShapesAreInvalidBitmaps) {
  test::RecordingMessages messages;
  DIBBitmap b;
  EXPECT_THROW(b.SetFormat(0, 10, PixelFormat::Bits24), SilentAbort);
  EXPECT_THROW(b.SetFormat(10, -1, PixelFormat::Bits24), SilentAbort);
  EXPECT_THROW(b.SetFormat(100000, 100000, PixelFormat::Bits24), SilentAbort);
  EXPECT_EQ(messages.Reports(), QStringList(3, QStringLiteral("Invalid bitmap")));
  ExpectHeader(b, 480, 320, 24, 460800);
}

TEST(DIBBitmap, ScanLinesAreStoredBottomUp) {
  DIBBitmap b;
  b.SetFormat(5, 3, PixelFormat::Bits24);
  EXPECT_EQ(b.ScanLine(2), b.Bits());
  EXPECT_EQ(b.ScanLine(0), b.Bits() + 2 * b.Stride());
  std::memset(b.ScanLine(0), 0xAB, 15);
  EXPECT_TRUE(b.RefreshBits());
  EXPECT_EQ(b.Bits()[2 * b.Stride()], 0xAB);
  EXPECT_EQ(b.Bits()[0], 0);
}

}  // namespace
}  // namespace qm
