#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/files/BinaryFile.h"
#include "platform/files/Folder.h"
#include "video/AviHeaders.h"
#include "video/VideoTypes.h"

namespace qm {

class AviCompress;
class FileSyncer;
class TickClock;

// Writes one recording as a RIFF "AVI " file with one video stream (and, when the settings ask
// for it, a sound stream: "auds", chunks "01wb"), byte by byte: the header region at Open
// (AviLayout tells where everything of it lies), one chunk per frame with its index entry spooled
// to a side file, and at Close the "idx1" index copied in from the spool and the headers rewritten
// with the achieved rate. One writer serves every recording of the application.
//
// A recording that outgrows the first RIFF (RiffLimit) goes on as OpenDML (AVI 2.0): the first
// "movi" gets its "ix00" and the "idx1" of its frames, and further "RIFF"/"AVIX" parts follow,
// each with its "movi" and "ix00"; at Close the reserved "JUNK" in "strl" becomes the "indx"
// super index in place and "dmlh" holds the total frame count. A recording below the limit
// keeps the classic layout byte for byte.
//
// The frame data goes to the disk with direct I/O where the file system allows it (BinaryFile's
// direct stage), bypassing the page cache; an uncompressed picture is drawn by the grab right
// into the stage, where it is written from. The file's bytes are the same either way.
//
// The writer's side files (the headers' file until it takes the target's name, and the spool)
// are new files beside the target, made exclusively and never through a link, under hidden
// names with a random part (AviSideFiles); they are renamed and removed through the folder's
// descriptor, so a folder renamed during the recording changes nothing. The disk's room for the
// indexes that Close writes is reserved as the recording grows, so a disk that fills up still
// leaves a complete file.
//
// While recording, Checkpoint refreshes the sizes and counts a reader needs, and a syncer
// brings older frames to the disk, so a file cut off at any moment plays up to its last whole
// frame; AviRepair completes such a file. The output file and its spool are locked while
// recording: a second writer asked for the same file refuses at once.
// Open and Close run on the capture thread, AddFrame on the recording's writer thread; calls
// never overlap.
class AviWriter {
 public:
  // The length of one RIFF part, as OpenDML writers keep it for readers that stop at the first.
  static constexpr int64_t kRiffLimit = int64_t(1) << 30;
  // The parts the super index holds in the room that the header region reserves for it.
  static constexpr int kMaxParts = (AviLayout::kSuperIndexBytes - 24) / 16;
  // SetSizeLimit's value for no limit but the parts'.
  static constexpr int64_t kNoSizeLimit = INT64_MAX;

  // spoolPath: the index spool file; empty for a spool of each recording's own beside its
  // file (AviSideFiles). A given spool file left behind by an earlier run is deleted.
  // clock: what AddFrame sleeps on; null for the system's.
  explicit AviWriter(const QString& spoolPath = QString(), TickClock* clock = nullptr);
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Starts a new file with provisional headers and begins the compressor's sequence. Every
  // check (frame size, spool, compressor) comes first, and the headers are written beside
  // the target: an existing file is replaced only when the recording really starts. On a
  // false result (or an exception) nothing is left open or on disk; Failure says why.
  bool Open(const QString& fileName, const AviSettings& settings, AviCompress& compressor);
  // Why the recording failed, one sentence for the user that the caller tells: why Open
  // failed, else why the first refused write was refused, else why Close failed (with what to
  // do about it); empty while nothing failed. Cleared by Open.
  const QString& Failure() const { return failure_; }
  // What the user should hear of a recording that went on despite something (its file or
  // folder deleted meanwhile, see KeepDeletedFile); empty for none. Cleared by Open.
  const QString& Notice() const { return notice_; }
  // An existing file of the target's name is never replaced: Open then fails instead.
  void SetKeepExisting(bool keep) { keepExisting_ = keep; }
  // Compresses the compressor's frame bitmap and appends it. False when the frame could not
  // be written (Failure names the file and why; the file keeps the frames before it), or
  // would take the file past SizeLimit() (then nothing of it is written); the recording should
  // then be closed.
  bool AddFrame(CompressedFrame& frame);
  // Appends an empty chunk (size 0, index flags 0): readers show the previous frame again for
  // it, with the timing kept. The compressor is not asked. frame's Data, Size and Flags are
  // cleared. Fails as AddFrame does.
  bool AddEmptyFrame(CompressedFrame& frame);
  // Appends a chunk of the sound stream: whole sample blocks of PCM, or one compressed frame.
  // Only in a recording opened with sound. Fails as AddFrame does.
  bool AddSound(const uint8_t* data, uint32_t size);
  // Completes the file: index, final headers with actualFrameRate (0 keeps the rate given at
  // Open). The file is closed whatever the result.
  bool Close(long double actualFrameRate);
  // Rewrites in place the sizes and counts of the frames written so far and rateSoFar (0 keeps
  // the rate), so that the file reads whole if the recording never reaches Close. Between
  // frames, about once a second; never moves the append position. A file deleted meanwhile
  // (its folder or itself) is kept: see KeepDeletedFile.
  bool Checkpoint(long double rateSoFar);

