#include "support/MediaProbe.h"

#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cstring>

#include "support/ToolRun.h"

namespace qm::test {

namespace {

// "key=value" lines of ffprobe's default writer without section wrappers.
QString Value(const QByteArray& output, const char* key) {
  const QByteArray prefix = QByteArray(key) + '=';
  for (const QByteArray& line : output.split('\n')) {
    if (line.startsWith(prefix)) return QString::fromUtf8(line.mid(prefix.size())).trimmed();
  }
  return QString();
}

// Walks the chunks between begin and end, descending into "LIST"s.
class RiffReader {
 public:
  RiffReader(const uint8_t* data, AviFile& file) : data_(data), file_(file) {}

  bool Walk(int64_t begin, int64_t end, int depth) {
    int64_t at = begin;
    while (at + 8 <= end) {
      const uint32_t id = GetLE32(data_ + at);
      const uint32_t size = GetLE32(data_ + at + 4);
      const int64_t dataAt = at + 8;
      if (dataAt + int64_t(size) > end) return Fail("chunk runs past its parent", at);
      if (id == MakeFourCC("LIST")) {
        if (size < 4) return Fail("list too small", at);
        const uint32_t type = GetLE32(data_ + dataAt);
        if (type == MakeFourCC("hdrl")) file_.HdrlSize = size;
        if (type == MakeFourCC("movi")) {
          if (file_.MoviPosition < 0) {
            file_.MoviPosition = at;
            file_.MoviSize = size;
          }
          if (!file_.Parts.empty()) {
            file_.Parts.back().MoviPosition = at;
            file_.Parts.back().MoviSize = size;
            file_.Parts.back().FirstChunk = file_.Chunks.size();
          }
          if (!ReadMovi(dataAt + 4, dataAt + size)) return false;
          if (!file_.Parts.empty())
            file_.Parts.back().Chunks = file_.Chunks.size() - file_.Parts.back().FirstChunk;
        } else if (depth < 8 && !Walk(dataAt + 4, dataAt + size, depth + 1)) {
          return false;
        }
      } else if (id == MakeFourCC("avih") && size >= 56) {
        std::memcpy(file_.MainHeader.data(), data_ + dataAt, 56);
        file_.HasMainHeader = true;
      } else if (id == MakeFourCC("strh") && size >= 56) {
        std::memcpy(file_.StreamHeader.data(), data_ + dataAt, 56);
        file_.HasStreamHeader = true;
      } else if (id == MakeFourCC("strf") && size >= 40) {
        std::memcpy(file_.Format.data(), data_ + dataAt, 40);
        file_.HasFormat = true;
      } else if (id == MakeFourCC("indx") && size >= 24) {
        file_.HasSuperIndex = true;
        file_.SuperIndexSize = size;
        file_.SuperIndexEntriesInUse = GetLE32(data_ + dataAt + 4);
        const int64_t room = (int64_t(size) - 24) / 16;
        for (int64_t e = 0; e < std::min<int64_t>(room, file_.SuperIndexEntriesInUse); ++e) {
          const uint8_t* entry = data_ + dataAt + 24 + e * 16;
          file_.SuperIndex.push_back({int64_t(GetLE32(entry)) | int64_t(GetLE32(entry + 4)) << 32,
                                      GetLE32(entry + 8), GetLE32(entry + 12)});
        }
      } else if (id == MakeFourCC("dmlh") && size >= 4) {
        file_.ExtendedFrames = GetLE32(data_ + dataAt);
      } else if (id == MakeFourCC("idx1")) {
        file_.HasIndex = true;
        file_.IndexPosition = at;
        file_.IndexSize = size;
        for (int64_t e = dataAt; e + 16 <= dataAt + size; e += 16) {
          file_.Index.push_back({GetLE32(data_ + e), GetLE32(data_ + e + 4), GetLE32(data_ + e + 8),
                                 GetLE32(data_ + e + 12)});
        }
      }
      at = dataAt + size + (size & 1);
    }
    return true;
  }

  QString error;

 private:
  bool ReadMovi(int64_t begin, int64_t end) {
    int64_t at = begin;
    while (at + 8 <= end) {
      AviMoviChunk chunk;
      chunk.ChunkId = GetLE32(data_ + at);
      chunk.Size = GetLE32(data_ + at + 4);
      chunk.Position = at;
      const int64_t next = at + 8 + chunk.Size + (chunk.Size & 1);
      if (next > end) return Fail("frame chunk runs past the movi list", at);
      if (chunk.ChunkId == MakeFourCC("ix00") && chunk.Size >= 24) {
        ReadStandardIndex(at, chunk.Size);
        at = next;
        continue;
      }
      if (chunk.Size & 1) chunk.PadIsZero = data_[at + 8 + chunk.Size] == 0;
      file_.Chunks.push_back(chunk);
      at = next;
    }
    return true;
  }

