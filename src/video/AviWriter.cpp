#include "video/AviWriter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/CommonParams.h"
#include "common/LittleEndian.h"
#include "common/UserMessages.h"
#include "platform/clock/TickClock.h"
#include "platform/files/DirectStage.h"
#include "platform/files/FileSyncer.h"
#include "platform/files/Folder.h"
#include "platform/files/OutputName.h"
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

// After a frame longer than this the writing thread pauses briefly, so that a run of
// large frames does not starve the rest of the desktop.
constexpr uint32_t kLargeFrame = 50000;
constexpr uint32_t kLargeFramePauseMs = 2;

// Zero bytes for the two "JUNK" chunks of the header region, kept for as long as the tree.
const std::array<uint8_t, 4112> kZeros{};

constexpr int kIndexEntrySize = 16;
// An "ix00" chunk: its 8-byte chunk header and 24-byte index header, then 8 bytes per frame.
constexpr int64_t kStandardIndexHead = 32;
constexpr int64_t kStandardIndexEntry = 8;
// "RIFF" size "AVIX" "LIST" size "movi".
constexpr int64_t kPartHead = 24;

int64_t StandardIndexBytes(int64_t frames) {
  return kStandardIndexHead + kStandardIndexEntry * frames;
}
int64_t Idx1Bytes(int64_t frames) {
  return 8 + kIndexEntrySize * frames;
}

// The canonical folder of fileName and the start of its side files' names there: the hash of
// the file's full name ties them to that file and keeps them short whatever its length; a
// random part follows, so that nobody can put anything at a side file's name beforehand.
struct SideName {
  QString Folder;
  QByteArray Prefix;
};

SideName SideNameOf(const QString& fileName) {
  const QFileInfo info(fileName);
  QString folder = QDir(info.absolutePath()).canonicalPath();
  if (folder.isEmpty()) folder = info.absolutePath();
  const QString full = folder + QLatin1Char('/') + info.fileName();
  const QByteArray hash =
      QCryptographicHash::hash(QFile::encodeName(full), QCryptographicHash::Sha1).toHex().left(16);
  return {folder, ".~" + hash + '-'};
}

constexpr int kRandomDigits = 12;

