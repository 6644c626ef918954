#include "video/AviWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/FourCC.h"
#include "common/LittleEndian.h"
#include "platform/clock/TickClock.h"
#include "platform/files/DirectStage.h"
#include "platform/files/FileSyncer.h"
#include "platform/files/Folder.h"
#include "platform/files/OutputName.h"
#include "video/AviCompress.h"
#include "video/AviIndex.h"
#include "video/AviSideFiles.h"

namespace qm {

namespace {

constexpr uint32_t kRiff = MakeFourCC("RIFF");
constexpr uint32_t kList = MakeFourCC("LIST");
constexpr uint32_t kMovi = MakeFourCC("movi");
constexpr uint32_t kIdx1 = MakeFourCC("idx1");
constexpr uint32_t kSoundChunk = MakeFourCC("01wb");

// After a frame longer than this the writing thread pauses briefly, so that a run of
// large frames does not starve the rest of the desktop.
constexpr uint32_t kLargeFrame = 50000;
constexpr uint32_t kLargeFramePauseMs = 2;

constexpr int64_t kEntry = AviIndex::kEntryBytes;
// "RIFF" size "AVIX" "LIST" size "movi".
constexpr int64_t kPartHead = 24;

// "Can not create file" with the system's reason (errno when no code is given).
QString CannotCreate(const QString& fileName, int error) {
  return QStringLiteral("Can not create file ") + fileName + QStringLiteral(": ") +
         qt_error_string(error != 0 ? error : EIO);
}
QString CannotCreate(const QString& fileName) {
  return CannotCreate(fileName, errno);
}

bool PathExists(const QString& path) {
  const QFileInfo info(path);
  return info.exists() || info.isSymLink();
}

// Room reserved past what the next frame needs, so that the disk is not asked at each frame.
constexpr int64_t kReserveAhead = int64_t(1) << 20;

}  // namespace

AviWriter::AviWriter(const QString& spoolPath, TickClock* clock)
    : clock_(clock ? clock : &TickClock::System()), givenSpool_(spoolPath), spoolPath_(spoolPath) {
  if (!spoolPath_.isEmpty() && PathExists(spoolPath_) && !QFileInfo(spoolPath_).isDir())
    QFile::remove(spoolPath_);
}

AviWriter::~AviWriter() {
  CloseFiles();
}

QString AviWriter::SizeLimitMessage() {
  return QStringLiteral(
      "The video file has reached the largest size an AVI file can hold.\n"
      "The recording stops here; the file is completed and kept.");
}

QString AviWriter::WriteFailedMessage(const QString& fileName, int error) {
  return QStringLiteral("Can not write file ") + fileName + QStringLiteral(": ") +
         qt_error_string(error);
}

QString AviWriter::BusyMessage(const QString& fileName) {
  return QStringLiteral("The file ") + fileName +
         QStringLiteral(" is being recorded by another recording; choose another file.");
}

QString AviWriter::CloseFailureMessage(const QString& fileName, int error) {
  return qt_error_string(error) + QStringLiteral(": run `quillmark-capture repair ") + fileName +
         QStringLiteral("`");
}

void AviWriter::SetSizeLimit(int64_t bytes) {
  sizeLimit_ = bytes < 0 ? 0 : bytes;
}

void AviWriter::SetRiffLimit(int64_t bytes) {
  // Every size of a part must stay a 32-bit value.
  riffLimit_ = std::clamp<int64_t>(bytes, 0, kRiffLimit * 2 - 2);
}

uint32_t AviWriter::ChunkCode() const {
  return compressor_ && compressor_->CurrentCode() != 0 ? MakeFourCC("00dc") : MakeFourCC("00db");
}

bool AviWriter::DeleteSpool() {
  // The spool is private scratch, so it is removed outright rather than sent to the Trash;
  // only while its name is still the file this writer made.
  return spoolFolder_.RemoveIfHolds(spoolName_, spool_);
}

void AviWriter::CloseFiles() {
  syncer_.reset();
  file_.Close();
  spool_.Close();
  folder_.Close();
  spoolFolder_.Close();
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
    // Only what this start made goes, and only while its names still hold it.
    writer_.DeleteSpool();
    writer_.folder_.RemoveIfHolds(writer_.partName_, writer_.file_);
    writer_.CloseFiles();
  }
  OpenUndo(const OpenUndo&) = delete;
  OpenUndo& operator=(const OpenUndo&) = delete;

  void Commit() { committed_ = true; }

 private:
  AviWriter& writer_;
  bool committed_ = false;
};

bool AviWriter::Fail(const QString& cause) {
  failure_ = cause;
  return false;
}

