#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "support/AviTestSettings.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <thread>
#include <vector>

#include "common/FourCC.h"
#include "common/LittleEndian.h"
#include "common/SilentAbort.h"
#include "platform/codecs/VideoEncoder.h"
#include "support/MediaProbe.h"
#include "support/RecordingMessages.h"
#include "support/XScreen.h"
#include "video/AviCompress.h"
#include "video/MovieWriter.h"

namespace qm {
namespace {

using test::MediaProbe;

uint32_t Code(const char* text) {
  return MakeFourCC(uint8_t(text[0]), uint8_t(text[1]), uint8_t(text[2]), uint8_t(text[3]));
}

// The catalogue in its listing order; every one of them exists in Debian 12's libavcodec.
const char* const kCatalogueCodes[] = {"MP42", "DIV3", "XVID", "H264", "MJPG",
                                       "FFV1", "ZMBV", "cvid", "CRAM", "MPNG"};

bool Lossless(const char* code) {
  return QLatin1String(code) == QLatin1String("FFV1") ||
         QLatin1String(code) == QLatin1String("ZMBV") ||
         QLatin1String(code) == QLatin1String("MPNG");
}

// One compressed frame as the compressor handed it out.
struct ExpectedPacket {
  QByteArray Data;
  uint32_t Flags = 0;
};

// A minimal AVI around the packets, written here so that ffmpeg judges the compressor's
// frames and its 40-byte format and nothing else of ours.
class TinyAvi {
 public:
  static bool Write(const QString& path, const std::array<uint8_t, 40>& format, int width,
                    int height, int fps, const std::vector<ExpectedPacket>& packets) {
    QByteArray movi("movi");
    QByteArray index;
    for (const ExpectedPacket& packet : packets) {
      const uint32_t offset = uint32_t(movi.size());
      Chunk(movi, "00dc", packet.Data);
      index += "00dc";
      U32(index, packet.Flags);
      U32(index, offset);
      U32(index, uint32_t(packet.Data.size()));
    }
    QByteArray avih;
    U32(avih, uint32_t(1000000 / fps));
    U32(avih, 0);
    U32(avih, 0);
    U32(avih, 0x10);
    U32(avih, uint32_t(packets.size()));
    U32(avih, 0);
    U32(avih, 1);
    U32(avih, 0);
    U32(avih, uint32_t(width));
    U32(avih, uint32_t(height));
    avih += QByteArray(16, '\0');
    QByteArray strh("vids");
    strh += QByteArray(reinterpret_cast<const char*>(format.data()) + 16, 4);
    U32(strh, 0);
    U32(strh, 0);
    U32(strh, 0);
    U32(strh, 1);
    U32(strh, uint32_t(fps));
    U32(strh, 0);
    U32(strh, uint32_t(packets.size()));
    U32(strh, 0);
    U32(strh, 0xFFFFFFFF);
    U32(strh, 0);
    U32(strh, 0);
    U32(strh, uint32_t(width) | uint32_t(height) << 16);
    QByteArray strl("strl");
    Chunk(strl, "strh", strh);
    Chunk(strl, "strf", QByteArray(reinterpret_cast<const char*>(format.data()), 40));
    QByteArray hdrl("hdrl");
    Chunk(hdrl, "avih", avih);
    Chunk(hdrl, "LIST", strl);
    QByteArray riff("AVI ");
    Chunk(riff, "LIST", hdrl);
    Chunk(riff, "LIST", movi);
    Chunk(riff, "idx1", index);
    QByteArray file;
    Chunk(file, "RIFF", riff);
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
  }

 private:
  static void U32(QByteArray& bytes, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes += char(v >> (8 * i));
  }
  static void Chunk(QByteArray& into, const char* id, const QByteArray& data) {
    into += QByteArray(id, 4);
    U32(into, uint32_t(data.size()));
    into += data;
    if (data.size() % 2) into += '\0';
  }
};

// Every decoded frame as top-down packed bgr24 rows; errors gets what ffmpeg complained of.
std::vector<QByteArray> DecodeFrames(const QString& path, int width, int height, QString* errors) {
  std::vector<QByteArray> frames;
  MediaProbe::DecodeBgr24(path, width, height, frames, errors);
  return frames;
}

// The decoder's key-frame verdict for every frame.
std::vector<bool> DecodedKeyFrames(const QString& path) {
  std::vector<bool> keys;
  for (const test::ProbedFrame& frame : MediaProbe::DecodedFrames(path))
    keys.push_back(frame.KeyFrame);
  return keys;
}
// A picture with a smooth background, sharp text-like bars and a box that moves each frame,
// like a screen with a moving window.
void DrawFrame(DIBBitmap& bitmap, int index) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      uint8_t* px = row + x * 3;
      px[0] = uint8_t(x * 4);
      px[1] = uint8_t(y * 5);
      px[2] = uint8_t((x ^ y) * 3);
      if (y % 8 < 2 && x % 12 < 9) px[0] = px[1] = px[2] = 20;
      const int boxX = (index * 3) % (bitmap.Width() - 10);
      if (x >= boxX && x < boxX + 10 && y >= 10 && y < 22) {
        px[0] = 240;
        px[1] = uint8_t(index * 9);
        px[2] = 30;
      }
    }
  }
}

