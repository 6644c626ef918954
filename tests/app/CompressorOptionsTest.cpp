#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/CompressorOptions.h"
#include "common/FourCC.h"
#include "support/ConfigDialogAnswer.h"
#include "video/AviCompress.h"

namespace qm {
namespace {

// The options dialog keeps what the user confirmed in the open compressor and nothing that
// was cancelled; a compressor that chooses its own quality offers only the key-frame interval.
TEST(CompressorOptionsDialog, ConfirmedOptionsStayInTheOpenCompressor) {
  struct Case {
    const char Code[5];
    int Quality, KeyFrames;
    bool Accept, QualityOffered;
  };
  for (const Case& c : {Case{"MJPG", 40, 7, true, true}, Case{"MJPG", 10, 1, false, true},
                        Case{"FFV1", 0, 5, true, false}}) {
    SCOPED_TRACE(c.Code);
    AviCompress compress;
    ASSERT_TRUE(compress.Select(MakeFourCC(c.Code)));
    const EncoderSettings before = *compress.Options();
    bool qualityEnabled = !c.QualityOffered;
    test::AnswerConfigDialog(c.Quality, c.KeyFrames, c.Accept, &qualityEnabled);
    EXPECT_EQ(ConfigureCompressor(nullptr, compress), c.Accept);
    EXPECT_EQ(qualityEnabled, c.QualityOffered);
    const EncoderSettings after = *compress.Options();
    EXPECT_EQ(after.KeyFrameInterval, c.Accept ? c.KeyFrames : before.KeyFrameInterval);
    if (c.QualityOffered) {
      EXPECT_EQ(after.Quality, c.Accept ? c.Quality : before.Quality);
    }
  }
}

// Only the compressors that keep every pixel say so; Cinepak and Video 1 choose their own
// quality and are lossy.
TEST(CompressorOptionsDialog, OnlyLosslessCompressorsSayLossless) {
  const struct {
    const char code[5];
    bool lossless;
  } cases[] = {{"FFV1", true},  {"ZMBV", true},  {"MPNG", true},
               {"cvid", false}, {"CRAM", false}, {"MP42", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    AviCompress compress;
    if (!compress.Select(MakeFourCC(c.code)) || compress.CurrentCode() != MakeFourCC(c.code))
      continue;  // an encoder this FFmpeg lacks
    bool says = false;
    QTimer::singleShot(0, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      for (const QLabel* label : dialog->findChildren<QLabel*>())
        says = says || label->text().contains(QStringLiteral("Lossless"));
      QMetaObject::invokeMethod(dialog, "reject");
    });
    ConfigureCompressor(nullptr, compress);
    EXPECT_EQ(says, c.lossless);
  }
}

}  // namespace
}  // namespace qm