void AviWriter::Report(const QString& why) {
  // The first refused write is what ended the recording; what follows comes from it.
  if (failure_.isEmpty()) failure_ = why;
}

void AviWriter::Reset(const QString& fileName, const AviSettings& settings) {
  CloseFiles();
  failure_.clear();
  notice_.clear();
  framesWritten_ = 0;
  spoolEntries_ = 0;
  parts_.clear();
  largestFrame_ = 0;
  sizeLimitReported_ = false;
  frameRate_ = settings.FrameRate;
  width_ = settings.Width;
  height_ = settings.Height;
  frameCountHint_ = settings.FrameCountHint;
  fileName_ = fileName;
  hasSound_ = false;
  soundFormat_.clear();
  soundBlock_ = 0;
  soundUnits_ = 0;
  soundChunks_ = 0;
  largestSound_ = 0;
}

bool AviWriter::TakeSoundFormat(const AviSettings& settings) {
  if (!settings.HasAudio) return true;
  // A WAVEFORMATEX: PCM without extra bytes, or a compressed format with up to 12.
  const uint8_t* format = settings.AudioFormat.data();
  const uint32_t extra = GetLE16(format + 16);
  const uint16_t tag = GetLE16(format);
  const uint32_t bytes = 18 + extra;
  const uint32_t block = GetLE16(format + 12);
  if (bytes > AviLayout::kSoundFormatRoom || (tag == 1 && extra != 0) || block == 0 ||
      GetLE32(format + 4) == 0)
    return Fail(CannotCreate(fileName_, EINVAL));
  soundFormat_.assign(format, format + bytes);
  soundBlock_ = tag == 1 ? block : 0;
  hasSound_ = true;
  return true;
}

bool AviWriter::OpenTarget(const QString& fileName, BinaryFile& existing, bool& replacing) {
  // An existing target is replaced by renaming, so it must be a plain file we may write (a
  // device or a folder is never renamed over); only the user's own link is followed, to the
  // file it names.
  const OutputName output = ResolveOutputName(fileName);
  if (!output.Refusal.isEmpty()) return Fail(output.Refusal);
  const QFileInfo target(fileName);
  finalPath_ = fileName;
  replacing = target.exists() || target.isSymLink();
  if (replacing) {
    if (keepExisting_) return Fail(CannotCreate(fileName, EEXIST));
    if (!target.isFile()) return Fail(CannotCreate(fileName, target.isDir() ? EISDIR : EINVAL));
    if (!target.isWritable()) return Fail(CannotCreate(fileName, EACCES));
    finalPath_ = QFileInfo(output.Path).absoluteFilePath();
  }
  const QFileInfo finalInfo(finalPath_);
  finalName_ = QFile::encodeName(finalInfo.fileName());
  // Every name below is made, renamed and removed in this folder, wherever it moves.
  if (!folder_.Open(finalInfo.absolutePath())) return Fail(CannotCreate(fileName));
  if (!replacing) return true;
  // One recorder per file: the file being replaced stays locked by this start until its
  // recording has taken the name, so a second recorder of it stops before it changes anything.
  if (!folder_.OpenRead(finalName_, existing)) return Fail(CannotCreate(fileName));
  if (existing.TryLock() == BinaryFile::LockResult::Busy) return Fail(BusyMessage(fileName));
  // The lock must be on what the name holds now.
  if (!folder_.Holds(finalName_, existing)) return Fail(BusyMessage(fileName));
  return true;
}

bool AviWriter::CreateSpool(const QByteArray& prefix, const QString& folder) {
  // The spool is a new file of its own, made exclusively and never through a link, under a
  // name nobody can know beforehand.
  if (givenSpool_.isEmpty()) {
    if (!spoolFolder_.Open(QFileInfo(finalPath_).absolutePath()))
      return Fail(CannotCreate(fileName_));
    spoolName_ = spoolFolder_.CreateUnique(prefix, ".idx", spool_, 0600);
    if (spoolName_.isEmpty()) return Fail(CannotCreate(fileName_));
    spoolPath_ = folder + QLatin1Char('/') + QFile::decodeName(spoolName_);
  } else {
    spoolPath_ = givenSpool_;
    const QFileInfo spoolInfo(spoolPath_);
    if (PathExists(spoolPath_) && (spoolInfo.isDir() || !QFile::remove(spoolPath_)))
      return Fail(QStringLiteral("Can not delete file ") + spoolPath_);
    if (!spoolFolder_.Open(spoolInfo.absolutePath())) return Fail(CannotCreate(spoolPath_));
    const QByteArray name = QFile::encodeName(spoolInfo.fileName());
    spoolName_ = spoolFolder_.CreateUnique(name, QByteArray(), spool_, 0600);
    // The given name itself, without the random part, is what the spool is called.
    if (spoolName_.isEmpty() ||
        spoolFolder_.Rename(spoolName_, name, spool_, nullptr) != Folder::Renamed::Done) {
      const int error = errno;
      DeleteSpool();
      return Fail(CannotCreate(spoolPath_, error));
    }
    spoolName_ = name;
  }
  if (spool_.TryLock() != BinaryFile::LockResult::Taken) return Fail(CannotCreate(fileName_));
  return true;
}