// The frame as top-down packed rows, the layout ffmpeg decodes to.
QByteArray TopDown(const DIBBitmap& bitmap) {
  QByteArray rows;
  for (int y = 0; y < bitmap.Height(); ++y)
    rows += QByteArray(reinterpret_cast<const char*>(bitmap.ScanLine(y)), bitmap.Width() * 3);
  return rows;
}

double MeanAbsDifference(const QByteArray& a, const QByteArray& b) {
  if (a.size() != b.size() || a.isEmpty()) return 1e9;
  double sum = 0;
  for (qsizetype i = 0; i < a.size(); ++i) sum += std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
  return sum / double(a.size());
}

CompressRequest Request(int width, int height, long double fps) {
  CompressRequest request;
  request.FrameRate = fps;
  request.Width = width;
  request.Height = height;
  request.FrameCountHint = 1000000;
  request.Format = PixelFormat::Bits24;
  return request;
}

int IndexOf(const AviCompress& compress, uint32_t code) {
  const auto& entries = compress.Entries();
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].Handler == code) return int(i);
  return -1;
}

// --- Listing --------------------------------------------------------------------------------

TEST(AviCompressListing, BuiltInEntryFirstThenTheCatalogueInOrder) {
  AviCompress compress;
  const auto& entries = compress.Entries();
  ASSERT_EQ(entries.size(), 1 + std::size(kCatalogueCodes));
  EXPECT_EQ(entries[0].Handler, 0u);
  EXPECT_EQ(entries[0].Name, QStringLiteral("Uncompressed"));
  EXPECT_EQ(entries[0].Description, QStringLiteral("Uncompressed 24bits DIB"));
  EXPECT_EQ(EntryCodeText(entries[0]), QStringLiteral("DIB"));
  for (size_t i = 0; i < std::size(kCatalogueCodes); ++i) {
    const CompressorEntry& entry = entries[i + 1];
    EXPECT_EQ(FourCCText(entry.Handler), QLatin1String(kCatalogueCodes[i]));
    EXPECT_EQ(entry.Type, kVideoEncoderType);
    EXPECT_FALSE(entry.Description.isEmpty());
    EXPECT_FALSE(entry.Name.isEmpty());
    EXPECT_LE(entry.Name.size(), 16);
  }
  EXPECT_EQ(compress.CurrentIndex(), 0);
  EXPECT_EQ(compress.CurrentCode(), 0u);

  // Listing again makes the built-in entry current and closes what was open.
  ASSERT_TRUE(compress.Select(MakeFourCC("MP42")));
  std::vector<DisplayItem> items{{QStringLiteral("stale"), nullptr}};
  EXPECT_TRUE(compress.FillDisplayList(items));
  EXPECT_EQ(compress.CurrentIndex(), 0);
  EXPECT_EQ(compress.CurrentCode(), 0u);
  EXPECT_FALSE(compress.CanConfigure());
  ASSERT_EQ(items.size(), compress.Entries().size());
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].Text, compress.Entries()[i].Description);
    EXPECT_EQ(items[i].Entry, &compress.Entries()[i]);
  }
}

TEST(AviCompressListing, FilterRulesOnMadeUpEntries) {
  int asked = 0;
  auto describeAs = [&asked](const QString& description) {
    return [&asked, description](CompressorEntry& entry) {
      ++asked;
      entry.Name = QStringLiteral("short");
      entry.Description = description;
    };
  };
  auto admit = [&](const char(&code)[5], const QString& description, CompressorEntry* out) {
    CompressorEntry entry;
    entry.Type = kVideoEncoderType;
    entry.Handler = MakeFourCC(code);
    const bool admitted = AviCompress::AdmitEntry(entry, describeAs(description));
    if (out) *out = entry;
    return admitted;
  };

  // "hfyu" in any letter case is dropped before it is asked anything.
  EXPECT_FALSE(admit("hfyu", QStringLiteral("Huffyuv"), nullptr));
  EXPECT_FALSE(admit("HFYU", QStringLiteral("Huffyuv"), nullptr));
  EXPECT_FALSE(admit("HfYu", QStringLiteral("Huffyuv"), nullptr));
  EXPECT_EQ(asked, 0);

  // "divx" is listed as "DivX" whatever it would say, without being opened.
  CompressorEntry divx;
  EXPECT_TRUE(admit("DIVX", QStringLiteral("yuv rle h. everything"), &divx));
  EXPECT_EQ(divx.Description, QStringLiteral("DivX"));
  EXPECT_TRUE(admit("divx", QString(), &divx));
  EXPECT_EQ(divx.Description, QStringLiteral("DivX"));
  EXPECT_EQ(asked, 0);

  // Descriptions that name YUV, an "H." codec or RLE, in any case, and empty ones.
  EXPECT_FALSE(admit("IYUV", QStringLiteral("Intel IYUV codec"), nullptr));
  EXPECT_FALSE(admit("M263", QStringLiteral("Microsoft H.263 Video Codec"), nullptr));
  EXPECT_FALSE(admit("x264", QStringLiteral("x264vfw - h.264 codec"), nullptr));
  EXPECT_FALSE(admit("MRLE", QStringLiteral("Microsoft RLE"), nullptr));
  EXPECT_FALSE(admit("abcd", QStringLiteral("   "), nullptr));
  EXPECT_FALSE(admit("abcd", QString(), nullptr));  // could not be opened for query
  EXPECT_EQ(asked, 6);

  CompressorEntry kept;
  EXPECT_TRUE(admit("cvid", QStringLiteral("  Cinepak Codec by Radius \t"), &kept));
  EXPECT_EQ(kept.Description, QStringLiteral("Cinepak Codec by Radius"));
  EXPECT_EQ(kept.Name, QStringLiteral("short"));
  // "h" and "." apart are harmless.
  EXPECT_TRUE(admit("abcd", QStringLiteral("High speed v1.0"), nullptr));
}

