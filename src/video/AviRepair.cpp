#include "video/AviRepair.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <array>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/FourCC.h"
#include "common/LittleEndian.h"
#include "platform/codecs/KeyFrameReader.h"
#include "platform/files/BinaryFile.h"
#include "video/AviIndex.h"
#include "video/AviLayout.h"
#include "video/AviSideFiles.h"
#include "video/AviWriter.h"
#include "video/VideoTypes.h"

namespace qm {

namespace {

constexpr int kEntry = int(AviIndex::kEntryBytes);
constexpr uint32_t kSoundCode = MakeFourCC("01wb");
using MainField = AviLayout::Main;
using StreamField = AviLayout::Stream;

// One chunk of the stream data: a frame of the pictures, or of the sound.
struct Frame {
  int64_t Position = 0;  // of the chunk's code
  uint32_t Size = 0;
  bool Key = false;
  bool Sound = false;
};

// One RIFF part as the scan finds it.
struct FoundPart {
  int64_t Riff = 0;
  int64_t Movi = 0;
  std::vector<Frame> Frames;
  int64_t IndexAt = -1;  // its "ix00", when the writer finished the part
  uint32_t IndexBytes = 0;
  uint32_t IndexEntries = 0;
  int64_t SoundIndexAt = -1;  // its "ix01"
  uint32_t SoundIndexBytes = 0;
  uint32_t SoundIndexEntries = 0;
  uint32_t Sounds = 0;  // of the frames, those of the sound
};

uint32_t Count(const FoundPart& part, bool sound) {
  return sound ? part.Sounds : uint32_t(part.Frames.size()) - part.Sounds;
}

FoundPart MakePart(int64_t riff, int64_t movi) {
  FoundPart part;
  part.Riff = riff;
  part.Movi = movi;
  return part;
}

RepairResult Refuse(const QString& message) {
  RepairResult result;
  result.Result = RepairResult::Outcome::Refused;
  result.Message = message;
  return result;
}

// A part never grows beyond what AviWriter makes of one: its 32-bit sizes stay below 2 GiB.
constexpr int64_t kMaxPart = 2 * AviWriter::kRiffLimit - 2;
// The largest compressed frame handed to the decoder to judge; larger ones count as no key
// frame, so a chunk's claimed size never decides how much memory the repair takes.
constexpr uint32_t kMaxJudged = 64u << 20;

class Repairer {
 public:
  // spools: the recording's spools, by name (any that is not a regular file of the user's
  // own is passed over and left alone).
  Repairer(const QString& fileName, const QStringList& spools)
      : fileName_(fileName), spoolPaths_(spools) {}

  RepairResult Run() {
    if (!file_.OpenReadWrite(fileName_))
      return Refuse(QStringLiteral("Can not open file ") + fileName_);
    if (file_.TryLock() != BinaryFile::LockResult::Taken)
      return Refuse(QStringLiteral("The file ") + fileName_ +
                    QStringLiteral(" is being recorded."));
    size_ = file_.Size();
    const QString notOurs =
        fileName_ + QStringLiteral(" is not a recording of Quillmark; left unchanged.");
    if (!ReadLayout()) return Refuse(notOurs);
    handler_ = U32(layout_.VideoHeader() + StreamField::kHandler);
    code_ = handler_ == MakeFourCC("DIB ") ? MakeFourCC("00db") : MakeFourCC("00dc");
    if (handler_ == 0) return Refuse(notOurs);
    if (Complete()) {
      RepairResult result;
      result.Result = RepairResult::Outcome::AlreadyComplete;
      result.FramesKept = U32(layout_.VideoHeader() + StreamField::kLength);
      result.Message = fileName_ + QStringLiteral(" is complete; nothing to repair.");
      return result;
    }

    // A spool still locked belongs to a recorder of this file that is starting.
    std::vector<std::pair<QString, BinaryFile>> spools;
    for (const QString& path : spoolPaths_) {
      BinaryFile spool;
      if (!spool.OpenOwn(path)) continue;
      if (spool.TryLock() == BinaryFile::LockResult::Busy)
        return Refuse(QStringLiteral("The file ") + fileName_ +
                      QStringLiteral(" is being recorded."));
      spools.emplace_back(path, std::move(spool));
    }
    if (!Scan())
      return Refuse(fileName_ + QStringLiteral(" is damaged beyond repair; left unchanged."));
    // One spool tells the key flags, where it agrees with the file frame for frame; any other
    // is left over from an earlier recording of the same name and goes too.
    if (!spools.empty()) spool_ = &spools.back().second;
    KeyFlags();
    const bool ok = parts_.size() == 1 ? FinishClassic() : FinishOpenDml();
    if (!ok) return Refuse(QStringLiteral("Can not write file ") + fileName_);
    for (const auto& [path, spool] : spools) spool.RemoveIfAt(path);

    RepairResult result;
    result.Result = RepairResult::Outcome::Repaired;
    result.FramesKept = TotalFrames();
    result.BytesCut = std::max<int64_t>(0, size_ - end_);
    result.Message =
        QStringLiteral("%1: completed, %2 frames kept").arg(fileName_).arg(result.FramesKept);
    if (cutChunk_) result.Message += QStringLiteral(", an unfinished frame cut");
    return result;
  }