bool AviWriter::BeginCompressor(const AviSettings& settings) {
  CompressRequest request;
  request.FrameRate = frameRate_;
  request.Width = width_;
  request.Height = height_;
  request.FrameCountHint = frameCountHint_;
  // Stored frames keep the 24-bit rows of the file's format.
  request.Format = settings.WideFrames && compressor_->CurrentCode() != 0 ? PixelFormat::Bits32
                                                                          : PixelFormat::Bits24;
  if (!compressor_->Begin(request)) {
    return Fail(QStringLiteral(
        "Can not initiate encoding with this codec.\nMost likely it can only be used for "
        "decoding."));
  }
  AviHeaders::Stream stream;
  stream.Width = width_;
  stream.Height = height_;
  stream.Handler =
      compressor_->CurrentCode() != 0 ? compressor_->CurrentCode() : MakeFourCC("DIB ");
  stream.VideoFormat = request.OutputFormat;
  stream.SoundFormat = soundFormat_;
  headers_.Begin(stream);
  return true;
}

bool AviWriter::WriteHeaderRegion() {
  open_ = true;
  RefreshHeaders();
  const std::vector<uint8_t> region = headers_.Region();
  // The header region goes to the file now, its whole blocks directly: a file system that
  // opened the file for direct I/O but refuses to write it so is found here, and the file
  // goes on without; a disk without room for the headers refuses the start.
  if (!file_.Seek(0) || !file_.Write(region.data(), region.size()) || !file_.Flush() ||
      !file_.WriteTail())
    return Fail(CannotCreate(fileName_, file_.LastError() != 0 ? file_.LastError() : errno));
  RiffPart first;
  first.Movi = headers_.Layout().Movi();
  parts_.assign(1, first);
  return ReserveFirstFrame();
}

bool AviWriter::ReserveFirstFrame() {
  // A disk that cannot hold a first frame with its index refuses the start, instead of
  // leaving a file without frames. A compressed frame's size is unknown before it is made;
  // a modest one stands for it.
  constexpr int64_t kCompressedGuess = int64_t(64) << 10;
  const int64_t frame = compressor_->CurrentCode() != 0
                            ? kCompressedGuess
                            : int64_t(DIBBitmap::StrideFor(width_, 24)) * height_;
  const int64_t end = file_.Position() + 8 + frame + 1 + AviIndex::Idx1Bytes(1);
  const bool room =
      ReserveTo(end, false) && spool_.Reserve(0, kEntry) != BinaryFile::ReserveResult::Failed;
  if (room) return true;
  const int error = file_.LastError() != 0 ? file_.LastError() : spool_.LastError();
  return Fail(CannotCreate(fileName_, error != 0 ? error : ENOSPC));
}

bool AviWriter::TakeTargetName(BinaryFile* existing) {
  // The open file takes the target's name: in place of the very file locked before, or where
  // nothing stands; another recorder that took the name meanwhile keeps it.
  switch (folder_.Rename(partName_, finalName_, file_, existing)) {
    case Folder::Renamed::Done:
      return true;
    case Folder::Renamed::Taken:
      return Fail(BusyMessage(fileName_));
    case Folder::Renamed::Failed:
      break;
  }
  return Fail(CannotCreate(fileName_));
}

