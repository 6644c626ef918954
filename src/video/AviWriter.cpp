#include "video/AviWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/CommonParams.h"
#include "common/LittleEndian.h"
#include "common/UserMessages.h"
#include "platform/clock/TickClock.h"
#include "video/AviChunk.h"
#include "video/AviCompress.h"
#include "video/AviList.h"

namespace qm {

namespace {

constexpr uint32_t kRiff = MakeFourCC("RIFF");
constexpr uint32_t kList = MakeFourCC("LIST");
constexpr uint32_t kMovi = MakeFourCC("movi");
constexpr uint32_t kIdx1 = MakeFourCC("idx1");
constexpr uint32_t kJunk = MakeFourCC("JUNK");

// After a frame longer than this the user-interface thread pauses briefly, so that a run of
// large frames does not starve the rest of the desktop.
constexpr uint32_t kLargeFrame = 50000;
constexpr uint32_t kLargeFramePauseMs = 2;

// Zero bytes for the two "JUNK" chunks of the header region, kept for as long as the tree.
const std::array<uint8_t, 4112> kZeros{};

constexpr int kIndexEntrySize = 16;

// Rounds to the nearest integer, ties to even (the default rounding mode); values outside
// the 32-bit range, and rates that are not positive, give the nearest representable value.
uint32_t RoundToU32(long double value) {
  if (!(value > 0)) return 0;
  if (value >= 4294967295.0L) return 0xFFFFFFFFu;
  return uint32_t(std::nearbyint(value));
}

bool OnUserInterfaceThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

bool PathExists(const QString& path) {
  const QFileInfo info(path);
  return info.exists() || info.isSymLink();
}

}  // namespace

AviWriter::AviWriter(const QString& spoolPath, TickClock* clock)
    : clock_(clock ? clock : &TickClock::System()),
      spoolPath_(spoolPath.isEmpty() ? DefaultSpoolPath() : spoolPath) {
  if (PathExists(spoolPath_)) DeleteSpool();
}

AviWriter::~AviWriter() {
  CloseFiles();
}

QString AviWriter::DefaultSpoolPath() {
  QString folder =
      QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
  const QFileInfo info(folder);
  if (folder.isEmpty() || !info.isDir() || !info.isWritable()) {
    folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    QDir().mkpath(folder);
  }
  return QDir(folder).filePath(QStringLiteral("Index.~tmp"));
}

QString AviWriter::SizeLimitMessage() {
  return QStringLiteral(
      "The video file has reached the largest size an AVI file can hold (2 GB).\n"
      "The recording stops here; the file is completed and kept.");
}

QString AviWriter::WriteFailedMessage(const QString& fileName, int error) {
  return QStringLiteral("Can not write file ") + fileName + QStringLiteral(": ") +
         qt_error_string(error);
}

void AviWriter::SetSizeLimit(int64_t bytes) {
  sizeLimit_ = bytes < 0 ? 0 : (bytes > kMaxFileSize ? kMaxFileSize : bytes);
}

uint32_t AviWriter::ChunkCode() const {
  return compressor_ && compressor_->CurrentCode() != 0 ? MakeFourCC("00dc") : MakeFourCC("00db");
}

bool AviWriter::DeleteSpool() {
  // The spool is private scratch, so it is removed outright rather than sent to the Trash.
  return QFile::remove(spoolPath_);
}

void AviWriter::CloseFiles() {
  file_.Close();
  spool_.Close();
  mainHeaderChunk_ = nullptr;
  streamHeaderChunk_ = nullptr;
  root_.reset();
  open_ = false;
}

// Undoes a start that did not get as far as the headers in the target, on a false result
// and on an exception alike: both files are closed, the spool and the half-written file go.
class AviWriter::OpenUndo {
 public:
  explicit OpenUndo(AviWriter& writer) : writer_(writer) {}
  ~OpenUndo() {
    if (committed_) return;
    if (writer_.compressor_) writer_.compressor_->End();
    writer_.CloseFiles();
    if (spoolMade_) writer_.DeleteSpool();
    if (!partPath_.isEmpty()) QFile::remove(partPath_);
  }
  OpenUndo(const OpenUndo&) = delete;
  OpenUndo& operator=(const OpenUndo&) = delete;

