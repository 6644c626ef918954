#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utility>

#include "app/PhotoController.h"
#include "common/ErrorReport.h"
#include "support/LoopDisk.h"
#include "support/RecordingMessages.h"
#include "support/ToolRun.h"
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
  void Flash(const Rect& captured, uint64_t, bool, const std::shared_ptr<ScreenSource>&) override {
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

  // The user picks a usable folder: the next photos land there, in one folder, counted from 1.
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
            QStringList({"B00000001.jpg", "B00000002.bmp"}));
}

// The picture folder follows the base folder the user sets, comes back when it was removed
// meanwhile, and a folder that cannot be made is reported with the system's reason.
TEST(PhotoController, ThePictureFolderFollowsTheBaseFolderAndIsMadeAgain) {
  test::RecordingMessages messages;
  QTemporaryDir first, second;
  test::LoopDisk readOnly(4);
  FakePhotoView view;
  int stamp = 0;
  PhotoController photo(view, [&] { return QString::number(++stamp); });
  const auto take = [&](const QString& base) {
    view.NextJob = {.Area = {0, 0, 20, 10}, .Type = PictureType::Bmp, .OutputFolder = base + "/"};
    photo.TakePhoto();
    EXPECT_TRUE(test::SpinUntil([&] { return !photo.IsPending(); }));
    return photo.PictureFolder();
  };
  EXPECT_EQ(take(first.path()), first.path() + "/B1/");
  EXPECT_EQ(take(second.path()), second.path() + "/B2/");
  ASSERT_TRUE(QDir(second.path()).removeRecursively());
  EXPECT_EQ(take(second.path()), second.path() + "/B2/");
  EXPECT_EQ(QDir(photo.PictureFolder()).entryList(QDir::Files), QStringList{"B00000001.bmp"});
  EXPECT_TRUE(messages.Messages().isEmpty());

  if (!readOnly.Ready()) GTEST_SKIP() << "the read-only case needs a loop disk (root)";
  ASSERT_EQ(test::RunProcess("mount", {"-o", "remount,ro", readOnly.Folder()}).ExitCode, 0);
  take(readOnly.Folder());
  EXPECT_EQ(messages.Messages(), QStringList{"Can not create folder " + readOnly.Folder() +
                                             "/B3: Read-only file system"});
}

}  // namespace
}  // namespace qm