// --- Selecting and configuring ----------------------------------------------------------

TEST(AviCompressSelect, SelectsByCodeAndFallsBackToBuiltIn) {
  test::RecordingMessages messages;
  AviCompress compress;
  EXPECT_FALSE(compress.CanConfigure());
  EXPECT_FALSE(compress.Form());  // nothing open: no options

  EXPECT_TRUE(compress.Select(MakeFourCC("MP42")));
  EXPECT_EQ(compress.CurrentCode(), 0x3234504Du);
  EXPECT_EQ(compress.CurrentIndex(), IndexOf(compress, MakeFourCC("MP42")));
  EXPECT_TRUE(compress.CanConfigure());

  EXPECT_TRUE(compress.Select(MakeFourCC("QQQQ")));
  EXPECT_EQ(compress.CurrentCode(), 0u);
  EXPECT_EQ(compress.CurrentIndex(), 0);
  EXPECT_FALSE(compress.CanConfigure());
  EXPECT_TRUE(messages.Messages().isEmpty());
}

// Compresses one busy frame with the current compressor and gives its size.
uint32_t OneFrameSize(AviCompress& compress) {
  CompressRequest request = Request(64, 48, 10);
  if (!compress.Begin(request)) return 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64 * 3; ++x) compress.Bitmap().ScanLine(y)[x] = uint8_t(x * 37 + y * 91);
  CompressedFrame frame;
  compress.Compress(frame);
  compress.End();
  return frame.Size;
}

TEST(AviCompressSelect, SelectingTheSameCodeKeepsTheOpenCompressorAndItsSettings) {
  AviCompress compress;
  ASSERT_TRUE(compress.Select(MakeFourCC("MP42")));
  const uint32_t defaultSize = OneFrameSize(compress);
  ASSERT_GT(defaultSize, 0u);

  // The lowest quality, as the compressor's options dialog sets it.
  compress.SetOptions({.Quality = 0, .KeyFrameInterval = 0});
  ASSERT_TRUE(compress.Select(MakeFourCC("MP42")));
  const uint32_t coarseSize = OneFrameSize(compress);
  EXPECT_LT(coarseSize, defaultSize);

  // A sequence in progress is not ended by selecting the same code either.
  CompressRequest request = Request(64, 48, 10);
  ASSERT_TRUE(compress.Begin(request));
  ASSERT_TRUE(compress.Select(MakeFourCC("MP42")));
  EXPECT_TRUE(compress.End());

  EXPECT_EQ(OneFrameSize(compress), coarseSize);

  // Another code and back: the compressor is opened afresh, with its default settings.
  ASSERT_TRUE(compress.Select(MakeFourCC("DIV3")));
  ASSERT_TRUE(compress.Select(MakeFourCC("MP42")));
  EXPECT_EQ(OneFrameSize(compress), defaultSize);
}

// --- Built-in entry -----------------------------------------------------------------------

TEST(AviCompressBuiltIn, PassesTheBitmapThroughWithPaddedRows) {
  AviCompress compress;
  ASSERT_TRUE(compress.Select(0));
  CompressRequest request = Request(30, 30, 15);
  request.OutputFormat.fill(0xAA);
  ASSERT_TRUE(compress.Begin(request));
  const uint8_t* out = request.OutputFormat.data();
  EXPECT_EQ(GetLE32(out), 40u);
  EXPECT_EQ(GetLE32(out + 4), 30u);
  EXPECT_EQ(GetLE32(out + 8), 30u);
  EXPECT_EQ(GetLE16(out + 12), 1u);
  EXPECT_EQ(GetLE16(out + 14), 24u);
  EXPECT_EQ(GetLE32(out + 16), 0u);
  EXPECT_EQ(GetLE32(out + 20), 2700u);
  for (int i = 24; i < 40; ++i) EXPECT_EQ(out[i], 0) << i;

  DrawFrame(compress.Bitmap(), 0);
  CompressedFrame frame;
  frame.FrameNumber = 3;
  frame.Flags = 0x1234;
  ASSERT_TRUE(compress.Compress(frame));
  EXPECT_EQ(frame.Size, 2760u);
  EXPECT_EQ(frame.Data, compress.Bitmap().Bits());
  EXPECT_EQ(frame.Bitmap, &compress.Bitmap());
  EXPECT_EQ(frame.Flags, 0x1234u);
  // The built-in entry never enters a sequence.
  EXPECT_FALSE(compress.End());
}

