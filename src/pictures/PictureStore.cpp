#include "pictures/PictureStore.h"

#include <QBuffer>
#include <QFileInfo>
#include <QIODevice>

#include <array>
#include <limits>
#include <new>
#include <stdexcept>

#include "common/DIBBitmap.h"
#include "common/SilentAbort.h"
#include "pictures/BMPWriter.h"
#include "pictures/GIFImage.h"
#include "pictures/PictureError.h"
#include "platform/files/OutputName.h"
#include "platform/jpeg/JpegWriter.h"

namespace qm {

QString PictureExtension(PictureType type) {
  switch (type) {
    case PictureType::Gif:
      return QStringLiteral("gif");
    case PictureType::Jpeg:
      return QStringLiteral("jpg");
    case PictureType::Bmp:
      return QStringLiteral("bmp");
  }
  return QString();
}

std::optional<PictureType> PictureTypeOfFile(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("gif")) return PictureType::Gif;
  if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) return PictureType::Jpeg;
  if (suffix == QLatin1String("bmp")) return PictureType::Bmp;
  return std::nullopt;
}

void WritePicture(const DIBBitmap& bitmap, PictureType type, int jpegPosition, QIODevice& out) {
  if (bitmap.Format() != PixelFormat::Bits24)
    throw std::runtime_error("pictures are stored from 24-bit bitmaps only");
  switch (type) {
    case PictureType::Gif: {
      GIFImage gif;
      gif.Assign(bitmap);
      gif.SaveToStream(out);
      return;
    }
    case PictureType::Jpeg:
      JpegWriter::Write(out, bitmap.ScanLine(0), -ptrdiff_t(bitmap.Stride()), bitmap.Width(),
                        bitmap.Height(), JpegQuality(jpegPosition));
      return;
    case PictureType::Bmp:
      BMPWriter::Write(bitmap, out);
      return;
  }
  throw std::invalid_argument("unknown picture type");
}

void StorePicture(const DIBBitmap& bitmap, PictureType type, int jpegPosition,
                  const QString& path) {
  // Encoded in memory first, so that the file sees one stream of writes whose failure is
  // the system's own (a write that the file system cuts short says nothing until the rest is
  // written again).
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  try {
    WritePicture(bitmap, type, jpegPosition, buffer);
  } catch (const SilentAbort&) {
    throw;  // already reported
  } catch (const std::bad_alloc&) {
    throw PictureError(path, QStringLiteral("Can not write file %1: out of memory").arg(path));
  } catch (const std::exception& e) {
    throw PictureError(
        path,
        QStringLiteral("Can not write file %1: %2").arg(path, QString::fromStdString(e.what())));
  }
  // The picture is written beside its final name and renamed into place when complete, so a
  // failed store never leaves a truncated picture behind; only a regular file is replaced that
  // way, and only through a link of the user's own.
  if (const QString failure = ReplaceOutput(path, bytes); !failure.isEmpty())
    throw PictureError(path, failure);
}

}  // namespace qm