 private:
  uint32_t U32(int64_t at) const { return GetLE32(header_.data() + at); }
  int64_t Movi() const { return layout_.Movi(); }
  // The video stream's super index (or the "JUNK" it replaces): its code, then its data.
  uint32_t SuperIndexCode() const { return U32(layout_.VideoSuperIndex() - 8); }

  // Reads the header region and tells whether it is laid out as the writer lays it, with the
  // values the writer puts there that never change.
  bool ReadLayout() {
    // The stream count tells whether the sound's list follows the pictures', and the sound's
    // format, whose size its list's layout depends on, lies at the same place whatever that
    // size: the room of the longest is read first.
    const AviLayout longest(AviLayout::kSoundFormatRoom);
    header_.resize(size_t(longest.FirstChunk()));
    const int64_t least = AviLayout().FirstChunk();
    if (size_ < least ||
        !file_.ReadAt(0, header_.data(), size_t(std::min(size_, longest.FirstChunk()))))
      return false;
    const uint32_t streams = U32(AviLayout().MainHeader() + MainField::kStreams);
    if (streams != 1 && streams != 2) return false;
    uint32_t soundFormatBytes = 0;
    if (streams == 2) {
      if (size_ < longest.FirstChunk()) return false;
      const uint8_t* format = header_.data() + longest.SoundFormat();
      // PCM without extra bytes, or a compressed format of the longest kind.
      soundFormatBytes = GetLE16(format) == 1 ? 18 : AviLayout::kSoundFormatRoom;
    }
    layout_ = AviLayout(soundFormatBytes);
    header_.resize(size_t(layout_.FirstChunk()));
    sound_ = layout_.HasSound();
    for (const AviLayout::Head& head : layout_.Heads()) {
      // The sizes of the "RIFF" and the first "movi" change as the file grows; a reserve of a
      // super index may have become one.
      const bool grows = head.Code == MakeFourCC("RIFF") || head.ListType == MakeFourCC("movi");
      const bool index = head.At + 8 == layout_.VideoSuperIndex() ||
                         (sound_ && head.At + 8 == layout_.SoundSuperIndex());
      const uint32_t code = U32(head.At);
      if ((code != head.Code && !(index && code == MakeFourCC("indx"))) ||
          (!grows && U32(head.At + 4) != head.Size) ||
          (head.ListType != 0 && U32(head.At + 8) != head.ListType))
        return false;
    }
    const int64_t video = layout_.VideoHeader();
    return U32(layout_.MainHeader() + MainField::kFlags) == 0x110 &&
           U32(video + StreamField::kType) == MakeFourCC("vids") &&
           U32(video + StreamField::kFlags) == 0 && U32(video + StreamField::kScale) == 10000 &&
           U32(video + StreamField::kRate) != 0 && (!sound_ || SoundHeaderIsOurs());
  }