// --- Every compressor, judged by ffmpeg ---------------------------------------------------

class AviCompressEvery : public ::testing::TestWithParam<const char*> {};

TEST_P(AviCompressEvery, FramesDecodeIndependentlyWithTheirKeyFrames) {
  const uint32_t code = Code(GetParam());
  const bool lossless = Lossless(GetParam());
  constexpr int kWidth = 64, kHeight = 48, kFps = 10, kFrames = 25;

  AviCompress compress;
  ASSERT_TRUE(compress.Select(code));
  CompressRequest request = Request(kWidth, kHeight, kFps);
  ASSERT_TRUE(compress.Begin(request));
  const uint8_t* format = request.OutputFormat.data();
  EXPECT_EQ(GetLE32(format), 40u);
  EXPECT_EQ(GetLE32(format + 4), uint32_t(kWidth));
  EXPECT_EQ(GetLE32(format + 8), uint32_t(kHeight));
  EXPECT_EQ(GetLE32(format + 16), code);

  std::vector<ExpectedPacket> packets;
  std::vector<QByteArray> pictures;
  for (int i = 0; i < kFrames; ++i) {
    DrawFrame(compress.Bitmap(), i);
    pictures.push_back(TopDown(compress.Bitmap()));
    CompressedFrame frame;
    frame.FrameNumber = uint32_t(i);
    ASSERT_TRUE(compress.Compress(frame));
    ASSERT_GT(frame.Size, 0u) << "frame " << i << " came out late";
    EXPECT_EQ(frame.Bitmap, &compress.Bitmap());
    EXPECT_EQ(frame.Flags & ~kAviKeyFrame, 0u);
    packets.push_back(
        {QByteArray(reinterpret_cast<const char*>(frame.Data), frame.Size), frame.Flags});
  }
  EXPECT_TRUE(compress.End());
  EXPECT_FALSE(compress.End());

  // One key frame per second: the first frame, then at least every tenth.
  EXPECT_EQ(packets[0].Flags, kAviKeyFrame);
  int sinceKey = 0;
  for (const ExpectedPacket& packet : packets) {
    sinceKey = packet.Flags ? 0 : sinceKey + 1;
    EXPECT_LT(sinceKey, kFps);
  }

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("frames.avi"));
  ASSERT_TRUE(TinyAvi::Write(path, request.OutputFormat, kWidth, kHeight, kFps, packets));

  QString errors;
  const std::vector<QByteArray> decoded = DecodeFrames(path, kWidth, kHeight, &errors);
  EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
  ASSERT_EQ(decoded.size(), size_t(kFrames)) << errors.toStdString();
  for (int i = 0; i < kFrames; ++i) {
    if (lossless)
      EXPECT_TRUE(decoded[size_t(i)] == pictures[size_t(i)]) << "frame " << i;
    else
      EXPECT_LT(MeanAbsDifference(decoded[size_t(i)], pictures[size_t(i)]), 16.0) << "frame " << i;
  }

  // The Video 1 decoder calls every frame a key frame, so only the test below judges it.
  const bool decoderTellsKeyFrames = QLatin1String(GetParam()) != QLatin1String("CRAM");
  const std::vector<bool> keys = DecodedKeyFrames(path);
  ASSERT_EQ(keys.size(), size_t(kFrames));
  for (int i = 0; i < kFrames && decoderTellsKeyFrames; ++i)
    EXPECT_EQ(keys[size_t(i)], packets[size_t(i)].Flags == kAviKeyFrame) << "frame " << i;

  // Every key frame decodes without what came before it.
  for (int i = 1; i < kFrames; ++i) {
    if (!packets[size_t(i)].Flags) continue;
    const std::vector<ExpectedPacket> tail(packets.begin() + i, packets.end());
    const QString tailPath = dir.filePath(QStringLiteral("tail.avi"));
    ASSERT_TRUE(TinyAvi::Write(tailPath, request.OutputFormat, kWidth, kHeight, kFps, tail));
    const std::vector<QByteArray> rest = DecodeFrames(tailPath, kWidth, kHeight, &errors);
    ASSERT_EQ(rest.size(), tail.size()) << "from frame " << i << ": " << errors.toStdString();
    EXPECT_TRUE(rest[0] == decoded[size_t(i)]) << "key frame " << i;
  }
}

