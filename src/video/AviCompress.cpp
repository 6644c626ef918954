#include "video/AviCompress.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>

#include "common/BitmapInfoHeader.h"
#include "common/ErrorReport.h"
#include "common/FourCC.h"
#include "common/LittleEndian.h"
#include "common/UserMessages.h"
#include "platform/codecs/VideoEncoder.h"

namespace qm {

namespace {

// Offset of the image size field in a BITMAPINFOHEADER.
constexpr size_t kImageSizeOffset = 20;

CompressorEntry BuiltInEntry() {
  CompressorEntry entry;
  entry.Type = 0;
  entry.Handler = 0;
  entry.Name = QStringLiteral("Uncompressed");
  entry.Description = QStringLiteral("Uncompressed 24bits DIB");
  return entry;
}

// Opens the compressor for query only and takes its name and description.
void DescribeInstalled(CompressorEntry& entry) {
  std::unique_ptr<VideoEncoder> compressor =
      VideoEncoder::Open(entry.Type, entry.Handler, EncoderMode::Query);
  if (!compressor) return;
  EncoderInfo info;
  if (!compressor->GetInfo(info)) return;
  entry.Name = info.Name;
  entry.Description = info.Description;
}

// Rounds to the nearest integer, ties to even (the default rounding mode), kept within what
// the 32-bit fields of the frames info can hold.
uint32_t RoundEven(long double value) {
  if (!(value > 0)) return 0;
  return uint32_t(std::nearbyint(std::min(value, 4.0e9L)));
}

// Lets the user interface handle what queued up while a frame was compressed; only on the
// thread that runs it.
void ProcessPendingMessages() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app && app->thread() == QThread::currentThread()) QCoreApplication::processEvents();
}

}  // namespace

AviCompress::AviCompress() {
  try {
    ListEntries();
  } catch (const std::exception&) {
    // The list keeps what was gathered before the failure.
    if (entries_.empty()) entries_.push_back(BuiltInEntry());
    current_ = 0;
  }
}

AviCompress::~AviCompress() {
  End();
  CloseCompressor();
}

bool AviCompress::AdmitEntry(CompressorEntry& entry,
                             const std::function<void(CompressorEntry&)>& describe) {
  const QString code = FourCCText(entry.Handler).toLower();
  if (code == QLatin1String("hfyu")) return false;
  if (code == QLatin1String("divx")) {
    entry.Description = QStringLiteral("DivX");
    return true;
  }
  if (describe) describe(entry);
  entry.Description = entry.Description.trimmed();
  if (entry.Description.isEmpty()) return false;
  const QString lower = entry.Description.toLower();
  return !lower.contains(QLatin1String("yuv")) && !lower.contains(QLatin1String("h.")) &&
         !lower.contains(QLatin1String("rle"));
}

void AviCompress::ListEntries() {
  // The built-in entry becomes current, so a compressor still open no longer belongs to the
  // current entry: frames would be compressed but stored as uncompressed ones.
  End();
  CloseCompressor();
  entries_.clear();
  entries_.push_back(BuiltInEntry());
  current_ = 0;
  EncoderInfo info;
  for (int i = 0; VideoEncoder::Info(0, i, info); ++i) {
    CompressorEntry entry;
    entry.Type = info.Type;
    entry.Handler = info.Handler;
    if (AdmitEntry(entry, DescribeInstalled)) entries_.push_back(entry);
  }
}

bool AviCompress::FillDisplayList(std::vector<DisplayItem>& items) {
  ListEntries();
  items.clear();
  for (const CompressorEntry& entry : entries_) items.push_back({entry.Description, &entry});
  return true;
}

bool AviCompress::Select(uint32_t code) {
  if (current_ >= 0 && entries_[size_t(current_)].Handler == code) return true;
  End();
  CloseCompressor();

  current_ = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].Handler == code) {
      current_ = int(i);
      break;
    }
  }
  const CompressorEntry& entry = entries_[size_t(current_)];
  if (entry.Handler == 0) return true;

  compressor_ = VideoEncoder::Open(entry.Type, entry.Handler, EncoderMode::Compress);
  if (!compressor_) {
    ShowMessage(QStringLiteral("Fail to initiate the video compressor"));
    return false;
  }
  return true;
}

uint32_t AviCompress::CurrentCode() const {
  return current_ >= 0 ? entries_[size_t(current_)].Handler : 0;
}

int AviCompress::CurrentIndex() const {
  return current_;
}

bool AviCompress::CanConfigure() {
  return compressor_ && compressor_->ConfigureQuery() == EncoderResult::Ok;
}

void AviCompress::InjectFault(EncoderResult result) {
  if (compressor_) compressor_->InjectFault(result);
}

void AviCompress::TimeFramesWith(std::function<std::chrono::nanoseconds()> clock) {
  if (compressor_) compressor_->TimeFramesWith(std::move(clock));
}

std::optional<AviCompress::OptionsForm> AviCompress::Form() const {
  if (!compressor_) return std::nullopt;
  EncoderInfo info;
  compressor_->GetInfo(info);
  return OptionsForm{info.Description, compressor_->HasQuality(), compressor_->Lossless()};
}