  // The sound stream's header and format as the recorder makes them: 16-bit PCM, or MP3 whose
  // chunks are one frame of 1152 samples each; one or two channels at a rate a sound server
  // gives. Anything else would make the completed file's lengths wrong.
  bool SoundHeaderIsOurs() {
    if (U32(layout_.SoundHeader() + StreamField::kType) != MakeFourCC("auds")) return false;
    const uint8_t* format = header_.data() + layout_.SoundFormat();
    const uint16_t tag = GetLE16(format), channels = GetLE16(format + 2);
    const uint32_t rate = GetLE32(format + 4), bytesPerSecond = GetLE32(format + 8);
    const uint16_t block = GetLE16(format + 12), bits = GetLE16(format + 14);
    if (channels < 1 || channels > 2 || rate < 8000 || rate > 192000 || bytesPerSecond == 0)
      return false;
    if (tag == 1) {
      soundBlock_ = block;
      return bits == 16 && block == channels * 2 && bytesPerSecond == rate * block;
    }
    soundBlock_ = 0;
    return tag == 0x55 && block == 1152 && bits == 0;
  }

  // The sound's length in its stream's units: sample blocks of PCM, else chunks.
  uint64_t SoundUnits(const FoundPart& part) const {
    uint64_t units = 0;
    for (const Frame& frame : part.Frames)
      if (frame.Sound) units += soundBlock_ ? frame.Size / soundBlock_ : 1;
    return units;
  }
  uint64_t SoundUnits() const {
    uint64_t units = 0;
    for (const FoundPart& part : parts_) units += SoundUnits(part);
    return units;
  }
  uint32_t LargestSound() const {
    uint32_t largest = 0;
    for (const FoundPart& part : parts_)
      for (const Frame& frame : part.Frames)
        if (frame.Sound) largest = std::max(largest, frame.Size);
    return largest;
  }
  // The indexes a part of these chunks has at its end.
  int64_t PartIndexBytes(int64_t frames, int64_t sounds, bool first) const {
    return AviIndex::PartBytes(frames, sound_ ? sounds : -1, first);
  }

  // A file that went through Close (or through a repair) once, and that nothing has cut short
  // since.
  bool Complete() {
    if (SuperIndexCode() == MakeFourCC("indx")) return CompleteOpenDml();
    const int64_t moviEnd = Movi() + 8 + int64_t(U32(Movi() + 4));
    uint8_t idx1[8];
    if (moviEnd + 8 > size_ || !file_.ReadAt(moviEnd, idx1, 8)) return false;
    // With sound the index has the sound's entries too, in between.
    const uint64_t entries = GetLE32(idx1 + 4);
    const uint32_t frames = U32(layout_.MainHeader() + MainField::kTotalFrames);
    const bool counted = sound_ ? entries % kEntry == 0 && entries >= frames * uint64_t(kEntry)
                                : entries == frames * uint64_t(kEntry);
    return GetLE32(idx1) == MakeFourCC("idx1") && counted &&
           moviEnd + 8 + int64_t(GetLE32(idx1 + 4)) == size_ && int64_t(U32(4)) + 8 == size_ &&
           U32(layout_.VideoHeader() + StreamField::kLength) == frames;
  }

  // An OpenDML file is complete when its RIFF parts follow each other up to the file's end, and
  // the super index names, for each part, a whole "ix00" inside it whose frames lie inside it
  // too and add up to the file's frame count.
  bool CompleteOpenDml() {
    const uint32_t parts = U32(layout_.VideoSuperIndex() + 4);
    if (parts < 2 || parts > uint32_t(AviWriter::kMaxParts)) return false;
    int64_t riff = 0;
    uint64_t frames = 0;
    for (uint32_t i = 0; i < parts; ++i) {
      uint8_t head[12];
      if (riff + 12 > size_ || !file_.ReadAt(riff, head, sizeof head) ||
          GetLE32(head) != MakeFourCC("RIFF") ||
          GetLE32(head + 8) != (i == 0 ? MakeFourCC("AVI ") : MakeFourCC("AVIX")))
        return false;
      const int64_t end = riff + 8 + int64_t(GetLE32(head + 4));
      const uint8_t* entry = header_.data() + layout_.VideoSuperIndex() + 24 + i * 16;
      const uint64_t offset = GetLE64(entry);
      const uint32_t indexBytes = GetLE32(entry + 8);
      const uint32_t indexFrames = GetLE32(entry + 12);
      if (end > size_ || offset > uint64_t(size_)) return false;
      const int64_t indexAt = int64_t(offset);
      if (indexAt < riff || indexBytes < 32 || indexAt + indexBytes > end ||
          !IndexInside(indexAt, indexBytes, indexFrames, riff, end))
        return false;
      frames += indexFrames;
      riff = end;
    }
    return riff == size_ && frames == U32(layout_.VideoHeader() + StreamField::kLength) &&
           frames == U32(layout_.ExtendedHeader());
  }

