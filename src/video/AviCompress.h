#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/DIBBitmap.h"
#include "platform/codecs/EncoderTypes.h"
#include "video/VideoTypes.h"

namespace qm {

class VideoEncoder;

// One entry of the compressor list; Handler 0 is the built-in uncompressed entry.
struct CompressorEntry {
  uint32_t Type = 0;
  uint32_t Handler = 0;
  QString Name;
  QString Description;
};

// An item of the main window's compressor box: the text shown and the entry behind it.
struct DisplayItem {
  QString Text;
  const CompressorEntry* Entry = nullptr;
};

// Lists the installed compressors (the built-in uncompressed entry first), selects and
// configures one, and turns the frame bitmap into compressed frames for the AVI writer.
// List, Select and the options run on the user-interface thread while no recording
// runs; Begin and End on the capture thread, Compress on the recording's writer thread; calls
// never overlap.
class AviCompress {
 public:
  AviCompress();
  ~AviCompress();
  AviCompress(const AviCompress&) = delete;
  AviCompress& operator=(const AviCompress&) = delete;

  // Rebuilds the list, built-in entry first, and makes the built-in entry current; an open
  // compressor is closed.
  void ListEntries();
  // Lists anew and gives one item per entry; the items point into the list and stay valid
  // until the next listing.
  bool FillDisplayList(std::vector<DisplayItem>& items);
  const std::vector<CompressorEntry>& Entries() const { return entries_; }

  bool Select(uint32_t code);
  uint32_t CurrentCode() const;
  int CurrentIndex() const;
  bool CanConfigure();
  // The current compressor's options, as its configuration dialog sets them; nothing for the
  // built-in entry. Selecting another compressor starts it on its defaults.
  std::optional<EncoderSettings> Options() const;
  // What the options dialog of the current compressor offers (its title, a quality or only
  // the key-frame interval, whether it keeps every pixel); nothing for the built-in entry.
  struct OptionsForm {
    QString Title;
    bool HasQuality = false;
    bool Lossless = false;
  };
  std::optional<OptionsForm> Form() const;
  // Makes the open compressor's next frame fail with result (tests reach that path so).
  void InjectFault(EncoderResult result);
  // Where the open compressor reads the time its frames take (tests choose it so).
  void TimeFramesWith(std::function<std::chrono::nanoseconds()> clock);
  void SetOptions(const EncoderSettings& options);

  DIBBitmap& Bitmap() { return bitmap_; }

  // Why a recording of width x height pixels cannot begin with the current entry (the frame
  // bitmap or the compressor refuses the size), or empty when it can. Opens nothing and
  // changes nothing, so a caller can ask before it creates any file.
  QString FrameSizeProblem(int32_t width, int32_t height) const;

  // A sequence still running (a recording cut short by a failed frame) is ended first.
  bool Begin(CompressRequest& request);
  // Fills Data, Size, Flags and Bitmap; a compressor failure goes through the error report.
  bool Compress(CompressedFrame& frame);
  bool End();
  void CloseCompressor();

  // The listing rules for one installed compressor whose Type and Handler are filled:
  // "hfyu" is never listed; "divx" is listed as "DivX" without asking it; any other is asked
  // for its name and description by describe (which leaves the description empty when the
  // compressor cannot be opened), and listed unless the trimmed description is empty or
  // contains "yuv", "h." or "rle" in any letter case. True when the entry is listed.
  static bool AdmitEntry(CompressorEntry& entry,
                         const std::function<void(CompressorEntry&)>& describe);

 private:
  std::vector<CompressorEntry> entries_;
  int current_ = -1;
  DIBBitmap bitmap_;
  PixelFormat pixelFormat_ = PixelFormat::Bits24;
  bool compressing_ = false;
  std::unique_ptr<VideoEncoder> compressor_;
  std::vector<uint8_t> outputFormat_;
  std::vector<uint8_t> compressedBuffer_;
};

// A compressor entry's handler code as its four characters, "DIB" for the built-in entry;
// what the command line shows.
QString EntryCodeText(const CompressorEntry& entry);

}  // namespace qm