// name is prefix, the random digits and suffix.
bool IsSideName(const QByteArray& name, const QByteArray& prefix, const char* suffix) {
  const QByteArray tail(suffix);
  if (name.size() != prefix.size() + kRandomDigits + tail.size() || !name.startsWith(prefix) ||
      !name.endsWith(tail))
    return false;
  for (qsizetype i = prefix.size(); i < prefix.size() + kRandomDigits; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Rounds to the nearest integer, ties to even (the default rounding mode); values outside
// the 32-bit range, and rates that are not positive, give the nearest representable value.
uint32_t RoundToU32(long double value) {
  if (!(value > 0)) return 0;
  if (value >= 4294967295.0L) return 0xFFFFFFFFu;
  return uint32_t(std::nearbyint(value));
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

QString AviWriter::SpoolPathFor(const QString& fileName) {
  const SideName side = SideNameOf(fileName);
  const quint64 random = QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFFFull;
  return side.Folder + QLatin1Char('/') + QFile::decodeName(side.Prefix) +
         QString::number(random, 16).rightJustified(kRandomDigits, QLatin1Char('0')) +
         QStringLiteral(".idx");
}

bool AviWriter::IsSpoolOf(const QString& spoolPath, const QString& fileName) {
  const SideName side = SideNameOf(fileName);
  const QFileInfo spool(spoolPath);
  QString folder = QDir(spool.absolutePath()).canonicalPath();
  return !folder.isEmpty() && folder == side.Folder &&
         IsSideName(QFile::encodeName(spool.fileName()), side.Prefix, ".idx");
}

QStringList AviWriter::SpoolsOf(const QString& fileName) {
  const SideName side = SideNameOf(fileName);
  QStringList spools;
  const QDir folder(side.Folder);
  for (const QString& name :
       folder.entryList({QFile::decodeName(side.Prefix) + QLatin1Char('*')},
                        QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
    if (IsSideName(QFile::encodeName(name), side.Prefix, ".idx")) spools << folder.filePath(name);
  }
  return spools;
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
  mainHeaderChunk_ = nullptr;
  streamHeaderChunk_ = nullptr;
  soundHeaderChunk_ = nullptr;
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

bool AviWriter::Open(const QString& fileName, const AviSettings& settings,
                     AviCompress& compressor) {
  compressor_ = &compressor;
  CloseFiles();
  openFailure_.clear();

  framesWritten_ = 0;
  spoolEntries_ = 0;
  parts_.clear();
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
  hasSound_ = false;
  soundHeader_.fill(0);
  soundFormat_.fill(0);
  soundUnits_ = 0;
  soundChunks_ = 0;
  largestSound_ = 0;

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
  if (settings.HasAudio) {
    // A WAVEFORMATEX: PCM without extra bytes, or a compressed format with up to 12.
    const uint8_t* format = settings.AudioFormat.data();
    const uint32_t extra = GetLE16(format + 16);
    const uint16_t tag = GetLE16(format);
    soundFormatBytes_ = 18 + extra;
    soundBlock_ = tag == 1 ? GetLE16(format + 12) : 0;
    if (soundFormatBytes_ > soundFormat_.size() || (tag == 1 && (extra != 0 || soundBlock_ == 0)) ||
        GetLE16(format + 12) == 0 || GetLE32(format + 4) == 0)
      return fail(cannotCreate);
    std::memcpy(soundFormat_.data(), format, soundFormatBytes_);
    hasSound_ = true;
    streams_ = 2;
  }
  // An existing target is replaced by renaming, so it must be a plain file we may write (a
  // device or a folder is never renamed over); only the user's own link is followed, to the
  // file it names.
  const OutputName output = ResolveOutputName(fileName);
  if (!output.Refusal.isEmpty()) return fail(output.Refusal);
  const QFileInfo target(fileName);
  QString finalPath = fileName;
  const bool replacing = target.exists() || target.isSymLink();
  if (replacing) {
    if (keepExisting_ || !target.isFile() || !target.isWritable()) return fail(cannotCreate);
    finalPath = QFileInfo(output.Path).absoluteFilePath();
  }
  finalPath_ = finalPath;
  const QFileInfo finalInfo(finalPath);
  const SideName side = SideNameOf(finalPath);
  finalName_ = QFile::encodeName(finalInfo.fileName());
  // Every name below is made, renamed and removed in this folder, wherever it moves.
  if (!folder_.Open(finalInfo.absolutePath())) return fail(cannotCreate);

  // One recorder per file: the file being replaced stays locked by this start until its
  // recording has taken the name, so a second recorder of it stops before it changes
  // anything.
  BinaryFile existing;
  if (replacing) {
    if (!folder_.OpenRead(finalName_, existing)) return fail(cannotCreate);
    if (existing.TryLock() == BinaryFile::LockResult::Busy) return fail(BusyMessage(fileName));
    // The lock must be on what the name holds now.
    if (!folder_.Holds(finalName_, existing)) return fail(BusyMessage(fileName));
  }

  // The spool and the headers' file are new files of their own, made exclusively and never
  // through a link, under names nobody can know beforehand.
  if (givenSpool_.isEmpty()) {
    if (!spoolFolder_.Open(finalInfo.absolutePath())) return fail(cannotCreate);
    spoolName_ = spoolFolder_.CreateUnique(side.Prefix, ".idx", spool_, 0600);
    if (spoolName_.isEmpty()) return fail(cannotCreate);
    spoolPath_ = side.Folder + QLatin1Char('/') + QFile::decodeName(spoolName_);
  } else {
    spoolPath_ = givenSpool_;
    const QFileInfo spoolInfo(spoolPath_);
    if (PathExists(spoolPath_) && (spoolInfo.isDir() || !QFile::remove(spoolPath_)))
      return fail(QStringLiteral("Can not delete file ") + spoolPath_);
    if (!spoolFolder_.Open(spoolInfo.absolutePath()))
      return fail(QStringLiteral("Can not create file ") + spoolPath_);
    const QByteArray name = QFile::encodeName(spoolInfo.fileName());
    spoolName_ = spoolFolder_.CreateUnique(name, QByteArray(), spool_, 0600);
    // The given name itself, without the random part, is what the spool is called.
    if (spoolName_.isEmpty() ||
        spoolFolder_.Rename(spoolName_, name, spool_, nullptr) != Folder::Renamed::Done) {
      DeleteSpool();
      return fail(QStringLiteral("Can not create file ") + spoolPath_);
    }
    spoolName_ = name;
  }
  if (spool_.TryLock() != BinaryFile::LockResult::Taken) return fail(cannotCreate);

  partName_ = folder_.CreateUnique(side.Prefix, ".new", file_, 0666);
  if (partName_.isEmpty()) return fail(cannotCreate);
  // A replaced recording's permissions stay with its name.
  if (replacing) file_.CopyPermissions(existing);
  if (file_.TryLock() != BinaryFile::LockResult::Taken) return fail(cannotCreate);
  file_.StageAppends(StageBytes());
  reservedTo_ = 0;
  reserveUnsupported_ = false;

  CompressRequest request;
  request.FrameRate = frameRate_;
  request.Width = width_;
  request.Height = height_;
  request.FrameCountHint = frameCountHint_;
  // Stored frames keep the 24-bit rows of the file's format.
  request.Format = settings.WideFrames && compressor.CurrentCode() != 0 ? PixelFormat::Bits32
                                                                        : PixelFormat::Bits24;
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
  // The header region goes to the file now, its whole blocks directly: a file system that
  // opened the file for direct I/O but refuses to write it so is found here, and the file
  // goes on without; a disk without room for the headers refuses the start.
  if (!file_.Flush() || !file_.WriteTail()) return fail(cannotCreate);
  Part first;
  first.Movi = moviPosition_;
  parts_.assign(1, first);
  // The open file takes the target's name: in place of the very file locked above, or where
  // nothing stands; another recorder that took the name meanwhile keeps it.
  switch (folder_.Rename(partName_, finalName_, file_, replacing ? &existing : nullptr)) {
    case Folder::Renamed::Done:
      break;
    case Folder::Renamed::Taken:
      return fail(BusyMessage(fileName));
    case Folder::Renamed::Failed:
      return fail(cannotCreate);
  }
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

void AviWriter::RefreshHeaders() {
  const uint32_t microSecondsPerFrame = frameRate_ > 0 ? RoundToU32(1000000.0L / frameRate_) : 0;
  uint8_t* avih = mainHeader_.data();
  PutLE32(avih + 0, microSecondsPerFrame);
  PutLE32(avih + 4, 0);       // maximum bytes per second
  PutLE32(avih + 8, 0);       // padding granularity
  PutLE32(avih + 12, 0x110);  // has index, interleaved
  // An OpenDML file's main header counts the frames of the first part only; the stream header
  // and the extended header count them all.
  PutLE32(avih + 16, parts_.size() > 1 ? parts_.front().Frames : framesWritten_);
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
  if (!hasSound_) return;

  // PCM counts sample blocks; a compressed stream counts chunks, each one frame of the
  // encoder (nBlockAlign samples).
  const uint8_t* format = soundFormat_.data();
  uint8_t* auds = soundHeader_.data();
  PutLE32(auds + 0, MakeFourCC("auds"));
  PutLE32(auds + 20, soundBlock_ ? soundBlock_ : GetLE16(format + 12));  // scale
  PutLE32(auds + 24, soundBlock_ ? GetLE32(format + 8) : GetLE32(format + 4));
  PutLE32(auds + 32, uint32_t(std::min<uint64_t>(soundUnits_, 0xFFFFFFFFu)));
  PutLE32(auds + 36, largestSound_);
  PutLE32(auds + 40, 0xFFFFFFFFu);  // quality: the default
  PutLE32(auds + 44, soundBlock_);
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
  if (hasSound_) {
    AviList& sound = hdrl.AddList(kList, MakeFourCC("strl"));
    soundHeaderChunk_ = &sound.AddChunk(MakeFourCC("strh"), soundHeader_.data(), 56);
    sound.AddChunk(MakeFourCC("strf"), soundFormat_.data(), int32_t(soundFormatBytes_));
    // Every format takes the room of the longest, so the layout stays the same.
    if (soundFormatBytes_ < soundFormat_.size())
      sound.AddChunk(kJunk, kZeros.data(), int32_t(soundFormat_.size() - soundFormatBytes_ - 8));
    sound.AddChunk(kJunk, kZeros.data(), 4112);
  }
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
  // A part change takes the stage's memory, so the picture moves out of it first.
  const bool drawn = compressor_->CurrentCode() == 0 && frame.Data == compressor_->Bitmap().Bits();
  if (!MakeRoom(8 + written)) return false;
  if (drawn) frame.Data = compressor_->Bitmap().Bits();
  const int64_t chunkStart = file_.Position();
  Part& part = parts_.back();

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
  if (!AppendChunk(MakeFourCC("01wb"), kAviKeyFrame, data, size, true)) return false;
  const uint64_t units = soundBlock_ ? size / soundBlock_ : 1;
  Part& part = parts_.back();
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
  uint8_t entry[kIndexEntrySize];
  PutLE32(entry + 0, code);
  PutLE32(entry + 4, flags);
  PutLE32(entry + 8, uint32_t(offsetInMovi - 8));
  PutLE32(entry + 12, size);
  const int64_t spoolStart = spool_.Position();
  if (!spool_.Write(entry, sizeof entry)) {
    // A frame without its index entry would shift every later entry, so the frame is not
    // written either; the spool is cut back to its last whole entry.
    ShowMessage(WriteFailedMessage(spoolPath_, spool_.LastError()));
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
  ShowMessage(WriteFailedMessage(fileName_, file_.LastError()));
  file_.Truncate(chunkStart);
  file_.Seek(chunkStart);
  spool_.Truncate(spoolStart);
  spool_.Seek(spoolStart);
  --spoolEntries_;
  // The cut may have given back the room reserved for the indexes; what the chunk used is
  // free again, so it is taken once more for them.
  reservedTo_ = std::min(reservedTo_, chunkStart);
  const Part& part = parts_.back();
  ReserveTo(
      chunkStart + (parts_.size() == 1 ? Idx1Bytes(part.Frames + part.SoundChunks)
                                       : PartIndexBytes(part.Frames, part.SoundChunks, false)),
      false);
}

bool AviWriter::RefuseAtLimit() {
  if (!sizeLimitReported_) {
    sizeLimitReported_ = true;
    ShowMessage(SizeLimitMessage());
  }
  return false;
}

int64_t AviWriter::PartIndexBytes(int64_t frames, int64_t soundChunks, bool first) const {
  return StandardIndexBytes(frames) + (hasSound_ ? StandardIndexBytes(soundChunks) : 0) +
         (first ? Idx1Bytes(frames + soundChunks) : 0);
}

bool AviWriter::MakeRoom(int64_t chunkBytes, bool sound) {
  // Each part stays within the RIFF limit with the indexes it still needs (the first part
  // keeps room for its "ix00" as well, in case the recording goes on past it), and the
  // whole file within the size limit: a frame that does not fit is refused before anything
  // of it is written, so the Close that follows still completes a valid file.
  const Part& part = parts_.back();
  const int64_t end = file_.Position() + chunkBytes;
  const int64_t frames = int64_t(part.Frames) + (sound ? 0 : 1);
  const int64_t chunks = int64_t(part.SoundChunks) + (sound ? 1 : 0);
  const bool first = parts_.size() == 1;
  const int64_t partLength = end - part.Riff + PartIndexBytes(frames, chunks, first);
  if (partLength <= riffLimit_) {
    // A file of one part gets just its "idx1" at Close.
    const int64_t finalSize =
        end + (first ? Idx1Bytes(frames + chunks) : PartIndexBytes(frames, chunks, false));
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
  // A part that cannot be finished, or a next part that cannot be begun, is undone: the file
  // goes back to its last frame, which Close completes as usual.
  // The indexes go where the stage holds the picture drawn for this frame.
  RescuePicture();
  const int64_t rollback = file_.Position();
  Part next;
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
    ShowMessage(WriteFailedMessage(fileName_, file_.LastError()));
    file_.Truncate(rollback);
    file_.Seek(rollback);
    parts_.back().IndexAt = 0;
    return false;
  }
  parts_.push_back(next);
  // The first part's own sizes are final now; its main header counts its frames.
  RefreshHeaders();
  return mainHeaderChunk_ &&
         file_.WriteAt(mainHeaderChunk_->DataPosition(), mainHeader_.data(), mainHeader_.size());
}

bool AviWriter::WriteStandardIndex(const Part& part, const std::vector<uint8_t>& entries,
                                   bool sound) {
  // "ix00" (or "ix01") at the end of the part's "movi": the chunks' data offsets from a base,
  // and their sizes with the top bit set for frames that are not key frames.
  const uint32_t count = sound ? part.SoundChunks : part.Frames;
  std::vector<uint8_t> index(size_t(StandardIndexBytes(count)));
  uint8_t* head = index.data();
  PutLE32(head + 0, MakeFourCC(sound ? "ix01" : "ix00"));
  PutLE32(head + 4, uint32_t(index.size() - 8));
  PutLE16(head + 8, 2);  // longs per entry
  head[10] = 0;          // sub type: frames
  head[11] = 1;          // index of chunks
  PutLE32(head + 12, count);
  PutLE32(head + 16, sound ? MakeFourCC("01wb") : ChunkCode());
  const int64_t base = part.Movi + 8;
  PutLE32(head + 20, uint32_t(uint64_t(base)));
  PutLE32(head + 24, uint32_t(uint64_t(base) >> 32));
  PutLE32(head + 28, 0);
  uint8_t* out = index.data() + kStandardIndexHead;
  for (size_t i = 0; i < entries.size() / kIndexEntrySize; ++i) {
    const uint8_t* entry = entries.data() + i * kIndexEntrySize;
    // The two digits of a chunk's code name its stream.
    if ((GetLE32(entry) == MakeFourCC("01wb")) != sound) continue;
    // The entry's offset names the chunk's code; the standard index names its data.
    PutLE32(out + 0, GetLE32(entry + 8) + 8);
    const uint32_t size = GetLE32(entry + 12);
    PutLE32(out + 4, (GetLE32(entry + 4) & kAviKeyFrame) ? size : size | 0x80000000u);
    out += kStandardIndexEntry;
  }
  return file_.Write(index.data(), index.size());
}

bool AviWriter::FinishPart(Part& part) {
  const int64_t indexAt = file_.Position();
  std::vector<uint8_t> entries(size_t(part.Frames + part.SoundChunks) * kIndexEntrySize);
  if (!entries.empty() &&
      !spool_.ReadAt(int64_t(part.FirstEntry) * kIndexEntrySize, entries.data(), entries.size()))
    return false;
  if (!WriteStandardIndex(part, entries, false)) return false;
  part.IndexAt = indexAt;
  part.IndexBytes = uint32_t(StandardIndexBytes(part.Frames));
  if (hasSound_) {
    part.SoundIndexAt = file_.Position();
    part.SoundIndexBytes = uint32_t(StandardIndexBytes(part.SoundChunks));
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
  std::array<uint8_t, kSuperIndexSize> data{};
  PutLE16(data.data() + 0, 4);  // longs per entry
  data[2] = 0;                  // sub type
  data[3] = 0;                  // index of indexes
  PutLE32(data.data() + 4, uint32_t(parts_.size()));
  PutLE32(data.data() + 8, ChunkCode());
  for (size_t i = 0; i < parts_.size(); ++i) {
    uint8_t* entry = data.data() + 24 + i * 16;
    PutLE32(entry + 0, uint32_t(uint64_t(parts_[i].IndexAt)));
    PutLE32(entry + 4, uint32_t(uint64_t(parts_[i].IndexAt) >> 32));
    PutLE32(entry + 8, parts_[i].IndexBytes);
    PutLE32(entry + 12, parts_[i].Frames);
  }
  uint8_t head[8];
  PutLE32(head, MakeFourCC("indx"));
  PutLE32(head + 4, kSuperIndexSize);
  if (!file_.WriteAt(kSuperIndexAt - 8, head, sizeof head) ||
      !file_.WriteAt(kSuperIndexAt, data.data(), data.size()) ||
      !file_.WriteU32At(ExtendedHeaderAt(), framesWritten_))
    return false;
  if (!hasSound_) return true;
  data.fill(0);
  PutLE16(data.data() + 0, 4);
  PutLE32(data.data() + 4, uint32_t(parts_.size()));
  PutLE32(data.data() + 8, MakeFourCC("01wb"));
  for (size_t i = 0; i < parts_.size(); ++i) {
    uint8_t* entry = data.data() + 24 + i * 16;
    PutLE32(entry + 0, uint32_t(uint64_t(parts_[i].SoundIndexAt)));
    PutLE32(entry + 4, uint32_t(uint64_t(parts_[i].SoundIndexAt) >> 32));
    PutLE32(entry + 8, parts_[i].SoundIndexBytes);
    PutLE32(entry + 12, uint32_t(parts_[i].SoundUnits));
  }
  return file_.WriteAt(kSoundSuperIndexAt - 8, head, sizeof head) &&
         file_.WriteAt(kSoundSuperIndexAt, data.data(), data.size());
}

bool AviWriter::Checkpoint(long double rateSoFar) {
  if (!open_ || !file_.IsOpen() || !mainHeaderChunk_ || !streamHeaderChunk_) return false;
  if (rateSoFar > 0) frameRate_ = rateSoFar;
  RefreshHeaders();
  const Part& part = parts_.back();
  const int64_t end = file_.Position();
  bool ok = file_.WriteAt(mainHeaderChunk_->DataPosition(), mainHeader_.data(), 56) &&
            file_.WriteAt(streamHeaderChunk_->DataPosition(), streamHeader_.data(), 56) &&
            file_.WriteU32At(part.Movi + 4, uint32_t(end - part.Movi - 8)) &&
            file_.WriteU32At(part.Riff + 4, uint32_t(end - part.Riff - 8));
  if (ok && hasSound_ && soundHeaderChunk_)
    ok = file_.WriteAt(soundHeaderChunk_->DataPosition(), soundHeader_.data(), 56);
  if (ok && parts_.size() > 1) ok = file_.WriteU32At(ExtendedHeaderAt(), framesWritten_);
  // The direct-I/O stage's unwritten tail joins the file too, so that it reads whole.
  return ok && file_.WriteTail();
}

bool AviWriter::CopyIndex() {
  // Read through the open spool: its name may lie in a folder that has moved meanwhile.
  constexpr size_t kBlockEntries = 4096;
  std::vector<uint8_t> block(kBlockEntries * kIndexEntrySize);
  uint32_t left = spoolEntries_;
  int64_t at = 0;
  while (left > 0) {
    const size_t entries = left < kBlockEntries ? left : kBlockEntries;
    const size_t bytes = entries * kIndexEntrySize;
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
  if (tell) ShowMessage(WriteFailedMessage(fileName_, file_.LastError()));
  return false;
}

bool AviWriter::Close(long double actualFrameRate) {
  closeFailure_.clear();
  if (!open_ || !file_.IsOpen() || !root_) {
    CloseFiles();
    return false;
  }
  if (actualFrameRate != 0) frameRate_ = actualFrameRate;
  // The index goes where the stage may hold the last picture.
  RescuePicture();
  if (compressor_) compressor_->End();

  bool ok = [&] {
    if (parts_.size() > 1) {
      if (!FinishPart(parts_.back()) || !WriteSuperIndex()) return false;
      RefreshHeaders();
      return mainHeaderChunk_ && streamHeaderChunk_ && mainHeaderChunk_->Write() &&
             streamHeaderChunk_->Write() && (!soundHeaderChunk_ || soundHeaderChunk_->Write());
    }
    const int64_t endOfFrames = file_.Position();
    if (!file_.WriteU32(kIdx1) || !file_.WriteU32(spoolEntries_ * kIndexEntrySize)) return false;
    if (!CopyIndex()) return false;
    const int64_t endOfFile = file_.Position();

    RefreshHeaders();
    if (!mainHeaderChunk_ || !streamHeaderChunk_ || !mainHeaderChunk_->Write() ||
        !streamHeaderChunk_->Write() || (soundHeaderChunk_ && !soundHeaderChunk_->Write())) {
      return false;
    }
    if (!file_.Seek(4) || !file_.WriteU32(uint32_t(endOfFile - 8))) return false;
    return file_.Seek(moviPosition_ + 4) &&
           file_.WriteU32(uint32_t(endOfFrames - moviPosition_ - 8));
  }();
  // What was reserved past the end goes back to the disk.
  if (ok && reservedTo_ > 0) ok = file_.WriteTail() && file_.ReleaseReserve();
  int error = file_.LastError();

  // A close that fails to reach the disk (a late write-back error) is a failed recording.
  if (!file_.Close()) {
    if (ok) error = file_.LastError();
    ok = false;
  }
  if (ok) {
    DeleteSpool();
  } else {
    // The spool stays for the repair, which completes the file with it.
    closeFailure_ = CloseFailureMessage(finalPath_, error != 0 ? error : EIO);
  }
  CloseFiles();
  return ok;
}

}  // namespace qm
