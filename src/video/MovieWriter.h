#pragma once

#include <QString>

#include <memory>

#include "platform/audio/SoundEncoder.h"
#include "video/VideoTypes.h"

namespace qm {

class AviWriter;
class AviCompress;
class AudioCatalogue;

// The one entry point of video output: opens a recording file, hands out the frame bitmap
// to grab into, adds frames and closes the file. Open and Close run on the capture thread,
// Bitmap, AddFrame and Checkpoint on the recording's writer thread meanwhile; Compressor on
// the user-interface thread while no recording runs. Calls never overlap.
class MovieWriter {
 public:
  // spoolPath: the AVI writer's index spool file; empty for the application's own.
  explicit MovieWriter(const QString& spoolPath = QString());
  ~MovieWriter();
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;

  bool Open(const QString& fileName, const AviSettings& settings);
  // The next Open gives the file a sound stream of codec (16-bit stereo 48 kHz in); false, and
  // none, when the codec cannot be had. Off again after that recording.
  bool WantSound(SoundCodec codec);
  // The open recording has a sound stream.
  bool HasSound() const;
  // Adds frames of stereo samples to the sound stream, between frames. False when the file
  // refused a chunk.
  bool AddSound(const int16_t* samples, size_t frames);
  // At the end, before Close: what the encoder still holds goes into the file.
  bool EndSound();
  // Why the recording failed, one sentence for the user (the file writer's, AviWriter::Failure).
  const QString& Failure() const;
  // What the user should hear of a recording that went on despite something
  // (AviWriter::Notice); empty for none.
  const QString& Notice() const;
  DIBBitmap& Bitmap();
  bool AddFrame();
  // Adds a frame that repeats the previous one: an empty chunk, nothing compressed (the
  // compressor learns of it from the next frame's number). The newest repeat is held back
  // until the next frame, so that EndRepeats can still make it a whole frame.
  bool AddSameFrame();
  // At the end of a recording, before Close, on the capture thread: a repeat held back
  // becomes a whole frame, the bitmap's picture compressed again. Demuxers leave empty chunks
  // out and time the frames after them by their place; a file that ended with them would
  // decode shorter than it lasts. False when it could not be written (it is then left out).
  bool EndRepeats();
  // 0 keeps the requested rate. False without an open file.
  bool Close(long double actualFrameRate);
  // Refreshes the open file's sizes and counts with the rate so far (AviWriter::Checkpoint);
  // between frames.
  bool Checkpoint(long double rateSoFar);
  // Keeps a note of each recording in progress in folder (RecordingJournal), so that the next
  // start completes a recording a crash interrupted. Empty: no notes (the default).
  void KeepJournal(const QString& folder) { journalFolder_ = folder; }

  AviCompress& Compressor();
  AviWriter& Writer();
  AudioCatalogue& Audio();
  bool IsOpen() const { return open_; }
  // The last recording's frames reached the file writer's size limit.
  bool SizeLimitReached() const;
  const CompressedFrame& Frame() const { return frame_; }

 private:
  // Writes the repeat held back, as an empty chunk.
  bool WriteHeldRepeat();

  bool open_ = false;
  std::unique_ptr<AviWriter> avi_;
  CompressedFrame frame_;
  bool repeatHeld_ = false;
  AviSettings settings_;
  std::unique_ptr<AviCompress> compressor_;
  std::unique_ptr<AudioCatalogue> audio_;
  QString journalFolder_;
  bool soundWanted_ = false;
  SoundEncoder sound_;
  QString journal_;
};

}  // namespace qm