// Black stays black and white stays white: the YUV range the encoder is told matches the
// one the pixels were converted to.
TEST_P(AviCompressEvery, FlatBlackAndWhiteKeepTheirLevels) {
  constexpr int kWidth = 32, kHeight = 32;
  AviCompress compress;
  ASSERT_TRUE(compress.Select(Code(GetParam())));
  CompressRequest request = Request(kWidth, kHeight, 15);
  ASSERT_TRUE(compress.Begin(request));
  std::vector<ExpectedPacket> packets;
  for (const uint8_t level : {uint8_t(255), uint8_t(0), uint8_t(255)}) {
    for (int y = 0; y < kHeight; ++y) std::memset(compress.Bitmap().ScanLine(y), level, kWidth * 3);
    CompressedFrame frame;
    frame.FrameNumber = uint32_t(packets.size());
    ASSERT_TRUE(compress.Compress(frame));
    packets.push_back(
        {QByteArray(reinterpret_cast<const char*>(frame.Data), frame.Size), frame.Flags});
  }
  compress.End();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("flat.avi"));
  ASSERT_TRUE(TinyAvi::Write(path, request.OutputFormat, kWidth, kHeight, 15, packets));
  QString errors;
  const std::vector<QByteArray> decoded = DecodeFrames(path, kWidth, kHeight, &errors);
  ASSERT_EQ(decoded.size(), 3u) << errors.toStdString();
  const int expected[] = {255, 0, 255};
  for (size_t f = 0; f < decoded.size(); ++f) {
    int worst = 0;
    for (const char byte : decoded[f])
      worst = std::max(worst, std::abs(uint8_t(byte) - expected[f]));
    EXPECT_LE(worst, 8) << "frame " << f;
  }
}

// At the largest size a recording takes, the whole screen, a few frames recorded through the
// movie writer decode from the file alone: the 40-byte format is all the decoder gets.
TEST_P(AviCompressEvery, FullScreenRecordingDecodesFromTheFileAlone) {
  const test::XScreen screen;
  ASSERT_TRUE(screen.Ok()) << "no X display";
  const int width = screen.Bounds().Width(), height = screen.Bounds().Height();
  constexpr int kFrames = 3;
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  MovieWriter movie(dir.filePath(QStringLiteral("Index.~tmp")));
  ASSERT_TRUE(movie.Compressor().Select(Code(GetParam())));
  const AviSettings settings = test::AviTestSettings(width, height);
  const QString path = dir.filePath(QStringLiteral("screen.avi"));
  ASSERT_TRUE(movie.Open(path, settings)) << width << "x" << height;
  std::vector<QByteArray> pictures;
  for (int i = 0; i < kFrames; ++i) {
    DrawFrame(movie.Bitmap(), i * 40);
    pictures.push_back(TopDown(movie.Bitmap()));
    ASSERT_TRUE(movie.AddFrame());
  }
  ASSERT_TRUE(movie.Close(0));

  std::vector<QByteArray> decoded;
  QString errors;
  ASSERT_TRUE(test::MediaProbe::DecodeBgr24(path, width, height, decoded, &errors))
      << errors.toStdString();
  ASSERT_EQ(decoded.size(), size_t(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    if (Lossless(GetParam()))
      EXPECT_TRUE(decoded[size_t(i)] == pictures[size_t(i)]) << "frame " << i;
    else
      EXPECT_LT(MeanAbsDifference(decoded[size_t(i)], pictures[size_t(i)]), 16.0) << "frame " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, AviCompressEvery, ::testing::ValuesIn(kCatalogueCodes),
                         [](const auto& p) { return std::string(p.param); });

// --- Colour conversion --------------------------------------------------------------------

// A screen-like picture: smooth colour gradients with text-like bars and a box that moves
// each frame. Bars and box add one value to all three channels, which changes brightness
// alone: their edges are sharp in luma, and colour stays smooth, where every way of sampling
// it at half the resolution agrees.
void DrawScreen(DIBBitmap& bitmap, int index) {
  const int width = bitmap.Width(), height = bitmap.Height();
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      uint8_t* px = row + x * 3;
      int shift = 0;
      if (y % 8 < 2 && x % 12 < 9) shift = -50;
      const int boxX = 8 + index * 5;
      if (x >= boxX && x < boxX + 40 && y >= 21 && y < 61) shift = 50;
      px[0] = uint8_t(60 + x * 130 / width + shift);
      px[1] = uint8_t(60 + y * 130 / height + shift);
      px[2] = uint8_t(190 - (x + y) * 130 / (width + height) + shift);
    }
  }
}

// Peak signal-to-noise ratio between two planes in dB; identical planes count as 99.
double Psnr(const char* a, const char* b, qsizetype size) {
  double squares = 0;
  for (qsizetype i = 0; i < size; ++i) {
    const double d = double(uint8_t(a[i])) - double(uint8_t(b[i]));
    squares += d * d;
  }
  if (squares == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * double(size) / squares);
}