  void ReadStandardIndex(int64_t at, uint32_t size) {
    AviStandardIndex index;
    const uint8_t* head = data_ + at + 8;
    index.Position = at;
    index.ChunkSize = size;
    index.EntriesInUse = GetLE32(head + 4);
    index.ChunkId = GetLE32(head + 8);
    const int64_t base = int64_t(GetLE32(head + 12)) | int64_t(GetLE32(head + 16)) << 32;
    const int64_t room = (int64_t(size) - 24) / 8;
    for (int64_t e = 0; e < std::min<int64_t>(room, index.EntriesInUse); ++e) {
      const uint8_t* entry = head + 24 + e * 8;
      const uint32_t sized = GetLE32(entry + 4);
      index.Entries.push_back({base + GetLE32(entry), sized & 0x7FFFFFFF, (sized >> 31) == 0});
    }
    file_.StandardIndexes.push_back(index);
  }

  bool Fail(const char* what, int64_t at) {
    error = QStringLiteral("%1 at offset %2").arg(QLatin1String(what)).arg(at);
    return false;
  }

  const uint8_t* data_;
  AviFile& file_;
};

}  // namespace

bool MediaProbe::Available() {
  return !QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty() &&
         !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

QByteArray MediaProbe::Run(const QString& program, const QStringList& arguments, bool* ok,
                           QString* errors, int timeoutMs) {
  const ProcessResult run = RunProcess(program, arguments, timeoutMs);
  if (errors) *errors = run.Err;
  if (ok) *ok = run.ExitCode == 0;
  return run.RawOut;
}

ProbedVideo MediaProbe::ProbeVideo(const QString& path) {
  ProbedVideo video;
  bool ok = false;
  QString errors;
  const QByteArray out =
      Run(QStringLiteral("ffprobe"),
          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
           QStringLiteral("-count_packets"), QStringLiteral("-select_streams"),
           QStringLiteral("v:0"), QStringLiteral("-show_entries"),
           QStringLiteral("stream=codec_name,codec_tag_string,width,height,nb_read_frames,"
                          "nb_read_packets,r_frame_rate:format=nb_streams,duration"),
           QStringLiteral("-of"), QStringLiteral("default=noprint_wrappers=1"), path},
          &ok, &errors);
  video.Error = errors.trimmed();
  video.CodecName = Value(out, "codec_name");
  video.Valid = ok && !video.CodecName.isEmpty();
  video.CodecTag = Value(out, "codec_tag_string");
  video.Width = Value(out, "width").toInt();
  video.Height = Value(out, "height").toInt();
  bool number = false;
  video.Frames = Value(out, "nb_read_frames").toLongLong(&number);
  if (!number) video.Frames = -1;
  video.Packets = Value(out, "nb_read_packets").toLongLong(&number);
  if (!number) video.Packets = -1;
  video.FrameRate = Value(out, "r_frame_rate");
  video.Streams = Value(out, "nb_streams").toInt();
  video.Duration = Value(out, "duration").toDouble(&number);
  if (!number) video.Duration = -1;
  return video;
}

namespace {

bool DecodeFrames(const QString& path, const QString& pixelFormat, qsizetype frameSize,
                  std::vector<QByteArray>& frames, QString* errors, const QString& constantRate) {
  frames.clear();
  bool ok = false;
  QString complaint;
  QStringList arguments = {QStringLiteral("-nostdin"),
                           QStringLiteral("-v"),
                           QStringLiteral("error"),
                           QStringLiteral("-i"),
                           path,
                           QStringLiteral("-map"),
                           QStringLiteral("0:v:0"),
                           QStringLiteral("-fps_mode")};
  if (constantRate.isEmpty())
    arguments << QStringLiteral("passthrough");
  else
    arguments << QStringLiteral("cfr") << QStringLiteral("-r") << constantRate;
  arguments << QStringLiteral("-f") << QStringLiteral("rawvideo") << QStringLiteral("-pix_fmt")
            << pixelFormat << QStringLiteral("-");
  const QByteArray out = MediaProbe::Run(QStringLiteral("ffmpeg"), arguments, &ok, &complaint);
  complaint = complaint.trimmed();
  if (ok && complaint.isEmpty() && frameSize > 0 && out.size() % frameSize != 0) {
    complaint = QStringLiteral("decoded %1 bytes, not a whole number of %2-byte %3 frames")
                    .arg(out.size())
                    .arg(frameSize)
                    .arg(pixelFormat);
  }
  if (errors) *errors = complaint;
  if (!ok || !complaint.isEmpty() || frameSize <= 0) return false;
  for (qsizetype at = 0; at < out.size(); at += frameSize) frames.push_back(out.mid(at, frameSize));
  return true;
}

}  // namespace

bool MediaProbe::DecodeBgr24(const QString& path, int width, int height,
                             std::vector<QByteArray>& frames, QString* errors,
                             const QString& constantRate) {
  return DecodeFrames(path, QStringLiteral("bgr24"), qsizetype(width) * height * 3, frames, errors,
                      constantRate);
}

bool MediaProbe::DecodeRaw(const QString& path, const QString& pixelFormat, qsizetype frameSize,
                           std::vector<QByteArray>& frames, QString* errors) {
  return DecodeFrames(path, pixelFormat, frameSize, frames, errors, QString());
}

std::vector<ProbedFrame> MediaProbe::DecodedFrames(const QString& path) {
  std::vector<ProbedFrame> frames;
  bool ok = false;
  const QByteArray out =
      Run(QStringLiteral("ffprobe"),
          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
           QStringLiteral("v:0"), QStringLiteral("-show_entries"),
           QStringLiteral("frame=key_frame,pict_type"), QStringLiteral("-of"),
           QStringLiteral("csv=p=0"), path},
          &ok);
  if (!ok) return frames;
  for (const QByteArray& line : out.split('\n')) {
    const QList<QByteArray> fields = line.trimmed().split(',');
    if (fields.size() < 2 || fields[0].isEmpty()) continue;
    frames.push_back({fields[0] == "1", QString::fromUtf8(fields[1])});
  }
  return frames;
}