  bool IsOpen() const { return open_; }
  // The spool of the current (or last) recording.
  const QString& SpoolPath() const { return spoolPath_; }
  // The target file of the current (or last) recording, links resolved.
  const QString& FilePath() const { return finalPath_; }
  uint32_t FramesWritten() const { return framesWritten_; }
  // The open recording has a sound stream.
  bool HasSound() const { return hasSound_; }
  // Length of the sound stream in its own units (sample blocks for PCM, else chunks).
  uint64_t SoundUnitsWritten() const { return soundUnits_; }
  // The file's length so far: where the next chunk goes.
  int64_t BytesWritten() const { return file_.Position(); }
  // The open recording's frames go to the disk with direct I/O.
  bool Direct() const { return file_.IsDirect(); }

  // The largest file length allowed, indexes included; no limit but the parts unless a test
  // sets one.
  int64_t SizeLimit() const { return sizeLimit_; }
  void SetSizeLimit(int64_t bytes);
  // The length of each RIFF part; kRiffLimit unless a test lowers it.
  int64_t RiffLimit() const { return riffLimit_; }
  void SetRiffLimit(int64_t bytes);
  // RIFF parts of the current recording (1 below the limit).
  int Parts() const { return int(parts_.size()); }
  // The current (or last) recording refused a frame at the size limit.
  bool SizeLimitReached() const { return sizeLimitReported_; }

  // What the user is told when a recording reaches the size limit.
  static QString SizeLimitMessage();
  // What the user is told when a write to fileName failed with the system's error code.
  static QString WriteFailedMessage(const QString& fileName, int error);
  // What the user is told when the file could not be completed (error: the system's code).
  static QString CloseFailureMessage(const QString& fileName, int error);
  // What a second recorder of the same file is told.
  static QString BusyMessage(const QString& fileName);

 private:
  class OpenUndo;

  // One RIFF part: where its list and its "movi" begin, its frames, its first spool entry and,
  // once written, its "ix00".
  struct RiffPart {
    int64_t Riff = 0;
    int64_t Movi = 0;
    uint32_t Frames = 0;
    uint32_t FirstEntry = 0;
    int64_t IndexAt = 0;
    uint32_t IndexBytes = 0;
    // The sound stream's chunks, their length in its units and their "ix01".
    uint32_t SoundChunks = 0;
    uint64_t SoundUnits = 0;
    int64_t SoundIndexAt = 0;
    uint32_t SoundIndexBytes = 0;
  };

  // The steps of Open, each false (with failure_ set) when the recording cannot start.
  void Reset(const QString& fileName, const AviSettings& settings);
  bool TakeSoundFormat(const AviSettings& settings);
  // Checks an existing target and locks it (into existing) so that no other recorder takes it.
  bool OpenTarget(const QString& fileName, BinaryFile& existing, bool& replacing);
  bool CreateSpool(const QByteArray& prefix, const QString& folder);
  bool BeginCompressor(const AviSettings& settings);
  bool WriteHeaderRegion();
  bool ReserveFirstFrame();
  // A file whose every name was removed (its folder deleted, or the file itself) lives on only
  // while it is open: its folder is made again, and the recording goes on in a new file of
  // the target's name there, with every byte so far; Notice says so. False (Failure says why)
  // when that cannot be done; the recording then ends, and the frames stay in the open file.
  bool KeepDeletedFile();
  bool TakeTargetName(BinaryFile* existing);
  bool Fail(const QString& cause);
  // Keeps why a write was refused, for Failure.
  void Report(const QString& why);

