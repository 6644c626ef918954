#include <QSpinBox>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "common/FourCC.h"
#include "common/LittleEndian.h"
#include "platform/codecs/VideoEncoder.h"

namespace qm {
namespace {

// A BITMAPINFOHEADER of a 24-bit bottom-up bitmap.
std::array<uint8_t, 40> InputHeader(int32_t width, int32_t height, uint16_t bits = 24,
                                    uint32_t compression = 0) {
  std::array<uint8_t, 40> h{};
  PutLE32(h.data(), 40);
  PutLE32(h.data() + 4, uint32_t(width));
  PutLE32(h.data() + 8, uint32_t(height));
  h[12] = 1;
  h[14] = uint8_t(bits);
  PutLE32(h.data() + 16, compression);
  return h;
}

std::unique_ptr<VideoEncoder> OpenFor(const char (&code)[5], EncoderMode mode) {
  return VideoEncoder::Open(kVideoEncoderType, MakeFourCC(code), mode);
}

TEST(VideoEncoderCatalogue, EnumeratesVideoCompressorsOnly) {
  std::vector<uint32_t> handlers;
  EncoderInfo info;
  for (int i = 0; VideoEncoder::Info(0, i, info); ++i) {
    EXPECT_EQ(info.Type, kVideoEncoderType);
    handlers.push_back(info.Handler);
  }
  ASSERT_FALSE(handlers.empty());
  EXPECT_EQ(handlers.front(), MakeFourCC("MP42"));
  ASSERT_TRUE(VideoEncoder::Info(kVideoEncoderType, 0, info));
  EXPECT_FALSE(VideoEncoder::Info(MakeFourCC("audc"), 0, info));
  EXPECT_FALSE(VideoEncoder::Info(0, -1, info));
  EXPECT_FALSE(VideoEncoder::Info(0, int(handlers.size()), info));
}

TEST(VideoEncoderCatalogue, OpensByCodeInAnyLetterCase) {
  auto lower = VideoEncoder::Open(kVideoEncoderType, MakeFourCC("mp42"), EncoderMode::Query);
  ASSERT_NE(lower, nullptr);
  EncoderInfo info;
  ASSERT_TRUE(lower->GetInfo(info));
  EXPECT_EQ(info.Handler, MakeFourCC("MP42"));
  EXPECT_FALSE(info.Description.isEmpty());
  EXPECT_EQ(VideoEncoder::Open(kVideoEncoderType, MakeFourCC("nope"), EncoderMode::Query), nullptr);
  EXPECT_EQ(VideoEncoder::Open(MakeFourCC("audc"), MakeFourCC("MP42"), EncoderMode::Query),
            nullptr);
}

TEST(VideoEncoderFormat, OutputFormatCarriesTheCodeAndTheSize) {
  auto cram = OpenFor("CRAM", EncoderMode::Compress);
  ASSERT_NE(cram, nullptr);
  const auto in = InputHeader(64, 32);
  ASSERT_EQ(cram->GetFormatSize(in.data()), 40u);
  std::array<uint8_t, 40> out{};
  ASSERT_EQ(cram->GetFormat(in.data(), out.data()), EncoderResult::Ok);
  EXPECT_EQ(GetLE32(out.data()), 40u);
  EXPECT_EQ(GetLE32(out.data() + 4), 64u);
  EXPECT_EQ(GetLE32(out.data() + 8), 32u);
  EXPECT_EQ(out[12], 1);
  EXPECT_EQ(out[14], 16);  // Video 1 decodes to 15-bit colour
  EXPECT_EQ(GetLE32(out.data() + 16), MakeFourCC("CRAM"));
  EXPECT_EQ(cram->Query(in.data(), out.data()), EncoderResult::Ok);
  EXPECT_EQ(cram->Query(in.data(), nullptr), EncoderResult::Ok);
  EXPECT_GE(cram->GetSize(in.data(), out.data()), 64u * 32u * 3u);
}

TEST(VideoEncoderFormat, QueryRefusesWhatTheEncoderCannotTake) {
  auto mp42 = OpenFor("MP42", EncoderMode::Compress);
  ASSERT_NE(mp42, nullptr);
  std::array<uint8_t, 40> out{};
  ASSERT_EQ(mp42->GetFormat(InputHeader(32, 32).data(), out.data()), EncoderResult::Ok);
  EXPECT_EQ(mp42->Query(InputHeader(32, 32, 32).data(), nullptr), EncoderResult::Ok);
  EXPECT_EQ(mp42->Query(InputHeader(32, 32, 16).data(), nullptr), EncoderResult::BadFormat);
  EXPECT_EQ(mp42->Query(InputHeader(32, 32, 24, MakeFourCC("MJPG")).data(), nullptr),
            EncoderResult::BadFormat);
  EXPECT_EQ(mp42->Query(InputHeader(32, -32).data(), nullptr), EncoderResult::BadFormat);
  EXPECT_EQ(mp42->Query(InputHeader(0, 32).data(), nullptr), EncoderResult::BadFormat);
  EXPECT_EQ(mp42->Query(nullptr, nullptr), EncoderResult::BadFormat);
  // An output of another size or another code.
  EXPECT_EQ(mp42->Query(InputHeader(34, 32).data(), out.data()), EncoderResult::BadFormat);
  PutLE32(out.data() + 16, MakeFourCC("DIV3"));
  EXPECT_EQ(mp42->Query(InputHeader(32, 32).data(), out.data()), EncoderResult::BadFormat);
  EXPECT_EQ(mp42->GetFormat(InputHeader(32, 32, 16).data(), out.data()), EncoderResult::BadFormat);

  auto h264 = OpenFor("H264", EncoderMode::Compress);
  ASSERT_NE(h264, nullptr);
  EXPECT_EQ(h264->Query(InputHeader(33, 32).data(), nullptr), EncoderResult::BadFormat);
  EXPECT_EQ(h264->Query(InputHeader(32, 33).data(), nullptr), EncoderResult::BadFormat);
  EXPECT_EQ(h264->Query(InputHeader(34, 32).data(), nullptr), EncoderResult::Ok);
}

TEST(VideoEncoderSequence, CompressesOnlyWithinABegunSequenceOpenedForCompressing) {
  const auto in = InputHeader(16, 16);
  std::vector<uint8_t> bits(16 * 16 * 3, 128);
  std::array<uint8_t, 40> out{};
  std::vector<uint8_t> buffer(100000);
  uint32_t flags = 0;

  auto query = OpenFor("ZMBV", EncoderMode::Query);
  ASSERT_NE(query, nullptr);
  ASSERT_EQ(query->GetFormat(in.data(), out.data()), EncoderResult::Ok);
  EXPECT_EQ(query->Begin(in.data(), out.data()), EncoderResult::Unsupported);

  auto zmbv = OpenFor("ZMBV", EncoderMode::Compress);
  ASSERT_NE(zmbv, nullptr);
  ASSERT_EQ(zmbv->GetFormat(in.data(), out.data()), EncoderResult::Ok);
  EXPECT_EQ(zmbv->Compress(out.data(), buffer.data(), uint32_t(buffer.size()), in.data(),
                           bits.data(), 0, flags),
            EncoderResult::Error);
  ASSERT_EQ(zmbv->Begin(in.data(), out.data()), EncoderResult::Ok);
  ASSERT_EQ(zmbv->Compress(out.data(), buffer.data(), uint32_t(buffer.size()), in.data(),
                           bits.data(), 0, flags),
            EncoderResult::Ok);
  EXPECT_EQ(flags, kKeyFrameFlag);
  const uint32_t size = GetLE32(out.data() + 20);
  EXPECT_GT(size, 0u);
  ASSERT_EQ(zmbv->Compress(out.data(), buffer.data(), uint32_t(buffer.size()), in.data(),
                           bits.data(), 1, flags),
            EncoderResult::Ok);
  EXPECT_EQ(flags, 0u);
  // A buffer too small for the frame is refused, not overrun.
  EXPECT_EQ(zmbv->Compress(out.data(), buffer.data(), 1, in.data(), bits.data(), 3, flags),
            EncoderResult::BadSize);
  // A frame of another size than the sequence's.
  const auto other = InputHeader(32, 16);
  EXPECT_EQ(zmbv->Compress(out.data(), buffer.data(), uint32_t(buffer.size()), other.data(),
                           bits.data(), 4, flags),
            EncoderResult::BadFormat);
  zmbv->End();
  EXPECT_EQ(zmbv->Compress(out.data(), buffer.data(), uint32_t(buffer.size()), in.data(),
                           bits.data(), 5, flags),
            EncoderResult::Error);
}

TEST(VideoEncoderSequence, AnInjectedFaultAnswersOnceWithoutCompressing) {
  const auto in = InputHeader(16, 16);
  std::vector<uint8_t> bits(16 * 16 * 3, 0);
  std::array<uint8_t, 40> out{};
  std::vector<uint8_t> buffer(100000);
  uint32_t flags = 0x99;
  auto mpng = OpenFor("MPNG", EncoderMode::Compress);
  ASSERT_NE(mpng, nullptr);
  ASSERT_EQ(mpng->GetFormat(in.data(), out.data()), EncoderResult::Ok);
  ASSERT_EQ(mpng->Begin(in.data(), out.data()), EncoderResult::Ok);
  mpng->InjectFault(EncoderResult::BadSize);
  EXPECT_EQ(mpng->Compress(out.data(), buffer.data(), uint32_t(buffer.size()), in.data(),
                           bits.data(), 0, flags),
            EncoderResult::BadSize);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(mpng->Compress(out.data(), buffer.data(), uint32_t(buffer.size()), in.data(),
                           bits.data(), 0, flags),
            EncoderResult::Ok);
}

TEST(VideoEncoderSequence, EveryQualityFromZeroToHundredCompresses) {
  const auto in = InputHeader(32, 32);
  std::vector<uint8_t> bits(32 * 32 * 3);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = uint8_t(i * 7);
  std::vector<uint8_t> buffer(200000);
  for (const char* code : {"MP42", "DIV3", "XVID", "H264", "MJPG"}) {
    auto compressor = VideoEncoder::Open(
        kVideoEncoderType,
        MakeFourCC(uint8_t(code[0]), uint8_t(code[1]), uint8_t(code[2]), uint8_t(code[3])),
        EncoderMode::Compress);
    ASSERT_NE(compressor, nullptr) << code;
    std::vector<uint32_t> sizes;
    for (const int quality : {0, 100}) {
      compressor->SetSettings({quality, 0});
      std::array<uint8_t, 40> out{};
      ASSERT_EQ(compressor->GetFormat(in.data(), out.data()), EncoderResult::Ok) << code;
      ASSERT_EQ(compressor->Begin(in.data(), out.data()), EncoderResult::Ok)
          << code << " " << quality;
      uint32_t flags = 0;
      ASSERT_EQ(compressor->Compress(out.data(), buffer.data(), uint32_t(buffer.size()), in.data(),
                                     bits.data(), 0, flags),
                EncoderResult::Ok)
          << code << " " << quality;
      sizes.push_back(GetLE32(out.data() + 20));
    }
    EXPECT_LT(sizes[0], sizes[1]) << code;
  }
}

}  // namespace
}  // namespace qm