  // The "ix00" at indexAt (indexBytes long, frames entries) is whole and its frames lie
  // between partStart and partEnd; read in bounded pieces.
  bool IndexInside(int64_t indexAt, uint32_t indexBytes, uint32_t frames, int64_t partStart,
                   int64_t partEnd) {
    uint8_t head[32];
    if (!file_.ReadAt(indexAt, head, sizeof head) || GetLE32(head) != MakeFourCC("ix00") ||
        GetLE32(head + 4) != indexBytes - 8 || GetLE32(head + 12) != frames ||
        indexBytes != 32 + uint64_t(frames) * 8)
      return false;
    const uint64_t offset = GetLE64(head + 20);
    if (offset < uint64_t(partStart) || offset > uint64_t(partEnd)) return false;
    const int64_t base = int64_t(offset);
    constexpr uint32_t kPiece = 4096;
    std::vector<uint8_t> entries(size_t(kPiece) * 8);
    for (uint32_t done = 0; done < frames;) {
      const uint32_t n = std::min(kPiece, frames - done);
      if (!file_.ReadAt(indexAt + 32 + int64_t(done) * 8, entries.data(), size_t(n) * 8))
        return false;
      for (uint32_t k = 0; k < n; ++k) {
        const int64_t at = base + int64_t(GetLE32(entries.data() + k * 8));
        const int64_t bytes = int64_t(GetLE32(entries.data() + k * 8 + 4) & 0x7FFFFFFFu);
        if (at + bytes > partEnd) return false;
      }
      done += n;
    }
    return true;
  }

  // Walks the chunks as the writer appends them: frames, a part's "ix00", the first part's
  // "idx1", the next part's head. Stops at the first chunk that is cut off or unknown.
  bool Scan() {
    parts_.assign(1, MakePart(0, Movi()));
    int64_t at = layout_.FirstChunk();
    while (at + 8 <= size_) {
      uint8_t head[24];
      if (!file_.ReadAt(at, head, 8)) break;
      const uint32_t id = GetLE32(head);
      const uint32_t size = GetLE32(head + 4);
      const int64_t next = at + 8 + int64_t(size) + (size & 1);
      if (id == MakeFourCC("RIFF")) {
        if (at + 24 > size_ || !file_.ReadAt(at, head, 24) ||
            GetLE32(head + 8) != MakeFourCC("AVIX") || GetLE32(head + 12) != MakeFourCC("LIST") ||
            GetLE32(head + 20) != MakeFourCC("movi") ||
            parts_.size() >= size_t(AviWriter::kMaxParts))
          break;
        parts_.push_back(MakePart(at, at + 12));
        at += 24;
        continue;
      }
      const bool sound = sound_ && id == kSoundCode;
      if (next > size_) {
        cutChunk_ = id == code_ || sound;
        break;
      }
      FoundPart& part = parts_.back();
      // Every part with the indexes it gets must keep its 32-bit sizes: one that cannot is
      // not of ours.
      const int64_t frames = int64_t(Count(part, false)) + (sound ? 0 : 1);
      const int64_t sounds = int64_t(Count(part, true)) + (sound ? 1 : 0);
      if (next - part.Riff + PartIndexBytes(frames, sounds, parts_.size() == 1) > kMaxPart)
        return false;
      if (id == code_ || sound) {
        part.Frames.push_back(Frame{at, size, false, sound});
        if (sound) ++part.Sounds;
      } else if (id == MakeFourCC("ix00") && size >= 24 && part.IndexAt < 0) {
        uint8_t entries[4];
        if (!file_.ReadAt(at + 12, entries, 4)) break;
        part.IndexAt = at;
        part.IndexBytes = size + 8;
        part.IndexEntries = GetLE32(entries);
      } else if (sound_ && id == MakeFourCC("ix01") && size >= 24 && part.SoundIndexAt < 0) {
        uint8_t entries[4];
        if (!file_.ReadAt(at + 12, entries, 4)) break;
        part.SoundIndexAt = at;
        part.SoundIndexBytes = size + 8;
        part.SoundIndexEntries = GetLE32(entries);
      } else if (id != MakeFourCC("idx1") || parts_.size() != 1) {
        break;
      }
      at = next;
    }
    // A part begun without a frame goes; every part before the last must have been finished.
    while (parts_.size() > 1 && parts_.back().Frames.empty()) parts_.pop_back();
    // Their indexes are rewritten in place, so each must lie right after its frames and end
    // where the next part begins.
    for (size_t i = 0; i + 1 < parts_.size(); ++i) {
      const FoundPart& part = parts_[i];
      const uint32_t frames = Count(part, false);
      const uint32_t sounds = Count(part, true);
      const int64_t end = EndOfFrames(part) + PartIndexBytes(frames, sounds, i == 0);
      if (part.IndexAt != EndOfFrames(part) || part.IndexEntries != frames ||
          end != parts_[i + 1].Riff)
        return false;
      if (sound_ && (part.SoundIndexAt != part.IndexAt + 32 + 8 * int64_t(frames) ||
                     part.SoundIndexEntries != sounds))
        return false;
    }
    return true;
  }