bool AviWriter::Open(const QString& fileName, const AviSettings& settings,
                     AviCompress& compressor) {
  compressor_ = &compressor;
  Reset(fileName, settings);
  OpenUndo undo(*this);

  // Everything that can refuse the recording comes before the target is touched: an existing
  // file is replaced only by a recording that really starts. The headers go to a file beside
  // the target, which takes the target's place once they stand.
  if (const QString problem = compressor.FrameSizeProblem(width_, height_); !problem.isEmpty())
    return Fail(problem);
  BinaryFile existing;
  bool replacing = false;
  if (!TakeSoundFormat(settings) || !OpenTarget(fileName, existing, replacing)) return false;
  const AviSideFiles::Prefix side = AviSideFiles::PrefixOf(finalPath_);
  if (!CreateSpool(side.Start, side.Folder)) return false;

  partName_ = folder_.CreateUnique(side.Start, ".new", file_, 0666);
  if (partName_.isEmpty()) return Fail(CannotCreate(fileName));
  // A replaced recording's permissions stay with its name.
  if (replacing) file_.CopyPermissions(existing);
  if (file_.TryLock() != BinaryFile::LockResult::Taken) return Fail(CannotCreate(fileName));
  file_.StageAppends(StageBytes());
  reservedTo_ = 0;
  reserveUnsupported_ = false;

  if (!BeginCompressor(settings) || !WriteHeaderRegion() ||
      !TakeTargetName(replacing ? &existing : nullptr))
    return false;
  undo.Commit();
  syncer_ = std::make_unique<FileSyncer>(file_.Descriptor());
  PlaceNextPicture();
  return true;
}

size_t AviWriter::StageBytes() const {
  // An uncompressed frame with its chunk header and pad after a tail of almost a block, in
  // each of the stage's two buffers; compressed frames are far smaller.
  constexpr size_t kCompressedStage = size_t(1) << 20;
  if (!compressor_ || compressor_->CurrentCode() != 0 || width_ <= 0 || height_ <= 0)
    return kCompressedStage;
  const size_t image = size_t(DIBBitmap::StrideFor(width_, 24)) * size_t(height_);
  return std::max(kCompressedStage, image + 2 * size_t(DirectStage::kBlock) + 16);
}

DIBBitmap* AviWriter::StagedPicture() const {
  return compressor_ && compressor_->CurrentCode() == 0 && file_.IsDirect() ? &compressor_->Bitmap()
                                                                            : nullptr;
}

void AviWriter::PlaceNextPicture() {
  if (!compressor_ || compressor_->CurrentCode() != 0) return;
  DIBBitmap& picture = compressor_->Bitmap();
  std::shared_ptr<void> keeper;
  // Null (drawing at home) once the file went on without its stage.
  uint8_t* slot = file_.AppendSlot(8, picture.ImageSize(), &keeper);
  picture.PlaceNext(slot, std::move(keeper));
}

void AviWriter::RescuePicture() {
  if (compressor_ && compressor_->CurrentCode() == 0) compressor_->Bitmap().ReturnHome();
}

AviHeaders::Counts AviWriter::Counts() const {
  AviHeaders::Counts counts;
  counts.FrameRate = frameRate_;
  counts.Frames = framesWritten_;
  counts.FirstPartFrames = parts_.size() > 1 ? parts_.front().Frames : framesWritten_;
  counts.LargestFrame = largestFrame_;
  counts.SoundUnits = soundUnits_;
  counts.LargestSound = largestSound_;
  return counts;
}

void AviWriter::RefreshHeaders() {
  headers_.Refresh(Counts());
}

bool AviWriter::AddFrame(CompressedFrame& frame) {
  if (!open_ || !file_.IsOpen() || !spool_.IsOpen() || !compressor_) return false;
  const uint32_t code = ChunkCode();
  if (!compressor_->Compress(frame)) return false;

  const uint32_t n = frame.Size;
  const int64_t written = int64_t(n) + (n & 1);
  // A part change takes the stage's memory, so the picture moves out of it first.
  const bool drawn = compressor_->CurrentCode() == 0 && frame.Data == compressor_->Bitmap().Bits();
  if (!MakeRoom(8 + written)) return false;
  if (drawn) frame.Data = compressor_->Bitmap().Bits();
  const int64_t chunkStart = file_.Position();
  RiffPart& part = parts_.back();

  const uint32_t previousLargest = largestFrame_;
  if (n > largestFrame_) largestFrame_ = n;

  const bool compressed = compressor_->CurrentCode() != 0;
  const int64_t spoolStart = spool_.Position();
  if (!SpoolEntry(code, compressed ? frame.Flags : kAviKeyFrame, chunkStart - part.Movi, n)) {
    largestFrame_ = previousLargest;
    return false;
  }

  uint8_t header[8];
  PutLE32(header + 0, code);
  PutLE32(header + 4, n);
  static const uint8_t kPad = 0;
  // The chunk's whole blocks go to the disk directly and its unaligned end to the page cache
  // (the next frame's direct write replaces that page), so that the file on disk always ends
  // with this frame, as with ordinary writes: a recording killed now keeps it.
  // An uncompressed picture is written from the direct-I/O stage itself: the grab drew it
  // where its bytes follow the chunk header there. A picture drawn anywhere else (the last one
  // again, after a failed grab) moves into that place first, so that the bitmap always lies
  // where the stage does not append next.
  DIBBitmap* picture = StagedPicture();
  std::shared_ptr<void> keeper;
  uint8_t* slot = picture && frame.Data == picture->Bits() && n == picture->ImageSize()
                      ? file_.AppendSlot(sizeof header, n, &keeper)
                      : nullptr;
  if (slot && frame.Data != slot) {
    std::memmove(slot, frame.Data, n);
    picture->PlaceNext(slot, std::move(keeper));
    picture->Drawn();
    frame.Data = slot;
  }
  if (!file_.Write(header, sizeof header) ||
      !(slot ? file_.AppendInPlace(n) : file_.Write(frame.Data, n)) ||
      ((n & 1) && !file_.Write(&kPad, 1)) || !file_.Flush() || !file_.WriteTail()) {
    DropChunk(chunkStart, spoolStart);
    largestFrame_ = previousLargest;
    return false;
  }

  if (written > kLargeFrame) clock_->Sleep(kLargeFramePauseMs);
  ++framesWritten_;
  ++part.Frames;
  ChunkWritten();
  return true;
}