  void PartMade(const QString& path) { partPath_ = path; }
  void SpoolMade() { spoolMade_ = true; }
  void Commit() { committed_ = true; }

 private:
  AviWriter& writer_;
  QString partPath_;
  bool spoolMade_ = false;
  bool committed_ = false;
};

QString AviWriter::PartPath(const QString& fileName) {
  return fileName + QStringLiteral(".~new");
}

bool AviWriter::Open(const QString& fileName, const AviSettings& settings,
                     AviCompress& compressor) {
  compressor_ = &compressor;
  CloseFiles();
  openFailure_.clear();

  framesWritten_ = 0;
  spoolEntries_ = 0;
  largestFrame_ = 0;
  sizeLimitReported_ = false;
  mainHeader_.fill(0);
  streamHeader_.fill(0);
  videoFormat_.fill(0);

  frameRate_ = settings.FrameRate;
  width_ = settings.Width;
  height_ = settings.Height;
  frameCountHint_ = settings.FrameCountHint;
  streams_ = 1;
  quality_ = 10000;
  fileName_ = fileName;

  OpenUndo undo(*this);
  const auto fail = [this](const QString& cause) {
    openFailure_ = cause;
    return false;
  };
  const QString cannotCreate = QStringLiteral("Can not create file ") + fileName;

  // Everything that can refuse the recording comes before the target is touched: an existing
  // file is replaced only by a recording that really starts. The headers go to a file beside
  // the target, which takes the target's place once they stand.
  if (const QString problem = compressor.FrameSizeProblem(width_, height_); !problem.isEmpty())
    return fail(problem);
  // An existing target is replaced by renaming, so it must be a plain file we may write (a
  // device or a folder is never renamed over); a link is followed to the file it names.
  const QFileInfo target(fileName);
  QString finalPath = fileName;
  if (target.exists()) {
    if (!target.isFile() || !target.isWritable()) return fail(cannotCreate);
    finalPath = target.canonicalFilePath();
  }
  const QString partPath = PartPath(finalPath);
  if (!file_.Create(partPath)) return fail(cannotCreate);
  undo.PartMade(partPath);
  if (target.exists()) QFile::setPermissions(partPath, target.permissions());

  if (PathExists(spoolPath_) && !DeleteSpool())
    return fail(QStringLiteral("Can not delete file ") + spoolPath_);
  if (!spool_.Create(spoolPath_)) return fail(QStringLiteral("Can not create file ") + spoolPath_);
  undo.SpoolMade();

  CompressRequest request;
  request.FrameRate = frameRate_;
  request.Width = width_;
  request.Height = height_;
  request.FrameCountHint = frameCountHint_;
  request.Format = PixelFormat::Bits24;
  if (!compressor.Begin(request)) {
    return fail(QStringLiteral(
        "Can not initiate encoding with this codec.\nMost likely it can only be used for "
        "decoding."));
  }
  std::memcpy(videoFormat_.data(), request.OutputFormat.data(), videoFormat_.size());
  handler_ = compressor.CurrentCode() != 0 ? compressor.CurrentCode() : MakeFourCC("DIB ");

  root_ = std::make_unique<AviList>(kRiff, &file_, MakeFourCC("AVI "));
  open_ = true;
  RefreshHeaders();

  if (!file_.Seek(0) || !WriteHeaderTree()) return fail(cannotCreate);
  moviPosition_ = file_.Position();
  if (!file_.WriteU32(kList) || !file_.WriteU32(0) || !file_.WriteU32(kMovi))
    return fail(cannotCreate);
  // The open file follows its new name.
  if (std::rename(QFile::encodeName(partPath).constData(),
                  QFile::encodeName(finalPath).constData()) != 0) {
    return fail(cannotCreate);
  }
  undo.Commit();
  return true;
}

void AviWriter::RefreshHeaders() {
  const uint32_t microSecondsPerFrame = frameRate_ > 0 ? RoundToU32(1000000.0L / frameRate_) : 0;
  uint8_t* avih = mainHeader_.data();
  PutLE32(avih + 0, microSecondsPerFrame);
  PutLE32(avih + 4, 0);       // maximum bytes per second
  PutLE32(avih + 8, 0);       // padding granularity
  PutLE32(avih + 12, 0x110);  // has index, interleaved
  PutLE32(avih + 16, framesWritten_);
  PutLE32(avih + 20, 0);  // initial frames
  PutLE32(avih + 24, streams_);
  PutLE32(avih + 28, 0);  // suggested buffer size
  PutLE32(avih + 32, uint32_t(width_));
  PutLE32(avih + 36, uint32_t(height_));

  uint8_t* strh = streamHeader_.data();
  PutLE32(strh + 0, MakeFourCC("vids"));
  PutLE32(strh + 4, handler_);
  PutLE32(strh + 8, 0);       // flags
  PutLE16(strh + 12, 0);      // priority
  PutLE16(strh + 14, 0);      // language
  PutLE32(strh + 16, 0);      // initial frames
  PutLE32(strh + 20, 10000);  // scale
  PutLE32(strh + 24, RoundToU32(frameRate_ * 10000.0L));
  PutLE32(strh + 28, 0);  // start
  PutLE32(strh + 32, framesWritten_);
  PutLE32(strh + 36, largestFrame_);
  PutLE32(strh + 40, quality_);
  PutLE32(strh + 44, 0);  // sample size
  PutLE16(strh + 48, 0);
  PutLE16(strh + 50, 0);
  PutLE16(strh + 52, uint32_t(width_));
  PutLE16(strh + 54, uint32_t(height_));
}

bool AviWriter::WriteHeaderTree() {
  if (!open_ || !root_) return false;
  extendedHeader_.fill(0);
  PutLE32(extendedHeader_.data(), 480);

  AviList& hdrl = root_->AddList(kList, MakeFourCC("hdrl"));
  mainHeaderChunk_ = &hdrl.AddChunk(MakeFourCC("avih"), mainHeader_.data(), 56);
  AviList& strl = hdrl.AddList(kList, MakeFourCC("strl"));
  streamHeaderChunk_ = &strl.AddChunk(MakeFourCC("strh"), streamHeader_.data(), 56);
  strl.AddChunk(MakeFourCC("strf"), videoFormat_.data(), 40);
  strl.AddChunk(kJunk, kZeros.data(), 4112);
  AviList& odml = hdrl.AddList(kList, MakeFourCC("odml"));
  odml.AddChunk(MakeFourCC("dmlh"), extendedHeader_.data(), 248);
  hdrl.AddChunk(kJunk, kZeros.data(), 1528);
  return root_->Write();
}

bool AviWriter::AddFrame(CompressedFrame& frame) {
  if (!open_ || !file_.IsOpen() || !spool_.IsOpen() || !compressor_) return false;
  const uint32_t code = ChunkCode();
  if (!compressor_->Compress(frame)) return false;

  const uint32_t n = frame.Size;
  const int64_t written = int64_t(n) + (n & 1);
  const int64_t chunkStart = file_.Position();

  // The file never grows past what its 32-bit fields can describe: the frame is refused
  // when the file with it and with the complete index would pass the limit, so the Close
  // that follows still completes a valid file.
  const int64_t finalSize =
      chunkStart + 8 + written + 8 + kIndexEntrySize * (int64_t(spoolEntries_) + 1);
  if (finalSize > sizeLimit_) {
    if (!sizeLimitReported_) {
      sizeLimitReported_ = true;
      ShowMessage(SizeLimitMessage());
    }
    return false;
  }

  const uint32_t previousLargest = largestFrame_;
  if (n > largestFrame_) largestFrame_ = n;

  const bool compressed = compressor_->CurrentCode() != 0;
  uint8_t entry[kIndexEntrySize];
  PutLE32(entry + 0, code);
  PutLE32(entry + 4, compressed ? frame.Flags : kAviKeyFrame);
  PutLE32(entry + 8, uint32_t(chunkStart - moviPosition_ - 8));
  PutLE32(entry + 12, n);
  const int64_t spoolStart = spool_.Position();
  if (!spool_.Write(entry, sizeof entry)) {
    // A frame without its index entry would shift every later entry, so the frame is not
    // written either; the spool is cut back to its last whole entry.
    ShowMessage(WriteFailedMessage(spoolPath_, spool_.LastError()));
    spool_.Truncate(spoolStart);
    spool_.Seek(spoolStart);
    largestFrame_ = previousLargest;
    return false;
  }
  ++spoolEntries_;

  uint8_t header[8];
  PutLE32(header + 0, code);
  PutLE32(header + 4, n);
  static const uint8_t kPad = 0;
  if (!file_.Write(header, sizeof header) || !file_.Write(frame.Data, n) ||
      ((n & 1) && !file_.Write(&kPad, 1))) {
    // Cut away the partial chunk and its index entry, so that the file can still be closed
    // as a valid recording of the frames before it.
    ShowMessage(WriteFailedMessage(fileName_, file_.LastError()));
    file_.Truncate(chunkStart);
    file_.Seek(chunkStart);
    spool_.Truncate(spoolStart);
    spool_.Seek(spoolStart);
    --spoolEntries_;
    largestFrame_ = previousLargest;
    return false;
  }

  if (OnUserInterfaceThread()) QCoreApplication::processEvents();
  if (written > kLargeFrame) clock_->Sleep(kLargeFramePauseMs);
  ++framesWritten_;
  return true;
}

bool AviWriter::CopyIndex() {
  spool_.Close();
  if (!spool_.OpenRead(spoolPath_)) return false;
  constexpr size_t kBlockEntries = 4096;
  std::vector<uint8_t> block(kBlockEntries * kIndexEntrySize);
  uint32_t left = spoolEntries_;
  while (left > 0) {
    const size_t entries = left < kBlockEntries ? left : kBlockEntries;
    const size_t bytes = entries * kIndexEntrySize;
    if (!spool_.Read(block.data(), bytes) || !file_.Write(block.data(), bytes)) return false;
    left -= uint32_t(entries);
  }
  spool_.Close();
  DeleteSpool();
  return true;
}

bool AviWriter::Close(long double actualFrameRate) {
  if (!open_ || !file_.IsOpen() || !root_) {
    CloseFiles();
    return false;
  }
  if (actualFrameRate != 0) frameRate_ = actualFrameRate;
  if (compressor_) compressor_->End();

  bool ok = [&] {
    const int64_t endOfFrames = file_.Position();
    if (!file_.WriteU32(kIdx1) || !file_.WriteU32(spoolEntries_ * kIndexEntrySize)) return false;
    if (!CopyIndex()) return false;
    const int64_t endOfFile = file_.Position();

    RefreshHeaders();
    if (!mainHeaderChunk_ || !streamHeaderChunk_ || !mainHeaderChunk_->Write() ||
        !streamHeaderChunk_->Write()) {
      return false;
    }
    if (!file_.Seek(4) || !file_.WriteU32(uint32_t(endOfFile - 8))) return false;
    return file_.Seek(moviPosition_ + 4) &&
           file_.WriteU32(uint32_t(endOfFrames - moviPosition_ - 8));
  }();

  // A close that fails to reach the disk (a late write-back error) is a failed recording.
  if (!file_.Close()) ok = false;
  CloseFiles();
  return ok;
}

}  // namespace qm