  uint32_t TotalFrames() const {
    uint32_t total = 0;
    for (const FoundPart& part : parts_) total += Count(part, false);
    return total;
  }

  // Key flags of the frames the new index describes: the spool's when it agrees with the file
  // frame for frame, else the decoder's.
  void KeyFlags() {
    std::vector<Frame*> frames;
    for (FoundPart& part : parts_)
      for (Frame& frame : part.Frames) frames.push_back(&frame);
    // The spool's entries follow the frames one for one while both survive.
    size_t fromSpool = 0;
    const int64_t entries = spool_ ? std::max<int64_t>(spool_->Size(), 0) / kEntry : 0;
    for (const FoundPart& part : parts_) {
      bool agrees = true;
      for (const Frame& frame : part.Frames) {
        uint8_t entry[kEntry];
        agrees = int64_t(fromSpool) < entries &&
                 spool_->ReadAt(int64_t(fromSpool) * kEntry, entry, kEntry) &&
                 GetLE32(entry) == (frame.Sound ? kSoundCode : code_) &&
                 GetLE32(entry + 8) == uint32_t(frame.Position - part.Movi - 8) &&
                 GetLE32(entry + 12) == frame.Size;
        if (!agrees) break;
        frames[fromSpool]->Key = (GetLE32(entry + 4) & kAviKeyFrame) != 0;
        ++fromSpool;
      }
      if (!agrees) break;
    }
    if (fromSpool == frames.size()) return;
    // The decoder needs the stream from its start to know the later frames.
    KeyFrameReader reader(handler_, header_.data() + layout_.VideoFormat());
    std::vector<uint8_t> data;
    for (size_t i = 0; i < frames.size(); ++i) {
      Frame& frame = *frames[i];
      // Every chunk of the sound stands alone.
      if (frame.Sound) {
        frame.Key = true;
        continue;
      }
      // An empty chunk repeats the frame before it and is never a key frame; every
      // uncompressed frame is one.
      bool key = frame.Size != 0;
      if (handler_ == MakeFourCC("DIB ")) {
      } else if (key && reader.Usable() && frame.Size <= kMaxJudged) {
        data.resize(frame.Size);
        key = file_.ReadAt(frame.Position + 8, data.data(), data.size()) &&
              reader.IsKeyFrame(data.data(), data.size());
      }
      if (i >= fromSpool) frame.Key = key;
    }
  }

  uint32_t Largest() const {
    uint32_t largest = 0;
    for (const FoundPart& part : parts_)
      for (const Frame& frame : part.Frames)
        if (!frame.Sound) largest = std::max(largest, frame.Size);
    return largest;
  }

  int64_t EndOfFrames(const FoundPart& part) const {
    if (part.Frames.empty()) return part.Movi + 12;
    const Frame& last = part.Frames.back();
    return last.Position + 8 + last.Size + (last.Size & 1);
  }

