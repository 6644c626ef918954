#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <stdexcept>
#include <tuple>
#include <vector>

#include <sys/stat.h>

#include "common/LittleEndian.h"
#include "pictures/PictureError.h"
#include "pictures/PictureSamples.h"
#include "pictures/PictureStore.h"
#include "support/FullDevice.h"
#include "support/LoopDisk.h"
#include "support/TestFiles.h"

namespace qm {
namespace {

using test::Rgb;

QByteArray Encoded(const DIBBitmap& bitmap, PictureType type, int position = 17) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  WritePicture(bitmap, type, position, buffer);
  return buffer.data();
}

using test::ReadAll;

// Blocks of 16 x 16 in distinct colours: every JPEG macroblock is flat, so even strong
// compression keeps each block's colour near its source; the layout shows row order and
// channel order.
const Rgb kBlockColours[] = {{230, 30, 30}, {30, 200, 40},   {40, 50, 220},  {240, 240, 60},
                             {20, 20, 20},  {250, 250, 250}, {200, 60, 200}, {60, 200, 210}};
DIBBitmap Blocks() {
  return test::MakeBitmap(64, 32,
                          [](int x, int y) { return kBlockColours[(y / 16) * 4 + x / 16]; });
}

// The parts of a JPEG file that show how it was coded.
struct JpegInfo {
  bool Baseline = false, Progressive = false, Extended = false;
  int Width = 0, Height = 0, Components = 0;
  std::array<std::vector<int>, 4> Tables;  // quantisation tables in zig-zag order
};

JpegInfo ParseJpeg(const QByteArray& data) {
  JpegInfo info;
  const auto* p = reinterpret_cast<const uint8_t*>(data.constData());
  const size_t n = size_t(data.size());
  if (n < 4 || p[0] != 0xFF || p[1] != 0xD8) return info;
  size_t at = 2;
  while (at + 4 <= n && p[at] == 0xFF) {
    const uint8_t marker = p[at + 1];
    const size_t length = size_t(p[at + 2] << 8 | p[at + 3]);
    const uint8_t* seg = p + at + 4;
    if (at + 2 + length > n) break;
    if (marker == 0xDB) {
      for (size_t i = 0; i + 65 <= length - 2;) {
        const int precision = seg[i] >> 4, id = seg[i] & 3;
        if (precision != 0) break;
        info.Tables[size_t(id)].assign(seg + i + 1, seg + i + 65);
        i += 65;
      }
    } else if (marker >= 0xC0 && marker <= 0xC2) {
      info.Baseline = marker == 0xC0;
      info.Extended = marker == 0xC1;
      info.Progressive = marker == 0xC2;
      info.Height = seg[1] << 8 | seg[2];
      info.Width = seg[3] << 8 | seg[4];
      info.Components = seg[5];
    } else if (marker == 0xDA) {
      break;  // entropy-coded data follows
    }
    at += 2 + length;
  }
  return info;
}

// The standard tables libjpeg starts from (natural order), scaled for a quality the way it
// documents: 5000 / q below 50, else 200 - 2 q percent, limited to 1..255 for baseline.
std::vector<int> ExpectedTable(bool chroma, int quality) {
  static const int kLuma[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};
  static const int kChroma[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                  24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
  static const int kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                  35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                  58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
  const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  std::vector<int> table;
  for (int i = 0; i < 64; ++i) {
    const int base = (chroma ? kChroma : kLuma)[kZigZag[i]];
    table.push_back(std::clamp((base * scale + 50) / 100, 1, 255));
  }
  return table;
}

TEST(PictureStore, JpegQualityFollowsTheSliderPosition) {
  EXPECT_EQ(JpegQuality(0), 4);
  EXPECT_EQ(JpegQuality(17), 72);
  EXPECT_EQ(JpegQuality(24), 100);

  const DIBBitmap bitmap = Blocks();
  for (const auto& [position, quality, tolerance] :
       {std::tuple{0, 4, 120}, std::tuple{17, 72, 24}, std::tuple{24, 100, 8}}) {
    SCOPED_TRACE(position);
    const QByteArray data = Encoded(bitmap, PictureType::Jpeg, position);
    const JpegInfo info = ParseJpeg(data);
    EXPECT_TRUE(info.Baseline);
    EXPECT_FALSE(info.Progressive);
    EXPECT_FALSE(info.Extended);
    EXPECT_EQ(info.Components, 3);
    EXPECT_EQ(info.Width, 64);
    EXPECT_EQ(info.Height, 32);
    EXPECT_EQ(info.Tables[0], ExpectedTable(false, quality));
    EXPECT_EQ(info.Tables[1], ExpectedTable(true, quality));

    QImage image;
    ASSERT_TRUE(image.loadFromData(data, "JPEG"));
    ASSERT_EQ(image.size(), QSize(64, 32));
    EXPECT_FALSE(image.isGrayscale());
    // Each block's centre keeps its colour: rows top to bottom, red, green, blue in order.
    for (int block = 0; block < 8; ++block) {
      const QRgb got = image.pixel((block % 4) * 16 + 8, (block / 4) * 16 + 8);
      const Rgb want = kBlockColours[block];
      EXPECT_NEAR(qRed(got), want.R, tolerance) << block;
      EXPECT_NEAR(qGreen(got), want.G, tolerance) << block;
      EXPECT_NEAR(qBlue(got), want.B, tolerance) << block;
    }
  }
}

TEST(PictureStore, BmpIsReadBackExactlyWithItsHeaders) {
  for (const auto& [width, height] :
       {std::pair{1, 1}, std::pair{2, 3}, std::pair{3, 2}, std::pair{5, 4}, std::pair{333, 77}}) {
    SCOPED_TRACE(width);
    const DIBBitmap bitmap = test::VariedPicture(width, height, uint32_t(width));
    const QByteArray data = Encoded(bitmap, PictureType::Bmp);
    const uint32_t stride = (uint32_t(width) * 3 + 3) / 4 * 4;
    ASSERT_EQ(size_t(data.size()), 54 + size_t(stride) * size_t(height));
    const auto* b = reinterpret_cast<const uint8_t*>(data.constData());
    auto u32 = [&](int at) { return GetLE32(b + at); };
    auto u16 = [&](int at) { return uint32_t(GetLE16(b + at)); };
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(u32(2), uint32_t(data.size()));
    EXPECT_EQ(u32(6), 0u);
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(18), uint32_t(width));
    EXPECT_EQ(u32(22), uint32_t(height));  // positive: bottom-up
    EXPECT_EQ(u16(26), 1u);
    EXPECT_EQ(u16(28), 24u);
    EXPECT_EQ(u32(30), 0u);
    EXPECT_EQ(u32(34), stride * uint32_t(height));
    EXPECT_EQ(u32(46), 0u);  // no colour table

    QImage image;
    ASSERT_TRUE(image.loadFromData(data, "BMP"));
    ASSERT_EQ(image.size(), QSize(width, height));
    int wrong = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const Rgb want = test::PixelOf(bitmap, x, y);
        const QRgb got = image.pixel(x, y);
        if (qRed(got) != want.R || qGreen(got) != want.G || qBlue(got) != want.B) ++wrong;
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(PictureStore, TypeComesFromTheExtensionInAnyCase) {
  EXPECT_EQ(PictureTypeOfFile(QStringLiteral("/a/b.gif")), PictureType::Gif);
  EXPECT_EQ(PictureTypeOfFile(QStringLiteral("B00000001.GIF")), PictureType::Gif);
  EXPECT_EQ(PictureTypeOfFile(QStringLiteral("x.Jpg")), PictureType::Jpeg);
  EXPECT_EQ(PictureTypeOfFile(QStringLiteral("x.jpeg")), PictureType::Jpeg);
  EXPECT_EQ(PictureTypeOfFile(QStringLiteral("x.bMp")), PictureType::Bmp);
  EXPECT_EQ(PictureTypeOfFile(QStringLiteral("x.png")), std::nullopt);
  EXPECT_EQ(PictureTypeOfFile(QStringLiteral("gif")), std::nullopt);
  EXPECT_EQ(PictureTypeOfFile(QStringLiteral("x.gif/")), std::nullopt);
  EXPECT_EQ(PictureExtension(PictureType::Gif), QStringLiteral("gif"));
  EXPECT_EQ(PictureExtension(PictureType::Jpeg), QStringLiteral("jpg"));
  EXPECT_EQ(PictureExtension(PictureType::Bmp), QStringLiteral("bmp"));
}

TEST(PictureStore, StoresEachTypeAndReplacesAnExistingFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const DIBBitmap bitmap = Blocks();
  for (PictureType type : {PictureType::Gif, PictureType::Jpeg, PictureType::Bmp}) {
    const QString path = dir.filePath(QStringLiteral("B00000001.") + PictureExtension(type));
    {
      QFile old(path);
      ASSERT_TRUE(old.open(QIODevice::WriteOnly));
      old.write(QByteArray(100000, 'x'));
    }
    StorePicture(bitmap, type, kDefaultJpegPosition, path);
    EXPECT_EQ(ReadAll(path), Encoded(bitmap, type, kDefaultJpegPosition));
    const QImage image(path);
    EXPECT_EQ(image.size(), QSize(64, 32)) << path.toStdString();
  }
  // Nothing but the pictures themselves is left in the folder.
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST(PictureStore, FailuresNameTheFileAndLeaveNothingBehind) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const DIBBitmap bitmap = Blocks();

  const QString missing = dir.filePath(QStringLiteral("no/such/folder/B00000001.gif"));
  try {
    StorePicture(bitmap, PictureType::Gif, 17, missing);
    ADD_FAILURE() << "no error for a file in a missing folder";
  } catch (const PictureError& e) {
    EXPECT_EQ(e.Path(), missing);
    EXPECT_NE(QString::fromStdString(e.what()).indexOf(missing), -1) << e.what();
    EXPECT_TRUE(QString::fromStdString(e.what()).startsWith(QStringLiteral("Can not create file")));
  }
  EXPECT_FALSE(QFileInfo::exists(missing));

  // A picture that cannot be encoded leaves neither the file nor a temporary behind.
  DIBBitmap wrongFormat;
  wrongFormat.SetFormat(8, 8, PixelFormat::Bits32);
  for (PictureType type : {PictureType::Gif, PictureType::Jpeg, PictureType::Bmp}) {
    const QString path = dir.filePath(QStringLiteral("bad.") + PictureExtension(type));
    try {
      StorePicture(wrongFormat, type, 17, path);
      ADD_FAILURE() << "no error for a 32-bit bitmap";
    } catch (const PictureError& e) {
      EXPECT_TRUE(
          QString::fromStdString(e.what()).startsWith(QStringLiteral("Can not write file ") + path))
          << e.what();
    }
  }
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// The kind of entry at path, links not followed: 'l' link, 'c' character device, 'p' FIFO,
// 'd' folder, 'f' regular file, '-' nothing.
char KindOf(const QString& path) {
  struct stat st {};
  if (lstat(QFile::encodeName(path).constData(), &st) != 0) return '-';
  if (S_ISLNK(st.st_mode)) return 'l';
  if (S_ISCHR(st.st_mode)) return 'c';
  if (S_ISFIFO(st.st_mode)) return 'p';
  if (S_ISDIR(st.st_mode)) return 'd';
  return S_ISREG(st.st_mode) ? 'f' : '?';
}

// Only regular files are replaced; what else the path names is left as it was. Run as root,
// a rename would have put a plain file in place of /dev/null itself.
TEST(PictureStore, OnlyRegularFilesAreReplacedAndLinksAreFollowed) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString target = dir.filePath(QStringLiteral("target.bmp"));
  ASSERT_TRUE(QFile(target).open(QIODevice::WriteOnly));
  const QString fifo = dir.filePath(QStringLiteral("fifo.bmp"));
  ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString folder = dir.filePath(QStringLiteral("folder.bmp"));
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.bmp")));
  const QString toNull = dir.filePath(QStringLiteral("null.bmp"));
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), toNull));
  const QString toFolder = dir.filePath(QStringLiteral("tofolder.bmp"));
  ASSERT_TRUE(QFile::link(folder, toFolder));
  const QString toTarget = dir.filePath(QStringLiteral("link.bmp"));
  ASSERT_TRUE(QFile::link(target, toTarget));
  ASSERT_EQ(KindOf(QStringLiteral("/dev/null")), 'c');

