#include "video/MovieWriter.h"

#include "video/AudioCodec.h"
#include "video/AviCompress.h"
#include "video/AviWriter.h"

namespace qm {

TMovieWriter::TMovieWriter(QWidget* owner, const QString& spoolPath)
    : owner_(owner),
      writer_(std::make_unique<TAviWriter>(spoolPath)),
      compressor_(std::make_unique<TAviCompress>()) {
  compressor_->Select(0);
  settings_ = TAviSettings();
  audioCodecs_ = std::make_unique<TAudioCodec>();
}

TMovieWriter::~TMovieWriter() {
  // The compressor goes first: its sequence may still be running inside the file writer.
  compressor_.reset();
  writer_.reset();
  audioCodecs_.reset();
}

bool TMovieWriter::Open(const QString& fileName, const TAviSettings& settings) {
  settings_ = settings;
  frame_ = TCompressedFrame();
  const bool ok = writer_->Open(fileName, settings_, *compressor_);
  if (ok) open_ = true;
  return ok;
}

TDIBBitmap& TMovieWriter::Bitmap() {
  return compressor_->Bitmap();
}

bool TMovieWriter::AddFrame() {
  const bool ok = writer_->AddFrame(frame_);
  if (ok) ++frame_.FrameNumber;
  return ok;
}

bool TMovieWriter::Close(long double actualFrameRate) {
  if (!open_) return false;
  open_ = false;
  return writer_->Close(actualFrameRate);
}

bool TMovieWriter::Configure() {
  return compressor_->Configure(owner_);
}

TAviCompress& TMovieWriter::Compressor() {
  return *compressor_;
}
TAviWriter& TMovieWriter::Writer() {
  return *writer_;
}
TAudioCodec& TMovieWriter::AudioCodecs() {
  return *audioCodecs_;
}

}  // namespace qm