  // One part: the classic layout, as Close writes it.
  bool FinishClassic() {
    const FoundPart& part = parts_.front();
    const int64_t endOfFrames = EndOfFrames(part);
    const std::vector<uint8_t> index = Idx1(part);
    end_ = endOfFrames + int64_t(index.size());
    const uint32_t frames = TotalFrames();
    // An OpenDML file cut back to its first part becomes a classic one: its super indexes go
    // back to the reserved "JUNK" they replaced.
    static const std::array<uint8_t, AviLayout::kSuperIndexBytes> kZeros{};
    const auto unindex = [&](int64_t at) {
      return U32(at - 8) != MakeFourCC("indx") ||
             (file_.WriteAt(at, kZeros.data(), kZeros.size()) &&
              file_.WriteU32At(at - 8, MakeFourCC("JUNK")));
    };
    if (!unindex(layout_.VideoSuperIndex()) || (sound_ && !unindex(layout_.SoundSuperIndex())))
      return false;
    if (sound_ && !WriteSoundHeader()) return false;
    return file_.WriteAt(endOfFrames, index.data(), index.size()) && WriteVideoCounts(frames) &&
           file_.WriteU32At(layout_.ExtendedHeader(), AviLayout::kOnePartExtendedCount) &&
           file_.WriteU32At(Movi() + 4, uint32_t(endOfFrames - Movi() - 8)) &&
           file_.Truncate(end_) && file_.WriteU32At(4, uint32_t(end_ - 8)) && file_.SyncData();
  }

  // The main header's frames (those of the first part), and the video stream's length and
  // largest chunk.
  bool WriteVideoCounts(uint32_t firstPartFrames) {
    const int64_t video = layout_.VideoHeader();
    return file_.WriteU32At(layout_.MainHeader() + MainField::kTotalFrames, firstPartFrames) &&
           file_.WriteU32At(video + StreamField::kLength, TotalFrames()) &&
           file_.WriteU32At(video + StreamField::kBufferSize, Largest());
  }

  // The sound stream's length and largest chunk.
  bool WriteSoundHeader() {
    const int64_t sound = layout_.SoundHeader();
    return file_.WriteU32At(sound + StreamField::kLength,
                            uint32_t(std::min<uint64_t>(SoundUnits(), 0xFFFFFFFFu))) &&
           file_.WriteU32At(sound + StreamField::kBufferSize, LargestSound());
  }

  // The "ix00" (or "ix01") of a part, for frames whose key flags are known.
  static std::vector<uint8_t> StandardIndex(const FoundPart& part, uint32_t code, bool sound) {
    AviIndex index(sound, code, Count(part, sound), part.Movi + 8);
    for (const Frame& frame : part.Frames)
      if (frame.Sound == sound) index.Add(frame.Position + 8, frame.Size, frame.Key);
    return index.Bytes();
  }

  std::vector<uint8_t> Idx1(const FoundPart& part) const {
    std::vector<uint8_t> index(8 + part.Frames.size() * kEntry);
    PutLE32(index.data(), MakeFourCC("idx1"));
    PutLE32(index.data() + 4, uint32_t(part.Frames.size() * kEntry));
    for (size_t i = 0; i < part.Frames.size(); ++i) {
      const Frame& frame = part.Frames[i];
      AviIndex::PutEntry(index.data() + 8 + i * kEntry, frame.Sound ? kSoundCode : code_,
                         frame.Key ? kAviKeyFrame : 0, uint32_t(frame.Position - part.Movi - 8),
                         frame.Size);
    }
    return index;
  }