  // The header counts of what was written so far.
  AviHeaders::Counts Counts() const;
  void RefreshHeaders();
  bool CopyIndex();
  // Whether a chunk of chunkBytes may follow; starts the next part when the current one is
  // full. False (after telling the user once) when the file cannot hold it.
  bool MakeRoom(int64_t chunkBytes, bool sound = false);
  // Starts the next part behind the current one; false (the file back at its last frame) when
  // it cannot.
  bool StartPart();
  // The indexes a part of these chunks gets at its end.
  int64_t PartIndexBytes(int64_t frames, int64_t soundChunks, bool first) const;
  // Writes one stream's standard index of the part's entries (entries: the part's spool
  // entries, in file order).
  bool WriteStandardIndex(const RiffPart& part, const std::vector<uint8_t>& entries, bool sound);
  // Appends a frame's entry to the spool; false (said to the user, spool cut back) when it
  // cannot be written.
  bool SpoolEntry(uint32_t code, uint32_t flags, int64_t offsetInMovi, uint32_t size);
  // Appends a chunk that is no picture (an empty frame, a block of sound; sound for the
  // latter's room) with its spool entry; false, with nothing of it left, when it cannot be.
  bool AppendChunk(uint32_t code, uint32_t flags, const uint8_t* data, uint32_t size, bool sound);
  // After a chunk: the syncer hears of it, and the next picture is placed behind it.
  void ChunkWritten();
  // Undoes a frame whose chunk could not be written whole: the chunk and its spool entry go.
  void DropChunk(int64_t chunkStart, int64_t spoolStart);
  // The direct-I/O stage's size for the recording being opened.
  size_t StageBytes() const;
  // The bitmap whose pictures are drawn into the stage: uncompressed frames on a direct file.
  DIBBitmap* StagedPicture() const;
  // Names where the next picture is drawn: right behind the next chunk header in the stage.
  void PlaceNextPicture();
  // Brings the picture out of the stage before anything but a frame is appended there.
  void RescuePicture();
  bool RefuseAtLimit();
  // Writes the part's "ix00" (and the first part's "idx1") and its final sizes.
  bool FinishPart(RiffPart& part);
  bool WriteSuperIndex();
  // Close's work for a file of one part and of several.
  bool FinishClassic();
  bool FinishOpenDml();
  bool DeleteSpool();
  // Reserves the disk's room up to end (and some ahead); false, after telling the user (when
  // tell), when the disk has none.
  bool ReserveTo(int64_t end, bool tell = true);
  void CloseFiles();
  uint32_t ChunkCode() const;

  AviCompress* compressor_ = nullptr;
  TickClock* clock_;
  BinaryFile file_;
  BinaryFile spool_;
  Folder folder_;
  Folder spoolFolder_;
  QByteArray partName_;
  QByteArray spoolName_;
  QByteArray finalName_;
  bool keepExisting_ = false;
  int64_t reservedTo_ = 0;
  bool reserveUnsupported_ = false;
  bool open_ = false;
  std::unique_ptr<FileSyncer> syncer_;

  AviHeaders headers_;
  long double frameRate_ = 0;
  int32_t frameCountHint_ = 0;
  uint32_t largestFrame_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;

  bool hasSound_ = false;
  uint32_t soundBlock_ = 0;  // bytes per unit of a PCM stream; 0 when each chunk is one unit
  uint64_t soundUnits_ = 0;
  uint32_t soundChunks_ = 0;
  uint32_t largestSound_ = 0;
  std::vector<uint8_t> soundFormat_;

  QString fileName_;
  QString finalPath_;
  QString givenSpool_;
  QString spoolPath_;
  std::vector<RiffPart> parts_;
  uint32_t framesWritten_ = 0;
  uint32_t spoolEntries_ = 0;

  QString failure_;
  QString notice_;
  int64_t sizeLimit_ = kNoSizeLimit;
  int64_t riffLimit_ = kRiffLimit;
  bool sizeLimitReported_ = false;
};

}  // namespace qm