  const DIBBitmap bitmap = Blocks();
  const struct {
    QString Path;
    bool Stored;
  } cases[] = {
      {toNull, false}, {fifo, false}, {folder, false}, {toFolder, false}, {toTarget, true}};
  for (const auto& c : cases) {
    const char before = KindOf(c.Path);
    try {
      StorePicture(bitmap, PictureType::Bmp, 17, c.Path);
      EXPECT_TRUE(c.Stored) << c.Path.toStdString();
    } catch (const PictureError& e) {
      EXPECT_FALSE(c.Stored) << e.what();
      EXPECT_EQ(QString::fromStdString(e.what()),
                c.Path + QStringLiteral(" is not a regular file"));
    }
    EXPECT_EQ(KindOf(c.Path), before) << c.Path.toStdString();
  }
  EXPECT_EQ(KindOf(QStringLiteral("/dev/null")), 'c');
  EXPECT_EQ(KindOf(target), 'f');
  EXPECT_EQ(ReadAll(target), Encoded(bitmap, PictureType::Bmp));
  // Nothing was left beside the entries: no temporary files, no new files.
  EXPECT_EQ(QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
                .size(),
            6);
}

TEST(PictureStore, RefusedWritesAreReportedForEveryType) {
  const DIBBitmap bitmap = test::VariedPicture(200, 100, 5);
  for (PictureType type : {PictureType::Gif, PictureType::Jpeg, PictureType::Bmp}) {
    test::FullDevice device;
    try {
      WritePicture(bitmap, type, 17, device);
      ADD_FAILURE() << "no error for type " << int(type);
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos)
          << e.what();
    }
  }
}

// On a real disk that is full, each type names the system's reason, and no picture is left.
TEST(PictureStore, AFullDiskGivesTheSystemsReason) {
  test::LoopDisk disk(4);
  if (!disk.Ready()) GTEST_SKIP() << "needs a loop disk (root)";
  QFile filler(disk.Folder() + "/filler");
  ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
  for (qint64 block = 64 * 1024; block > 0; block /= 8) {
    const QByteArray bytes(block, 'x');
    while (filler.write(bytes) == block) {
    }
  }
  filler.close();
  const DIBBitmap bitmap = test::VariedPicture(300, 200, 5);
  for (PictureType type : {PictureType::Gif, PictureType::Jpeg, PictureType::Bmp}) {
    const QString path = disk.Folder() + "/photo." + PictureExtension(type);
    try {
      StorePicture(bitmap, type, 17, path);
      ADD_FAILURE() << "stored on a full disk: type " << int(type);
    } catch (const PictureError& e) {
      EXPECT_EQ(e.what(),
                ("Can not write file " + path + ": No space left on device").toStdString());
    }
  }
  EXPECT_EQ(QDir(disk.Folder()).entryList(QDir::Files).join(' ').toStdString(), "filler");
}

}  // namespace
}  // namespace qm