// Records frames with a fresh compressor of that code, by default at its highest quality, where
// the encoder's own rounding hides least of the conversion's, and decodes them to the decoder's
// own planes (pixelFormat, ffmpeg's name for them). sizes receives the packets' sizes.
std::vector<QByteArray> RecordAndDecode(
    const char* code, const QString& pixelFormat, int width, int height, int frames,
    const QString& path, EncoderSettings options = {100, 0},
    std::function<std::chrono::milliseconds(int)> frameTime = {},
    std::vector<uint32_t>* sizes = nullptr) {
  AviCompress compress;
  if (!compress.Select(Code(code))) return {};
  compress.SetOptions(options);
  // Frame i takes frameTime(i): the compressor reads the clock as each frame starts and ends.
  if (frameTime)
    compress.TimeFramesWith([now = std::chrono::nanoseconds(), reading = 0, frameTime]() mutable {
      const int i = reading++;
      return i % 2 ? now += frameTime(i / 2) : now;
    });
  CompressRequest request = Request(width, height, 15);
  if (!compress.Begin(request)) return {};
  std::vector<ExpectedPacket> packets;
  for (int i = 0; i < frames; ++i) {
    DrawScreen(compress.Bitmap(), i);
    CompressedFrame frame;
    frame.FrameNumber = uint32_t(i);
    if (!compress.Compress(frame)) return {};
    packets.push_back(
        {QByteArray(reinterpret_cast<const char*>(frame.Data), frame.Size), frame.Flags});
    if (sizes) sizes->push_back(frame.Size);
  }
  compress.End();
  std::vector<QByteArray> decoded;
  QString errors;
  if (!TinyAvi::Write(path, request.OutputFormat, width, height, 15, packets) ||
      !MediaProbe::DecodeRaw(path, pixelFormat, qsizetype(width) * height * 3 / 2, decoded,
                             &errors))
    ADD_FAILURE() << code << ": " << errors.toStdString();
  return decoded;
}

// Every YUV compressor: what it recorded through libyuv decodes to the
// planes it recorded through swscale, within rounding, plane by plane.
TEST(AviCompressColour, YuvCompressorsConvertAsSwscaleDoes) {
  constexpr int kWidth = 176, kHeight = 144, kFrames = 4;
  constexpr qsizetype kLuma = qsizetype(kWidth) * kHeight, kChroma = kLuma / 4;
  const struct {
    const char* Code;
    const char* Format;
  } cases[] = {{"MP42", "yuv420p"},
               {"DIV3", "yuv420p"},
               {"XVID", "yuv420p"},
               {"H264", "yuv420p"},
               {"MJPG", "yuvj420p"}};
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("frames.avi"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Code);
    const QString format = QLatin1String(c.Format);
    const auto ours = RecordAndDecode(c.Code, format, kWidth, kHeight, kFrames, path);
    VideoEncoder::ConvertWithScalerOnly(true);
    const auto reference = RecordAndDecode(c.Code, format, kWidth, kHeight, kFrames, path);
    VideoEncoder::ConvertWithScalerOnly(false);
    ASSERT_EQ(ours.size(), size_t(kFrames));
    ASSERT_EQ(reference.size(), size_t(kFrames));
    for (size_t i = 0; i < ours.size(); ++i) {
      const char* a = ours[i].constData();
      const char* b = reference[i].constData();
      const double planes[] = {Psnr(a, b, kLuma), Psnr(a + kLuma, b + kLuma, kChroma),
                               Psnr(a + kLuma + kChroma, b + kLuma + kChroma, kChroma)};
      for (int p = 0; p < 3; ++p) EXPECT_GE(planes[p], 45.0) << "frame " << i << " plane " << p;
    }
  }
}

// PSNR of a recording's frames against the reference's, all planes at once.
double MeanPsnr(const std::vector<QByteArray>& frames, const std::vector<QByteArray>& reference) {
  double sum = 0;
  for (size_t i = 0; i < frames.size(); ++i)
    sum += Psnr(frames[i].constData(), reference[i].constData(), frames[i].size());
  return sum / double(std::max<size_t>(frames.size(), 1));
}