  // Several parts: every part's indexes and sizes are written anew from what the scan found
  // (the finished parts' keep their places and lengths), the last part's after its last whole
  // frame; then the headers and, last of all, the super index that marks the file complete.
  bool FinishOpenDml() {
    // Every index stands before the first byte is written.
    std::vector<std::vector<uint8_t>> indexes;
    std::vector<std::vector<uint8_t>> soundIndexes;
    for (const FoundPart& part : parts_) {
      indexes.push_back(StandardIndex(part, code_, false));
      if (sound_) soundIndexes.push_back(StandardIndex(part, kSoundCode, true));
    }
    const std::vector<uint8_t> idx1 = Idx1(parts_.front());
    for (size_t i = 0; i < parts_.size(); ++i) {
      FoundPart& part = parts_[i];
      const bool last = i + 1 == parts_.size();
      const int64_t at = last ? EndOfFrames(part) : part.IndexAt;
      if (at != EndOfFrames(part)) return false;
      const std::vector<uint8_t>& index = indexes[i];
      part.IndexAt = at;
      part.IndexBytes = uint32_t(index.size());
      int64_t moviEnd = at + int64_t(index.size());
      if (!file_.WriteAt(at, index.data(), index.size())) return false;
      if (sound_) {
        part.SoundIndexAt = moviEnd;
        part.SoundIndexBytes = uint32_t(soundIndexes[i].size());
        if (!file_.WriteAt(moviEnd, soundIndexes[i].data(), soundIndexes[i].size())) return false;
        moviEnd += int64_t(soundIndexes[i].size());
      }
      int64_t partEnd = moviEnd;
      if (i == 0) {
        if (!file_.WriteAt(moviEnd, idx1.data(), idx1.size())) return false;
        partEnd += int64_t(idx1.size());
      }
      if (!last && partEnd != parts_[i + 1].Riff) return false;
      if (!file_.WriteU32At(part.Movi + 4, uint32_t(moviEnd - part.Movi - 8)) ||
          !file_.WriteU32At(part.Riff + 4, uint32_t(partEnd - part.Riff - 8)))
        return false;
      end_ = partEnd;
    }
    if (!file_.Truncate(end_)) return false;

    std::vector<AviIndex::PartIndex> video;
    std::vector<AviIndex::PartIndex> sound;
    for (const FoundPart& part : parts_) {
      video.push_back({part.IndexAt, part.IndexBytes, Count(part, false)});
      sound.push_back({part.SoundIndexAt, part.SoundIndexBytes, uint32_t(SoundUnits(part))});
    }
    const auto super = AviIndex::Super(code_, video);
    if (sound_) {
      const auto soundSuper = AviIndex::Super(kSoundCode, sound);
      if (!WriteSoundHeader() ||
          !file_.WriteAt(layout_.SoundSuperIndex(), soundSuper.data(), soundSuper.size()) ||
          !file_.WriteU32At(layout_.SoundSuperIndex() - 8, MakeFourCC("indx")))
        return false;
    }
    return WriteVideoCounts(Count(parts_.front(), false)) &&
           file_.WriteU32At(layout_.ExtendedHeader(), TotalFrames()) &&
           file_.WriteAt(layout_.VideoSuperIndex(), super.data(), super.size()) &&
           file_.SyncData() &&
           file_.WriteU32At(layout_.VideoSuperIndex() - 8, MakeFourCC("indx")) && file_.SyncData();
  }

  QString fileName_;
  QStringList spoolPaths_;
  BinaryFile file_;
  BinaryFile* spool_ = nullptr;
  int64_t size_ = 0;
  int64_t end_ = 0;
  std::vector<uint8_t> header_;
  AviLayout layout_;
  bool sound_ = false;
  uint32_t soundBlock_ = 0;
  uint32_t handler_ = 0;
  uint32_t code_ = 0;
  bool cutChunk_ = false;
  std::vector<FoundPart> parts_;
};

}  // namespace

RepairResult AviRepair::Repair(const QString& fileName, const QString& spoolPath) {
  const QFileInfo info(fileName);
  if (!info.isFile()) return Refuse(QStringLiteral("Can not open file ") + fileName);
  const QString path = info.canonicalFilePath();
  // Only a spool by the name the writer gives one of this file is ever read or removed.
  QStringList spools;
  if (spoolPath.isEmpty())
    spools = AviSideFiles::SpoolsOf(path);
  else if (AviSideFiles::IsSpoolOf(spoolPath, path))
    spools << spoolPath;
  try {
    Repairer repairer(path, spools);
    return repairer.Run();
  } catch (const std::bad_alloc&) {
    // Nothing is written before every index stands in memory.
    return Refuse(QStringLiteral("Not enough memory to repair ") + path +
                  QStringLiteral("; left unchanged."));
  } catch (const std::length_error&) {
    return Refuse(QStringLiteral("Not enough memory to repair ") + path +
                  QStringLiteral("; left unchanged."));
  }
}

}  // namespace qm
