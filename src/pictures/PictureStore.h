#pragma once

#include <QString>

#include <optional>

class QIODevice;

namespace qm {

class DIBBitmap;

// The file types a photo is stored as, in the order of the picture type setting.
enum class PictureType : int { Gif = 0, Jpeg = 1, Bmp = 2 };

inline constexpr int kDefaultJpegPosition = 17;
inline constexpr int kMaxJpegPosition = 24;

// Quality of a JPEG photo for a slider position 0..24: 4..100 in steps of 4.
constexpr int JpegQuality(int position) {
  return position * 4 + 4;
}

// "gif", "jpg" or "bmp".
QString PictureExtension(PictureType type);

// The picture type whose extension ends path ("jpg" or "jpeg" for JPEG; any letter case).
std::optional<PictureType> PictureTypeOfFile(const QString& path);

// Encodes a 24-bit bitmap as a picture of the given type onto a device. Throws GIFError or
// std::runtime_error on failure.
void WritePicture(const DIBBitmap& bitmap, PictureType type, int jpegPosition, QIODevice& out);

// Stores a 24-bit bitmap at path (created, or replaced), by picture type: GIF reduced to the
// colour cube, JPEG at JpegQuality(jpegPosition), or uncompressed BMP. The file appears only
// when complete; a link of the user's own at path is followed and the regular file it names
// replaced, any other link refused (ResolveOutputName).
// Throws PictureError, naming the file, when it cannot be created or written, when path names
// anything but a regular file (a device, a FIFO, a folder), or the picture cannot be encoded.
void StorePicture(const DIBBitmap& bitmap, PictureType type, int jpegPosition, const QString& path);

}  // namespace qm