std::optional<EncoderSettings> AviCompress::Options() const {
  if (!compressor_) return std::nullopt;
  return compressor_->Settings();
}

void AviCompress::SetOptions(const EncoderSettings& options) {
  if (compressor_) compressor_->SetSettings(options);
}

QString AviCompress::FrameSizeProblem(int32_t width, int32_t height) const {
  const QString size = QStringLiteral("%1 x %2").arg(width).arg(height);
  if (!DIBBitmap::TakesSize(width, height))
    return QStringLiteral("The frame bitmap cannot hold frames of ") + size;
  if (CurrentCode() == 0 || !compressor_) return QString();

  // The 24-bit input the frame bitmap will describe, as Begin hands it over.
  std::array<uint8_t, kBitmapInfoHeaderSize> input{};
  BitmapInfoHeader{.Width = width,
                   .Height = height,
                   .SizeImage = DIBBitmap::StrideFor(width, 24) * uint32_t(height)}
      .Write(input.data());
  if (compressor_->Query(input.data(), nullptr) == EncoderResult::BadFormat) {
    return QStringLiteral("The compressor ") + entries_[size_t(current_)].Description +
           QStringLiteral(" cannot take frames of ") + size;
  }
  return QString();
}

bool AviCompress::Begin(CompressRequest& request) {
  // A sequence left running by a recording that was cut short ends before a new one begins.
  End();
  if (current_ < 0) return false;

  pixelFormat_ = request.Format;
  bitmap_.SetFormat(request.Width, request.Height, pixelFormat_);

  if (CurrentCode() == 0) {
    // Rows counted without their padding to 4 bytes.
    BitmapInfoHeader{.Width = request.Width,
                     .Height = request.Height,
                     .SizeImage = uint32_t(request.Width) * uint32_t(request.Height) * 3}
        .Write(request.OutputFormat.data());
    return true;
  }
  if (!compressor_) return false;

  SequenceInfo frames;
  frames.Flags = kFramesPadding;
  frames.StartFrame = 0;
  frames.FrameCount = request.FrameCountHint;
  frames.KeyRate = int32_t(std::min<uint32_t>(RoundEven(request.FrameRate), INT32_MAX));
  frames.Rate = RoundEven(10000 * request.FrameRate);
  frames.Scale = 10000;
  compressor_->FramesInfo(frames);

  const uint8_t* input = bitmap_.Header();
  const uint32_t formatSize = compressor_->GetFormatSize(input);
  // The AVI writer takes the first 40 bytes, so a shorter format is unusable.
  if (formatSize < kBitmapInfoHeaderSize) return false;
  outputFormat_.assign(formatSize, 0);
  if (compressor_->GetFormat(input, outputFormat_.data()) != EncoderResult::Ok ||
      compressor_->Query(input, outputFormat_.data()) != EncoderResult::Ok) {
    outputFormat_ = {};
    return false;
  }
  compressedBuffer_.assign(compressor_->GetSize(input, outputFormat_.data()), 0);
  if (compressor_->Begin(input, outputFormat_.data()) != EncoderResult::Ok) {
    outputFormat_ = {};
    compressedBuffer_ = {};
    return false;
  }
  std::memcpy(request.OutputFormat.data(), outputFormat_.data(), kBitmapInfoHeaderSize);
  compressing_ = true;
  return true;
}

bool AviCompress::Compress(CompressedFrame& frame) {
  bitmap_.RefreshBits();
  if (!compressor_) {
    frame.Data = bitmap_.Bits();
    frame.Size = GetLE32(bitmap_.Header() + kImageSizeOffset);
    frame.Bitmap = &bitmap_;
    return true;
  }

  uint32_t flags = 0;
  const EncoderResult result =
      compressing_ ? compressor_->Compress(outputFormat_.data(), compressedBuffer_.data(),
                                           uint32_t(compressedBuffer_.size()), bitmap_.Header(),
                                           bitmap_.Bits(), int32_t(frame.FrameNumber), flags,
                                           &bitmap_.Changes())
                   : EncoderResult::Error;
  if (result != EncoderResult::Ok) {
    ShowErrorReport(QStringLiteral("Fail to compress frame ") + QString::number(frame.FrameNumber) +
                    QStringLiteral(" Error code: ") + QString::number(int32_t(result)));
  }
  ProcessPendingMessages();

  frame.Bitmap = &bitmap_;
  frame.Size = GetLE32(outputFormat_.data() + kImageSizeOffset);
  frame.Data = compressedBuffer_.data();
  frame.Flags = flags;
  return true;
}

bool AviCompress::End() {
  if (!compressing_) return false;
  if (compressor_) compressor_->End();
  compressedBuffer_ = {};
  outputFormat_ = {};
  compressing_ = false;
  return true;
}

void AviCompress::CloseCompressor() {
  compressor_.reset();
}

QString EntryCodeText(const CompressorEntry& entry) {
  return entry.Handler == 0 ? QStringLiteral("DIB") : FourCCText(entry.Handler);
}

}  // namespace qm