bool AviWriter::AddEmptyFrame(CompressedFrame& frame) {
  if (!open_ || !file_.IsOpen() || !spool_.IsOpen()) return false;
  frame.Data = nullptr;
  frame.Size = 0;
  frame.Flags = 0;
  if (!AppendChunk(ChunkCode(), 0, nullptr, 0, false)) return false;
  ++framesWritten_;
  ++parts_.back().Frames;
  ChunkWritten();
  return true;
}

bool AviWriter::AddSound(const uint8_t* data, uint32_t size) {
  if (!open_ || !hasSound_ || !file_.IsOpen() || !spool_.IsOpen() || size == 0) return false;
  if (!AppendChunk(kSoundChunk, kAviKeyFrame, data, size, true)) return false;
  const uint64_t units = soundBlock_ ? size / soundBlock_ : 1;
  RiffPart& part = parts_.back();
  soundUnits_ += units;
  ++soundChunks_;
  ++part.SoundChunks;
  part.SoundUnits += units;
  largestSound_ = std::max(largestSound_, size);
  ChunkWritten();
  return true;
}

bool AviWriter::AppendChunk(uint32_t code, uint32_t flags, const uint8_t* data, uint32_t size,
                            bool sound) {
  // The chunk goes where the next picture would be drawn: the picture leaves the stage first.
  RescuePicture();
  if (!MakeRoom(8 + int64_t(size) + (size & 1), sound)) return false;
  const int64_t chunkStart = file_.Position();
  const int64_t spoolStart = spool_.Position();
  if (!SpoolEntry(code, flags, chunkStart - parts_.back().Movi, size)) return false;
  uint8_t header[8];
  PutLE32(header + 0, code);
  PutLE32(header + 4, size);
  static const uint8_t kPad = 0;
  // As a frame does, the chunk reaches the file at once, so a recording killed now keeps it.
  if (!file_.Write(header, sizeof header) || (size > 0 && !file_.Write(data, size)) ||
      ((size & 1) && !file_.Write(&kPad, 1)) || !file_.Flush() || !file_.WriteTail()) {
    DropChunk(chunkStart, spoolStart);
    return false;
  }
  return true;
}

void AviWriter::ChunkWritten() {
  if (syncer_) syncer_->Note(file_.Position());
  PlaceNextPicture();
}

bool AviWriter::SpoolEntry(uint32_t code, uint32_t flags, int64_t offsetInMovi, uint32_t size) {
  uint8_t entry[kEntry];
  AviIndex::PutEntry(entry, code, flags, uint32_t(offsetInMovi - 8), size);
  const int64_t spoolStart = spool_.Position();
  if (!spool_.Write(entry, sizeof entry)) {
    // A frame without its index entry would shift every later entry, so the frame is not
    // written either; the spool is cut back to its last whole entry.
    Report(WriteFailedMessage(spoolPath_, spool_.LastError()));
    spool_.Truncate(spoolStart);
    spool_.Seek(spoolStart);
    return false;
  }
  ++spoolEntries_;
  return true;
}

void AviWriter::DropChunk(int64_t chunkStart, int64_t spoolStart) {
  // Cut away the partial chunk and its index entry, so that the file can still be closed as a
  // valid recording of the frames before it.
  Report(WriteFailedMessage(fileName_, file_.LastError()));
  file_.Truncate(chunkStart);
  file_.Seek(chunkStart);
  spool_.Truncate(spoolStart);
  spool_.Seek(spoolStart);
  --spoolEntries_;
  // The cut may have given back the room reserved for the indexes; what the chunk used is
  // free again, so it is taken once more for them.
  reservedTo_ = std::min(reservedTo_, chunkStart);
  const RiffPart& part = parts_.back();
  ReserveTo(
      chunkStart + (parts_.size() == 1 ? AviIndex::Idx1Bytes(part.Frames + part.SoundChunks)
                                       : PartIndexBytes(part.Frames, part.SoundChunks, false)),
      false);
}