// An encoder that can code slices on several threads runs on one while it keeps up with the
// frame rate (15 fps: frames of 10 ms), and moves to slices once its frames take longer than
// the rate allows (70 ms). A slow first frame (the encoder's start) and key frames that take
// eight periods but average out over their interval do not move it. Every frame still
// decodes, and the one thread loses nothing to slices (the reference is the same frames at
// the highest quality).
TEST(AviCompressColour, SlowFramesMoveToSlicesAndKeepEveryFrameAndTheQuality) {
  using namespace std::chrono_literals;
  const auto steady = [](std::chrono::milliseconds t) { return [t](int) { return t; }; };
  constexpr int kWidth = 176, kHeight = 144, kFrames = 40, kKeyInterval = 12, kFirstLook = 10;
  const struct {
    const char* Code;
    const char* Format;
    int Quality;
  } cases[] = {{"H264", "yuv420p", 55}, {"XVID", "yuv420p", 90}, {"MJPG", "yuvj420p", 90}};
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("frames.avi"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Code);
    const QString format = QLatin1String(c.Format);
    const auto reference =
        RecordAndDecode(c.Code, format, kWidth, kHeight, kFrames, path, {100, kKeyInterval});
    std::vector<uint32_t> oneThread, slices, spiky;
    const auto fast = RecordAndDecode(c.Code, format, kWidth, kHeight, kFrames, path,
                                      {c.Quality, kKeyInterval}, steady(10ms), &oneThread);
    const auto slow = RecordAndDecode(c.Code, format, kWidth, kHeight, kFrames, path,
                                      {c.Quality, kKeyInterval}, steady(70ms), &slices);
    const bool intraOnly = std::string_view(c.Code) == "MJPG";
    RecordAndDecode(
        c.Code, format, kWidth, kHeight, kFrames, path, {c.Quality, kKeyInterval},
        [intraOnly](int i) {
          return i == 0 ? 900ms : i % kKeyInterval || intraOnly ? 10ms : 560ms;
        },
        &spiky);
    EXPECT_EQ(spiky, oneThread);
    ASSERT_EQ(reference.size(), size_t(kFrames));
    ASSERT_EQ(slow.size(), size_t(kFrames));
    ASSERT_EQ(fast.size(), size_t(kFrames));
    // The frames before the first look at the rate are coded alike; slices show after it.
    EXPECT_TRUE(std::equal(oneThread.begin(), oneThread.begin() + kFirstLook, slices.begin()));
    if (std::thread::hardware_concurrency() > 1) {
      EXPECT_NE(oneThread, slices);
    }
    // One thread codes at least as well as slices, which still code within a decibel of it.
    const double oneThreadPsnr = MeanPsnr(fast, reference), slicesPsnr = MeanPsnr(slow, reference);
    EXPECT_GE(oneThreadPsnr, slicesPsnr - 0.05);
    EXPECT_GE(slicesPsnr, oneThreadPsnr - 1.0);
  }
}

// The lossless compressors give back every pixel, at an odd size and at a full screen's.
TEST(AviCompressColour, LosslessCompressorsKeepEveryPixel) {
  const struct { int Width, Height; } sizes[] = {{37, 23}, {1920, 1080}};
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* code : {"FFV1", "ZMBV", "MPNG"}) {
    for (const auto& size : sizes) {
      SCOPED_TRACE(testing::Message() << code << " " << size.Width << "x" << size.Height);
      AviCompress compress;
      ASSERT_TRUE(compress.Select(Code(code)));
      CompressRequest request = Request(size.Width, size.Height, 15);
      ASSERT_TRUE(compress.Begin(request));
      std::vector<ExpectedPacket> packets;
      std::vector<QByteArray> pictures;
      uint32_t noise = 12345;
      for (int i = 0; i < 2; ++i) {
        // Every byte value, in no order a predictor could guess, over the moving screen.
        DrawScreen(compress.Bitmap(), i);
        for (int y = 0; y < size.Height; y += 2) {
          uint8_t* row = compress.Bitmap().ScanLine(y);
          for (int x = 0; x < size.Width * 3; ++x) {
            noise = noise * 1664525u + 1013904223u;
            row[x] = uint8_t(noise >> 24);
          }
        }
        pictures.push_back(TopDown(compress.Bitmap()));
        CompressedFrame frame;
        frame.FrameNumber = uint32_t(i);
        ASSERT_TRUE(compress.Compress(frame));
        packets.push_back(
            {QByteArray(reinterpret_cast<const char*>(frame.Data), frame.Size), frame.Flags});
      }
      compress.End();
      const QString path = dir.filePath(QStringLiteral("lossless.avi"));
      ASSERT_TRUE(TinyAvi::Write(path, request.OutputFormat, size.Width, size.Height, 15, packets));
      QString errors;
      const std::vector<QByteArray> decoded = DecodeFrames(path, size.Width, size.Height, &errors);
      ASSERT_EQ(decoded.size(), pictures.size()) << errors.toStdString();
      for (size_t i = 0; i < decoded.size(); ++i)
        EXPECT_TRUE(decoded[i] == pictures[i]) << "frame " << i;
    }
  }
}

// 32-bit rows, whatever their fourth bytes hold, compress to the very packets of the same
// picture in 24-bit rows, with every compressor of the catalogue.
TEST(AviCompressColour, ThirtyTwoBitRowsCompressAsTwentyFourBitRows) {
  constexpr int kWidth = 68, kHeight = 52, kFrames = 3;
  for (const char* code : kCatalogueCodes) {
    SCOPED_TRACE(code);
    std::vector<QByteArray> packets[2];
    const PixelFormat inputs[2] = {PixelFormat::Bits24, PixelFormat::Bits32};
    for (int k = 0; k < 2; ++k) {
      AviCompress compress;
      ASSERT_TRUE(compress.Select(Code(code)));
      CompressRequest request = Request(kWidth, kHeight, 15);
      request.Format = inputs[k];
      ASSERT_TRUE(compress.Begin(request));
      DIBBitmap picture;
      picture.SetFormat(kWidth, kHeight, PixelFormat::Bits24);
      for (int i = 0; i < kFrames; ++i) {
        DrawScreen(picture, i);
        DIBBitmap& bitmap = compress.Bitmap();
        for (int y = 0; y < kHeight; ++y) {
          for (int x = 0; x < kWidth; ++x) {
            if (k == 0) {
              std::memcpy(bitmap.ScanLine(y) + x * 3, picture.ScanLine(y) + x * 3, 3);
            } else {
              std::memcpy(bitmap.ScanLine(y) + x * 4, picture.ScanLine(y) + x * 3, 3);
              bitmap.ScanLine(y)[x * 4 + 3] = uint8_t(x * 7 + y);
            }
          }
        }
        CompressedFrame frame;
        frame.FrameNumber = uint32_t(i);
        ASSERT_TRUE(compress.Compress(frame));
        packets[k].emplace_back(reinterpret_cast<const char*>(frame.Data), qsizetype(frame.Size));
      }
      compress.End();
    }
    EXPECT_EQ(packets[0], packets[1]);
  }
}