std::vector<bool> MediaProbe::PacketKeyFlags(const QString& path) {
  std::vector<bool> flags;
  bool ok = false;
  const QByteArray out =
      Run(QStringLiteral("ffprobe"),
          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
           QStringLiteral("v:0"), QStringLiteral("-show_entries"), QStringLiteral("packet=flags"),
           QStringLiteral("-of"), QStringLiteral("csv=p=0"), path},
          &ok);
  if (!ok) return flags;
  for (const QByteArray& line : out.split('\n')) {
    const QByteArray field = line.trimmed();
    if (!field.isEmpty()) flags.push_back(field.contains('K'));
  }
  return flags;
}

AviFile MediaProbe::ReadAvi(const QString& path) {
  AviFile file;
  QFile input(path);
  if (!input.open(QIODevice::ReadOnly)) {
    file.Error = QStringLiteral("cannot open ") + path;
    return file;
  }
  file.FileSize = input.size();
  if (file.FileSize < 12) {
    file.Error = QStringLiteral("shorter than a RIFF header");
    return file;
  }
  const uchar* data = input.map(0, file.FileSize);
  QByteArray copy;
  if (!data) {
    copy = input.readAll();
    data = reinterpret_cast<const uchar*>(copy.constData());
  }
  if (GetLE32(data) != MakeFourCC("RIFF") || GetLE32(data + 8) != MakeFourCC("AVI ")) {
    file.Error = QStringLiteral("not a RIFF AVI file");
    return file;
  }
  file.RiffSize = GetLE32(data + 4);
  RiffReader reader(data, file);
  // The first part, then every "RIFF"/"AVIX" part that follows it.
  int64_t at = 0;
  file.Valid = true;
  while (file.Valid && at + 12 <= file.FileSize && GetLE32(data + at) == MakeFourCC("RIFF")) {
    const uint32_t size = GetLE32(data + at + 4);
    const uint32_t type = GetLE32(data + at + 8);
    if (at > 0 && type != MakeFourCC("AVIX")) break;
    file.Parts.push_back({at, size, type});
    const int64_t end = std::min<int64_t>(file.FileSize, at + int64_t(size) + 8);
    file.Valid = reader.Walk(at + 12, end, 0);
    at = at + 8 + int64_t(size) + (size & 1);
  }
  file.Error = reader.error;
  return file;
}

}  // namespace qm::test