bool AviWriter::RefuseAtLimit() {
  if (!sizeLimitReported_) {
    sizeLimitReported_ = true;
    Report(SizeLimitMessage());
  }
  return false;
}

int64_t AviWriter::PartIndexBytes(int64_t frames, int64_t soundChunks, bool first) const {
  return AviIndex::PartBytes(frames, hasSound_ ? soundChunks : -1, first);
}

bool AviWriter::MakeRoom(int64_t chunkBytes, bool sound) {
  // Each part stays within the RIFF limit with the indexes it still needs (the first part
  // keeps room for its "ix00" as well, in case the recording goes on past it), and the
  // whole file within the size limit: a frame that does not fit is refused before anything
  // of it is written, so the Close that follows still completes a valid file.
  const RiffPart& part = parts_.back();
  const int64_t end = file_.Position() + chunkBytes;
  const int64_t frames = int64_t(part.Frames) + (sound ? 0 : 1);
  const int64_t chunks = int64_t(part.SoundChunks) + (sound ? 1 : 0);
  const bool first = parts_.size() == 1;
  const int64_t partLength = end - part.Riff + PartIndexBytes(frames, chunks, first);
  if (partLength <= riffLimit_) {
    // A file of one part gets just its "idx1" at Close.
    const int64_t finalSize = end + (first ? AviIndex::Idx1Bytes(frames + chunks)
                                           : PartIndexBytes(frames, chunks, false));
    if (finalSize > sizeLimit_) return RefuseAtLimit();
    // The frame and what Close then writes after it get their room on the disk first.
    return ReserveTo(finalSize);
  }
  // The frame starts the next part, if the super index has room for one and a part can hold
  // the frame at all.
  const int64_t alone = PartIndexBytes(sound ? 0 : 1, sound ? 1 : 0, false);
  if (int(parts_.size()) >= kMaxParts || kPartHead + chunkBytes + alone > riffLimit_ ||
      file_.Position() + kPartHead + chunkBytes + alone > sizeLimit_) {
    return RefuseAtLimit();
  }
  // The finished part's indexes, the next part's head, the frame and its index need room.
  if (!ReserveTo(file_.Position() + PartIndexBytes(part.Frames, part.SoundChunks, first) +
                 kPartHead + chunkBytes + alone))
    return false;
  return StartPart();
}

bool AviWriter::StartPart() {
  // A part that cannot be finished, or a next part that cannot be begun, is undone: the file
  // goes back to its last frame, which Close completes as usual.
  // The indexes go where the stage holds the picture drawn for this frame.
  RescuePicture();
  const int64_t rollback = file_.Position();
  RiffPart next;
  next.FirstEntry = spoolEntries_;
  const bool started = [&] {
    if (!FinishPart(parts_.back())) return false;
    next.Riff = file_.Position();
    next.Movi = next.Riff + 12;
    // Staged bytes reach the file here, so that a disk without room for them is found now.
    return file_.WriteU32(kRiff) && file_.WriteU32(4) && file_.WriteU32(MakeFourCC("AVIX")) &&
           file_.WriteU32(kList) && file_.WriteU32(4) && file_.WriteU32(kMovi) && file_.Flush() &&
           file_.WriteTail();
  }();
  if (!started) {
    Report(WriteFailedMessage(fileName_, file_.LastError()));
    file_.Truncate(rollback);
    file_.Seek(rollback);
    parts_.back().IndexAt = 0;
    return false;
  }
  parts_.push_back(next);
  // The first part's own sizes are final now; its main header counts its frames.
  RefreshHeaders();
  return headers_.WriteMainHeader(file_);
}

bool AviWriter::WriteStandardIndex(const RiffPart& part, const std::vector<uint8_t>& entries,
                                   bool sound) {
  AviIndex index(sound, sound ? kSoundChunk : ChunkCode(), sound ? part.SoundChunks : part.Frames,
                 part.Movi + 8);
  for (size_t i = 0; i < entries.size() / kEntry; ++i) {
    const uint8_t* entry = entries.data() + i * kEntry;
    // The two digits of a chunk's code name its stream.
    if ((GetLE32(entry) == kSoundChunk) != sound) continue;
    // The entry's offset names the chunk's code, from the "movi" list's type.
    index.Add(part.Movi + 8 + GetLE32(entry + 8) + 8, GetLE32(entry + 12),
              (GetLE32(entry + 4) & kAviKeyFrame) != 0);
  }
  return file_.Write(index.Bytes().data(), index.Bytes().size());
}

