#include "pictures/PictureStore.h"

#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>

#include <array>
#include <limits>
#include <new>
#include <stdexcept>

#include "common/DIBBitmap.h"
#include "common/SilentAbort.h"
#include "pictures/BMPWriter.h"
#include "pictures/GIFImage.h"
#include "pictures/PictureError.h"
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
  // The picture is written beside its final name and renamed into place when complete, so a
  // failed store never leaves a truncated picture behind. The rename puts a regular file where
  // the old entry was, so only a regular file may be replaced that way: through a symbolic
  // link the file it names is replaced and the link stays, while a device, a FIFO or a folder
  // (named directly or through a link) is refused rather than swapped for a plain file.
  const QFileInfo existing(path);
  if (existing.exists() && !existing.isFile())
    throw PictureError(path, QStringLiteral("%1 is not a regular file").arg(path));
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    throw PictureError(path,
                       QStringLiteral("Can not create file %1: %2").arg(path, file.errorString()));
  try {
    WritePicture(bitmap, type, jpegPosition, file);
  } catch (const SilentAbort&) {
    throw;  // already reported
  } catch (const std::bad_alloc&) {
    throw PictureError(path, QStringLiteral("Can not write file %1: out of memory").arg(path));
  } catch (const std::exception& e) {
    // The device's own error, when there is one, is the better reason.
    const QString reason = file.error() != QFileDevice::NoError ? file.errorString()
                                                                : QString::fromStdString(e.what());
    throw PictureError(path, QStringLiteral("Can not write file %1: %2").arg(path, reason));
  }
  if (!file.commit())
    throw PictureError(path,
                       QStringLiteral("Can not write file %1: %2").arg(path, file.errorString()));
}

}  // namespace qm
