#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utility>

#include "app/PhotoController.h"
#include "common/CommonParams.h"
#include "support/RecordingMessages.h"
#include "support/TrayHost.h"

namespace qm {
namespace {

struct FakePhotoView : PhotoView {
  PhotoJob NextJob;
  std::string Log;
  bool Fail = false;  // the job fails as a lost display does, with the error report
  bool IsRecording() override { return false; }
  PhotoJob CurrentPhotoJob() override {
    if (std::exchange(Fail, false)) ShowErrorReport(QStringLiteral("Lost display"));
    return NextJob;
  }
  void HideForSnapshot() override { Log += "hide;"; }
  void ShowAfterSnapshot() override { Log += "show;"; }
  void ShowPhotoImages(bool on) override { Log += on ? "photo;" : "still;"; }
  void Beep() override { Log += "beep;"; }
  void ShowPhotoFile(const QString&) override {}
  void Flash(const Rect& captured, uint64_t, bool) override {
    Log += "flash " + std::to_string(captured.Width()) + ";";
  }
};

TEST(PhotoController, RequestsWhilePendingAreIgnoredAndAFolderIsFixedOnlyOnceItExists) {
  test::RecordingMessages messages;
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // First the output folder lies below a regular file, so no picture folder can be made.
  const QString blocked = dir.filePath("file");
  QFile(blocked).open(QIODevice::WriteOnly);
  FakePhotoView view;
  view.NextJob = {.Area = {0, 0, 40, 30}, .OutputFolder = blocked + "/"};
  int stamp = 0;
  PhotoController photo(view, [&] { return QString::number(++stamp); });
  int finished = 0;
  QObject::connect(&photo, &PhotoController::Finished, [&] { ++finished; });

  photo.TakePhoto();
  photo.TakePhoto();
  ASSERT_TRUE(test::SpinUntil([&] { return finished == 1; }));
  EXPECT_EQ(view.Log, "hide;photo;beep;show;still;");
  EXPECT_EQ(messages.Messages().size(), 1);
  EXPECT_TRUE(photo.PictureFolder().isEmpty());

  // A photo that ends in the error report leaves the window back and the next one welcome.
  view.Log.clear();
  view.Fail = true;
  photo.TakePhoto();
  ASSERT_TRUE(test::SpinUntil([&] { return !photo.IsPending(); }));
  EXPECT_EQ(view.Log, "hide;photo;beep;show;still;");
  EXPECT_EQ(messages.Reports(), QStringList{"Lost display"});

  // The user picks a usable folder: the next photos land there, in one folder, counted on.
  view.Log.clear();
  view.NextJob.OutputFolder = dir.path() + "/";
  for (PictureType type : {PictureType::Jpeg, PictureType::Bmp}) {
    view.NextJob.Type = type;
    photo.TakePhoto();
    ASSERT_TRUE(test::SpinUntil([&] { return !photo.IsPending(); }));
  }
  EXPECT_EQ(view.Log, "hide;photo;beep;show;still;flash 40;hide;photo;beep;show;still;flash 40;");
  EXPECT_EQ(photo.PictureFolder(), dir.path() + "/B2/");
  EXPECT_EQ(QDir(photo.PictureFolder()).entryList(QDir::Files),
            QStringList({"B00000002.jpg", "B00000003.bmp"}));
}

}  // namespace
}  // namespace qm
