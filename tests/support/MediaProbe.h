#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

#include "common/FourCC.h"
#include "common/LittleEndian.h"

namespace qm::test {

// What ffprobe reports of the first video stream of a file.
struct ProbedVideo {
  bool Valid = false;
  QString Error;      // ffprobe's complaint when not valid
  int Streams = 0;    // streams in the file
  QString CodecName;  // "rawvideo", "msmpeg4v2", "h264", ...
  QString CodecTag;   // the stream's four-character code as ffprobe prints it
  int Width = 0;
  int Height = 0;
  int64_t Frames = -1;   // frames the decoder produced (-count_frames)
  int64_t Packets = -1;  // packets the demuxer read
  QString FrameRate;     // r_frame_rate, "15/1"
  double Duration = -1;  // the file's duration in seconds; -1 when ffprobe names none
};

// One "idx1" entry as it lies in the file.
struct AviIndexEntry {
  uint32_t ChunkId = 0;
  uint32_t Flags = 0;
  uint32_t Offset = 0;
  uint32_t Length = 0;
};

// One chunk of the "movi" list.
struct AviMoviChunk {
  uint32_t ChunkId = 0;
  int64_t Position = 0;   // offset of the chunk's code in the file
  uint32_t Size = 0;      // size field (without pad)
  bool PadIsZero = true;  // the pad byte after an odd size is zero
};

// One entry of an OpenDML standard index ("ix00"): the frame's data offset (base added) and
// size, and whether it is a key frame (the size's top bit clear).
struct AviStandardEntry {
  int64_t DataPosition = 0;
  uint32_t Size = 0;
  bool KeyFrame = false;
};

// One "ix00" chunk.
struct AviStandardIndex {
  int64_t Position = 0;  // of the chunk's code
  uint32_t ChunkSize = 0;
  uint32_t EntriesInUse = 0;
  uint32_t ChunkId = 0;
  std::vector<AviStandardEntry> Entries;
};

// One entry of the OpenDML super index ("indx").
struct AviSuperEntry {
  int64_t Offset = 0;  // of the "ix00" chunk
  uint32_t Size = 0;   // of the "ix00" chunk, its header included
  uint32_t Duration = 0;
};

// One "RIFF" list of the file: the first ("AVI ") or a later ("AVIX") part.
struct AviPart {
  int64_t Position = 0;
  uint32_t Size = 0;
  uint32_t Type = 0;
  int64_t MoviPosition = -1;
  uint32_t MoviSize = 0;
  size_t FirstChunk = 0;  // index into AviFile::Chunks
  size_t Chunks = 0;
};

// An AVI file taken apart by our own reader, independent of the writer's code.
struct AviFile {
  bool Valid = false;
  QString Error;
  int64_t FileSize = 0;
  uint32_t RiffSize = 0;
  uint32_t HdrlSize = 0;
  std::array<uint8_t, 56> MainHeader{};
  std::array<uint8_t, 56> StreamHeader{};
  std::array<uint8_t, 40> Format{};
  bool HasMainHeader = false;
  bool HasStreamHeader = false;
  bool HasFormat = false;
  int64_t MoviPosition = -1;  // offset of the "movi" list's "LIST" code
  uint32_t MoviSize = 0;
  std::vector<AviMoviChunk> Chunks;
  bool HasIndex = false;
  int64_t IndexPosition = -1;  // offset of the "idx1" code
  uint32_t IndexSize = 0;
  std::vector<AviIndexEntry> Index;
  // OpenDML: every RIFF part (the first included), the "ix00" chunks, the super index and the
  // extended header's frame count.
  std::vector<AviPart> Parts;
  std::vector<AviStandardIndex> StandardIndexes;
  bool HasSuperIndex = false;
  uint32_t SuperIndexSize = 0;
  uint32_t SuperIndexEntriesInUse = 0;
  std::vector<AviSuperEntry> SuperIndex;
  uint32_t ExtendedFrames = 0;  // dmlh's first value

  // Named fields of the two headers (little-endian values at their offsets).
  uint32_t MicroSecPerFrame() const { return U32(MainHeader, 0); }
  uint32_t MainFlags() const { return U32(MainHeader, 12); }
  uint32_t TotalFrames() const { return U32(MainHeader, 16); }
  uint32_t StreamCount() const { return U32(MainHeader, 24); }
  uint32_t Width() const { return U32(MainHeader, 32); }
  uint32_t Height() const { return U32(MainHeader, 36); }
  uint32_t StreamType() const { return U32(StreamHeader, 0); }
  uint32_t Handler() const { return U32(StreamHeader, 4); }
  uint32_t Scale() const { return U32(StreamHeader, 20); }
  uint32_t Rate() const { return U32(StreamHeader, 24); }
  uint32_t Length() const { return U32(StreamHeader, 32); }
  uint32_t SuggestedBufferSize() const { return U32(StreamHeader, 36); }
  uint32_t Quality() const { return U32(StreamHeader, 40); }
  uint32_t FormatCompression() const { return U32(Format, 16); }

  template <size_t N>
  static uint32_t U32(const std::array<uint8_t, N>& bytes, size_t at) {
    return GetLE32(bytes.data() + at);
  }
};

// The decoder's view of one frame.
struct ProbedFrame {
  bool KeyFrame = false;
  QString PictType;  // "I", "P", "?"
};

// Independent judges of the video files we write: ffprobe and ffmpeg run as programs, and a
// small RIFF reader of our own. Every function is safe to call from any test.
class MediaProbe {
 public:
  // ffprobe and ffmpeg can be run.
  static bool Available();

  // Runs a program to its end; standard output in the result, standard error in *errors.
  // ok is false when the program could not start, timed out or exited non-zero.
  static QByteArray Run(const QString& program, const QStringList& arguments, bool* ok,
                        QString* errors = nullptr, int timeoutMs = 300000);

  static ProbedVideo ProbeVideo(const QString& path);

  // Decodes every frame of the first video stream to packed top-down bgr24 rows
  // (width * 3 bytes each), frame after frame, with no frame dropped or repeated; with a
  // constantRate ("num/den"), as a player shows them at that rate (a frame repeated where
  // the file has a gap). False with the decoder's complaint in *errors when anything went
  // wrong.
  static bool DecodeBgr24(const QString& path, int width, int height,
                          std::vector<QByteArray>& frames, QString* errors = nullptr,
                          const QString& constantRate = QString());

  // Decodes every frame of the first video stream to rawvideo in pixelFormat (ffmpeg's
  // name, "yuv420p"; the decoder's own format converts nothing), frameSize bytes each.
  static bool DecodeRaw(const QString& path, const QString& pixelFormat, qsizetype frameSize,
                        std::vector<QByteArray>& frames, QString* errors = nullptr);

  // The decoder's key-frame flag and picture type of every frame, in order.
  static std::vector<ProbedFrame> DecodedFrames(const QString& path);
  // The key-frame flag ("K") of every packet as the demuxer read it (from the index).
  static std::vector<bool> PacketKeyFlags(const QString& path);

  // Reads the RIFF structure of an AVI file: headers, the "movi" chunks and "idx1", and the
  // OpenDML parts, standard indexes and super index.
  static AviFile ReadAvi(const QString& path);
};

}  // namespace qm::test