bool AviWriter::FinishPart(RiffPart& part) {
  const int64_t indexAt = file_.Position();
  std::vector<uint8_t> entries(size_t(part.Frames + part.SoundChunks) * kEntry);
  if (!entries.empty() &&
      !spool_.ReadAt(int64_t(part.FirstEntry) * kEntry, entries.data(), entries.size()))
    return false;
  if (!WriteStandardIndex(part, entries, false)) return false;
  part.IndexAt = indexAt;
  part.IndexBytes = uint32_t(AviIndex::StandardBytes(part.Frames));
  if (hasSound_) {
    part.SoundIndexAt = file_.Position();
    part.SoundIndexBytes = uint32_t(AviIndex::StandardBytes(part.SoundChunks));
    if (!WriteStandardIndex(part, entries, true)) return false;
  }
  const int64_t moviEnd = file_.Position();
  if (&part == &parts_.front()) {
    // Readers of AVI 1.0 see the first part as a file of its own.
    if (!file_.WriteU32(kIdx1) || !file_.WriteU32(uint32_t(entries.size())) ||
        (!entries.empty() && !file_.Write(entries.data(), entries.size())))
      return false;
  }
  const int64_t end = file_.Position();
  return file_.WriteU32At(part.Movi + 4, uint32_t(moviEnd - part.Movi - 8)) &&
         file_.WriteU32At(part.Riff + 4, uint32_t(end - part.Riff - 8));
}

bool AviWriter::WriteSuperIndex() {
  const AviLayout& layout = headers_.Layout();
  std::vector<AviIndex::PartIndex> video;
  std::vector<AviIndex::PartIndex> sound;
  for (const RiffPart& part : parts_) {
    video.push_back({part.IndexAt, part.IndexBytes, part.Frames});
    sound.push_back({part.SoundIndexAt, part.SoundIndexBytes, uint32_t(part.SoundUnits)});
  }
  const auto write = [&](int64_t at, uint32_t code, const std::vector<AviIndex::PartIndex>& parts) {
    const auto data = AviIndex::Super(code, parts);
    // The code last: a file cut off before it still reads as one without a super index.
    return file_.WriteAt(at, data.data(), data.size()) &&
           file_.WriteU32At(at - 8, MakeFourCC("indx"));
  };
  return write(layout.VideoSuperIndex(), ChunkCode(), video) &&
         file_.WriteU32At(layout.ExtendedHeader(), framesWritten_) &&
         (!hasSound_ || write(layout.SoundSuperIndex(), kSoundChunk, sound));
}

bool AviWriter::KeepDeletedFile() {
  if (file_.Links() != 0) return true;
  const QString folder = QFileInfo(finalPath_).absolutePath();
  const bool folderGone = !QFileInfo(folder).isDir();
  RescuePicture();
  Folder again;
  BinaryFile next;
  const QByteArray name =
      QDir().mkpath(folder) && again.Open(folder)
          ? again.CreateUnique(AviSideFiles::PrefixOf(finalPath_).Start, ".new", next, 0666)
          : QByteArray();
  if (name.isEmpty()) {
    Report(CannotCreate(finalPath_));
    return false;
  }
  next.CopyPermissions(file_);
  next.TryLock();
  if (!file_.ContinueIn(next, StageBytes())) {
    Report(CannotCreate(finalPath_, file_.LastError()));
    again.RemoveIfHolds(name, next);
    return false;
  }
  // From here on the recording lives in the new file, in the folder made again.
  folder_.Close();
  folder_.Open(folder);
  syncer_ = std::make_unique<FileSyncer>(file_.Descriptor());
  reservedTo_ = 0;
  // Something that took the target's name meanwhile keeps it; the recording keeps its own.
  if (folder_.Rename(name, finalName_, file_, nullptr) != Folder::Renamed::Done) {
    finalName_ = name;
    finalPath_ = folder + QLatin1Char('/') + QFile::decodeName(name);
  }
  notice_ = folderGone ? QStringLiteral(
                             "The folder %1 was deleted during the recording; it was "
                             "made again, and the recording kept in %2.")
                             .arg(folder, finalPath_)
                       : QStringLiteral(
                             "The file %1 was deleted during the recording; it was "
                             "made again with the whole recording.")
                             .arg(finalPath_);
  PlaceNextPicture();
  return true;
}

