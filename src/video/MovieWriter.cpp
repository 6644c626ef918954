#include "video/MovieWriter.h"

#include <utility>

#include "video/AudioCatalogue.h"
#include "video/AviCompress.h"
#include "video/AviWriter.h"
#include "video/RecordingJournal.h"

namespace qm {

MovieWriter::MovieWriter(const QString& spoolPath)
    : avi_(std::make_unique<AviWriter>(spoolPath)), compressor_(std::make_unique<AviCompress>()) {
  compressor_->Select(0);
  settings_ = AviSettings();
  audio_ = std::make_unique<AudioCatalogue>();
}

MovieWriter::~MovieWriter() {
  // The compressor goes first: its sequence may still be running inside the file writer.
  compressor_.reset();
  avi_.reset();
  audio_.reset();
}

bool MovieWriter::WantSound(SoundCodec codec) {
  soundWanted_ = sound_.Open(codec);
  return soundWanted_;
}

bool MovieWriter::HasSound() const {
  return open_ && avi_->HasSound();
}

bool MovieWriter::AddSound(const int16_t* samples, size_t frames) {
  if (!HasSound()) return false;
  return sound_.Encode(samples, frames, [this](const uint8_t* data, uint32_t size) {
    return avi_->AddSound(data, size);
  });
}

bool MovieWriter::EndSound() {
  if (!HasSound()) return true;
  return sound_.Flush(
      [this](const uint8_t* data, uint32_t size) { return avi_->AddSound(data, size); });
}

bool MovieWriter::Open(const QString& fileName, const AviSettings& settings) {
  settings_ = settings;
  if (std::exchange(soundWanted_, false)) {
    settings_.HasAudio = true;
    settings_.AudioFormat = sound_.Format();
  }
  frame_ = CompressedFrame();
  repeatHeld_ = false;
  const bool ok = avi_->Open(fileName, settings_, *compressor_);
  if (ok) open_ = true;
  if (!ok) sound_.Close();
  if (ok && !journalFolder_.isEmpty())
    journal_ = RecordingJournal::Begin(journalFolder_, avi_->FilePath(), avi_->SpoolPath());
  return ok;
}

const QString& MovieWriter::Failure() const {
  return avi_->Failure();
}

const QString& MovieWriter::Notice() const {
  return avi_->Notice();
}

DIBBitmap& MovieWriter::Bitmap() {
  return compressor_->Bitmap();
}

bool MovieWriter::AddFrame() {
  if (!WriteHeldRepeat()) return false;
  const bool ok = avi_->AddFrame(frame_);
  if (ok) ++frame_.FrameNumber;
  return ok;
}

bool MovieWriter::AddSameFrame() {
  if (!WriteHeldRepeat()) return false;
  repeatHeld_ = true;
  ++frame_.FrameNumber;
  return true;
}

bool MovieWriter::WriteHeldRepeat() {
  if (!repeatHeld_) return true;
  if (!avi_->AddEmptyFrame(frame_)) return false;
  repeatHeld_ = false;
  return true;
}

bool MovieWriter::EndRepeats() {
  if (!repeatHeld_) return true;
  repeatHeld_ = false;
  // The held repeat is the last frame: it takes its own number back and is written whole.
  --frame_.FrameNumber;
  const bool ok = avi_->AddFrame(frame_);
  if (ok) ++frame_.FrameNumber;
  return ok;
}

bool MovieWriter::Close(long double actualFrameRate) {
  if (!open_) return false;
  open_ = false;
  // Without EndRepeats (a recording cut short by a failed step) the repeat stays a repeat.
  if (repeatHeld_ && !WriteHeldRepeat()) {
    repeatHeld_ = false;
    --frame_.FrameNumber;
  }
  const bool ok = avi_->Close(actualFrameRate);
  sound_.Close();
  // A file that could not be completed keeps its note: the next start tries again.
  if (ok) RecordingJournal::End(std::exchange(journal_, QString()));
  return ok;
}

bool MovieWriter::Checkpoint(long double rateSoFar) {
  return open_ && avi_->Checkpoint(rateSoFar);
}

bool MovieWriter::SizeLimitReached() const {
  return avi_->SizeLimitReached();
}

AviCompress& MovieWriter::Compressor() {
  return *compressor_;
}
AviWriter& MovieWriter::Writer() {
  return *avi_;
}
AudioCatalogue& MovieWriter::Audio() {
  return *audio_;
}

}  // namespace qm
