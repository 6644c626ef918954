#pragma once

#include <QString>

#include <memory>

#include "video/VideoTypes.h"

class QWidget;

namespace qm {

class TAviWriter;
class TAviCompress;
class TAudioCodec;

// The one entry point of video output: opens a recording file, hands out the frame bitmap
// to grab into, adds frames and closes the file. Open and Close run on the capture thread;
// Bitmap, AddFrame, Configure and Compressor on the user-interface thread.
class TMovieWriter {
 public:
  // spoolPath: the AVI writer's index spool file; empty for the application's own.
  explicit TMovieWriter(QWidget* owner = nullptr, const QString& spoolPath = QString());
  ~TMovieWriter();
  TMovieWriter(const TMovieWriter&) = delete;
  TMovieWriter& operator=(const TMovieWriter&) = delete;

  bool Open(const QString& fileName, const TAviSettings& settings);
  TDIBBitmap& Bitmap();
  bool AddFrame();
  // 0 keeps the requested rate. False without an open file.
  bool Close(long double actualFrameRate);
  bool Configure();

  TAviCompress& Compressor();
  TAviWriter& Writer();
  TAudioCodec& AudioCodecs();
  bool IsOpen() const { return open_; }
  const TCompressedFrame& Frame() const { return frame_; }

 private:
  bool open_ = false;
  QWidget* owner_ = nullptr;
  std::unique_ptr<TAviWriter> writer_;
  TCompressedFrame frame_;
  TAviSettings settings_;
  std::unique_ptr<TAviCompress> compressor_;
  std::unique_ptr<TAudioCodec> audioCodecs_;
};

}  // namespace qm
