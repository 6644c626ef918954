#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <memory>

#include "platform/files/BinaryFile.h"
#include "video/VideoTypes.h"

namespace qm {

class AviChunk;
class AviList;
class AviCompress;
class TickClock;

// Writes one recording as a RIFF "AVI " file with one video stream, byte by byte: a fixed
// header region at Open, one chunk per frame with its index entry spooled to a side file,
// and at Close the "idx1" index copied in from the spool and the headers rewritten with the
// achieved rate. One writer serves every recording of the application.
// Open and Close run on the capture thread, AddFrame on the user-interface thread; calls
// never overlap.
class AviWriter {
 public:
  // The largest file the writer produces: every size and offset in the file stays a valid
  // signed 32-bit value.
  static constexpr int64_t kMaxFileSize = 0x7FFFFFFF;

  // spoolPath: the index spool file; empty for DefaultSpoolPath(). A spool file left behind
  // by an earlier run is deleted. clock: what AddFrame sleeps on; null for the system's.
  explicit AviWriter(const QString& spoolPath = QString(), TickClock* clock = nullptr);
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Starts a new file with provisional headers and begins the compressor's sequence. Every
  // check (frame size, spool, compressor) comes first, and the headers are written beside
  // the target: an existing file is replaced only when the recording really starts. On a
  // false result (or an exception) nothing is left open or on disk; OpenFailure says why.
  bool Open(const QString& fileName, const AviSettings& settings, AviCompress& compressor);
  // Why the last Open failed, one sentence for the user; empty after a successful Open.
  const QString& OpenFailure() const { return openFailure_; }
  // Compresses the compressor's frame bitmap and appends it. False when the frame could not
  // be written (the user is told which file and why; the file keeps the frames before it), or
  // would take the file past SizeLimit() (then nothing of it is written and the user is told
  // once per recording); the recording should then be closed.
  bool AddFrame(CompressedFrame& frame);
  // Completes the file: index, final headers with actualFrameRate (0 keeps the rate given at
  // Open). The file is closed whatever the result.
  bool Close(long double actualFrameRate);

  bool IsOpen() const { return open_; }
  const QString& SpoolPath() const { return spoolPath_; }
  uint32_t FramesWritten() const { return framesWritten_; }

  // The largest file length allowed, index included; kMaxFileSize unless a test lowers it.
  int64_t SizeLimit() const { return sizeLimit_; }
  void SetSizeLimit(int64_t bytes);
  // The current (or last) recording refused a frame at the size limit.
  bool SizeLimitReached() const { return sizeLimitReported_; }

  // "Index.~tmp" in the executable's folder when that is writable, else in the per-user
  // data folder.
  static QString DefaultSpoolPath();
  // What the user is told when a recording reaches the size limit.
  static QString SizeLimitMessage();
  // What the user is told when a write to fileName failed with the system's error code.
  static QString WriteFailedMessage(const QString& fileName, int error);
  // Where Open writes the headers before the file takes the name fileName.
  static QString PartPath(const QString& fileName);

 private:
  class OpenUndo;

  void RefreshHeaders();
  bool WriteHeaderTree();
  bool CopyIndex();
  bool DeleteSpool();
  void CloseFiles();
  uint32_t ChunkCode() const;

  AviCompress* compressor_ = nullptr;
  TickClock* clock_;
  BinaryFile file_;
  BinaryFile spool_;
  bool open_ = false;
  std::unique_ptr<AviList> root_;

  long double frameRate_ = 0;
  int32_t frameCountHint_ = 0;
  uint32_t streams_ = 1;
  uint32_t largestFrame_ = 0;
  uint32_t quality_ = 10000;
  int32_t width_ = 0;
  int32_t height_ = 0;
  uint32_t handler_ = 0;

  std::array<uint8_t, 56> mainHeader_{};
  std::array<uint8_t, 56> streamHeader_{};
  std::array<uint8_t, 40> videoFormat_{};
  std::array<uint8_t, 248> extendedHeader_{};
  AviChunk* mainHeaderChunk_ = nullptr;
  AviChunk* streamHeaderChunk_ = nullptr;

  QString fileName_;
  QString spoolPath_;
  int64_t moviPosition_ = 0;
  uint32_t framesWritten_ = 0;
  uint32_t spoolEntries_ = 0;

  QString openFailure_;
  int64_t sizeLimit_ = kMaxFileSize;
  bool sizeLimitReported_ = false;
};

}  // namespace qm