TEST(AviCompressBegin, SizesAnEncoderCannotTakeFailTheBegin) {
  AviCompress compress;
  for (const char* code : {"H264", "cvid", "CRAM"}) {
    ASSERT_TRUE(compress.Select(Code(code)));
    CompressRequest odd = Request(31, 30, 15);
    EXPECT_FALSE(compress.Begin(odd)) << code;
    EXPECT_FALSE(compress.End()) << code;
  }
  // Cinepak and Video 1 work on 4 x 4 blocks.
  for (const char* code : {"cvid", "CRAM"}) {
    ASSERT_TRUE(compress.Select(Code(code)));
    CompressRequest even = Request(30, 30, 15);
    EXPECT_FALSE(compress.Begin(even)) << code;
  }
  // The MPEG-4 family takes any size.
  ASSERT_TRUE(compress.Select(MakeFourCC("MP42")));
  CompressRequest odd = Request(31, 31, 15);
  ASSERT_TRUE(compress.Begin(odd));
  CompressedFrame frame;
  ASSERT_TRUE(compress.Compress(frame));
  EXPECT_GT(frame.Size, 0u);
  EXPECT_EQ(frame.Flags, kAviKeyFrame);
}

// Compresses count changing frames from number 0 on and returns the flags of each.
std::vector<uint32_t> FlagsOfFrames(AviCompress& compress, uint32_t count) {
  std::vector<uint32_t> flags;
  for (uint32_t i = 0; i < count; ++i) {
    DrawFrame(compress.Bitmap(), int(i));
    CompressedFrame frame;
    frame.FrameNumber = i;
    compress.Compress(frame);
    flags.push_back(frame.Flags);
  }
  return flags;
}

TEST(AviCompressBegin, AnnouncesTheFrameRateAndItsKeyFrameRate) {
  AviCompress compress;
  ASSERT_TRUE(compress.Select(MakeFourCC("FFV1")));
  // 2.5 frames per second rounds to 2 (ties to even): a key frame every second frame.
  CompressRequest request = Request(32, 32, 2.5L);
  ASSERT_TRUE(compress.Begin(request));
  EXPECT_EQ(FlagsOfFrames(compress, 6), (std::vector<uint32_t>{0x10, 0, 0x10, 0, 0x10, 0}));

  // The options' interval wins over the announced rate.
  compress.SetOptions({.Quality = 50, .KeyFrameInterval = 3});
  ASSERT_TRUE(compress.Begin(request));
  EXPECT_EQ(FlagsOfFrames(compress, 6), (std::vector<uint32_t>{0x10, 0, 0, 0x10, 0, 0}));
}

// --- Failures -----------------------------------------------------------------------------

TEST(AviCompressFailure, AFrameTheCompressorRefusesGoesThroughTheErrorReport) {
  test::RecordingMessages messages;
  AviCompress compress;
  ASSERT_TRUE(compress.Select(MakeFourCC("MP42")));
  CompressRequest request = Request(32, 32, 15);
  ASSERT_TRUE(compress.Begin(request));

  compress.InjectFault(EncoderResult::BadFormat);
  CompressedFrame frame;
  frame.FrameNumber = 7;
  EXPECT_THROW(compress.Compress(frame), SilentAbort);
  ASSERT_EQ(messages.Reports().size(), 1);
  EXPECT_EQ(messages.Reports()[0], QStringLiteral("Fail to compress frame 7 Error code: -2"));
  EXPECT_TRUE(messages.Messages().isEmpty());

  // The recording that was cut short never ended its sequence; the next one starts cleanly.
  ASSERT_TRUE(compress.Begin(request));
  frame.FrameNumber = 0;
  ASSERT_TRUE(compress.Compress(frame));
  EXPECT_EQ(frame.Flags, kAviKeyFrame);
  EXPECT_EQ(messages.Reports().size(), 1);
}

TEST(AviCompressFailure, CompressingWithoutABegunSequenceIsReported) {
  test::RecordingMessages messages;
  AviCompress compress;
  ASSERT_TRUE(compress.Select(MakeFourCC("MP42")));
  CompressedFrame frame;
  frame.FrameNumber = 4;
  EXPECT_THROW(compress.Compress(frame), SilentAbort);
  ASSERT_EQ(messages.Reports().size(), 1);
  EXPECT_EQ(messages.Reports()[0], QStringLiteral("Fail to compress frame 4 Error code: -100"));
}

}  // namespace
}  // namespace qm