bool AviWriter::Checkpoint(long double rateSoFar) {
  if (!open_ || !file_.IsOpen() || parts_.empty()) return false;
  if (!KeepDeletedFile()) return false;
  if (rateSoFar > 0) frameRate_ = rateSoFar;
  RefreshHeaders();
  const RiffPart& part = parts_.back();
  const int64_t end = file_.Position();
  bool ok = headers_.WriteCounts(file_) &&
            file_.WriteU32At(part.Movi + 4, uint32_t(end - part.Movi - 8)) &&
            file_.WriteU32At(part.Riff + 4, uint32_t(end - part.Riff - 8));
  if (ok && parts_.size() > 1)
    ok = file_.WriteU32At(headers_.Layout().ExtendedHeader(), framesWritten_);
  // The direct-I/O stage's unwritten tail joins the file too, so that it reads whole.
  return ok && file_.WriteTail();
}

bool AviWriter::CopyIndex() {
  // Read through the open spool: its name may lie in a folder that has moved meanwhile.
  constexpr size_t kBlockEntries = 4096;
  std::vector<uint8_t> block(kBlockEntries * kEntry);
  uint32_t left = spoolEntries_;
  int64_t at = 0;
  while (left > 0) {
    const size_t entries = left < kBlockEntries ? left : kBlockEntries;
    const size_t bytes = entries * kEntry;
    if (!spool_.ReadAt(at, block.data(), bytes) || !file_.Write(block.data(), bytes)) return false;
    at += int64_t(bytes);
    left -= uint32_t(entries);
  }
  return true;
}

bool AviWriter::ReserveTo(int64_t end, bool tell) {
  if (reserveUnsupported_ || end <= reservedTo_) return true;
  const int64_t from = std::max(reservedTo_, file_.Position());
  // Some room ahead first, so that the disk is asked rarely; then just what is needed.
  BinaryFile::ReserveResult result = file_.Reserve(from, end + kReserveAhead);
  if (result == BinaryFile::ReserveResult::Done) {
    reservedTo_ = end + kReserveAhead;
    return true;
  }
  if (result == BinaryFile::ReserveResult::Failed) result = file_.Reserve(from, end);
  switch (result) {
    case BinaryFile::ReserveResult::Done:
      reservedTo_ = end;
      return true;
    case BinaryFile::ReserveResult::Unsupported:
      reserveUnsupported_ = true;
      return true;
    case BinaryFile::ReserveResult::Failed:
      break;
  }
  if (tell) Report(WriteFailedMessage(fileName_, file_.LastError()));
  return false;
}

bool AviWriter::FinishOpenDml() {
  if (!FinishPart(parts_.back()) || !WriteSuperIndex()) return false;
  RefreshHeaders();
  return headers_.WriteCounts(file_);
}

bool AviWriter::FinishClassic() {
  const int64_t movi = parts_.front().Movi;
  const int64_t endOfFrames = file_.Position();
  if (!file_.WriteU32(kIdx1) || !file_.WriteU32(spoolEntries_ * kEntry) || !CopyIndex())
    return false;
  const int64_t endOfFile = file_.Position();
  RefreshHeaders();
  return headers_.WriteCounts(file_) && file_.WriteU32At(4, uint32_t(endOfFile - 8)) &&
         file_.WriteU32At(movi + 4, uint32_t(endOfFrames - movi - 8));
}

bool AviWriter::Close(long double actualFrameRate) {
  if (!open_ || !file_.IsOpen() || parts_.empty()) {
    CloseFiles();
    return false;
  }
  if (actualFrameRate != 0) frameRate_ = actualFrameRate;
  // The index goes where the stage may hold the last picture.
  RescuePicture();
  if (compressor_) compressor_->End();
  // A file deleted since the last checkpoint is kept too; one that cannot be is completed all
  // the same, but the recording has failed (Failure says why).
  const bool kept = KeepDeletedFile();

  bool ok = parts_.size() > 1 ? FinishOpenDml() : FinishClassic();
  // What was reserved past the end goes back to the disk.
  if (ok && reservedTo_ > 0) ok = file_.WriteTail() && file_.ReleaseReserve();
  int error = file_.LastError();

  // A close that fails to reach the disk (a late write-back error) is a failed recording.
  if (!file_.Close()) {
    if (ok) error = file_.LastError();
    ok = false;
  }
  if (ok && !kept) {
    CloseFiles();
    return false;
  }
  if (ok) {
    DeleteSpool();
  } else {
    // The spool stays for the repair, which completes the file with it.
    failure_ = CloseFailureMessage(finalPath_, error != 0 ? error : EIO);
  }
  CloseFiles();
  return ok;
}

}  // namespace qm
