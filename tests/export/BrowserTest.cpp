#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "export/ExportClips.h"
#include "support/TestFiles.h"

namespace qm {
namespace {

using test::MediaProbe;

// A real browser (Debian's Chromium, headless) loads a page from a loopback HTTP server that
// serves byte ranges; the page plays the exported MP4 and WebM, seeks to their middle and
// draws that picture, and shows the GIF. The recording is red, green and blue for a second
// each, so the middle is green.
TEST(ExportBrowser, ChromiumPlaysTheExportedFiles) {
  const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
  ASSERT_FALSE(chromium.isEmpty()) << "scripts/setup installs chromium";
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString avi = dir.filePath(QStringLiteral("rec.avi"));
  ASSERT_TRUE(test::RecordColours(avi, QStringLiteral("H264"), {0xFF0000, 0x00FF00, 0x0000FF}));
  for (const char* kind : {"mp4", "webm", "gif"})
    ASSERT_EQ(test::RunTool({"export", avi, dir.filePath(QStringLiteral("a.") + kind)}).ExitCode,
              0);
  const QString here = QStringLiteral(QM_SOURCE_DIR "/tests/export/");
  ASSERT_TRUE(QFile::copy(here + "player.html", dir.filePath(QStringLiteral("player.html"))));

  QProcess server;
  server.start(QStringLiteral("python3"), {here + "range_server.py", dir.path()});
  ASSERT_TRUE(server.waitForReadyRead(10000));
  const QString port = QString::fromLatin1(server.readLine()).trimmed();
  QProcess browser;
  browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu",
                           "--autoplay-policy=no-user-gesture-required",
                           "--user-data-dir=" + dir.filePath(QStringLiteral("profile")),
                           "http://127.0.0.1:" + port + "/player.html"});
  const QString resultFile = dir.filePath(QStringLiteral("result.json"));
  for (int i = 0; i < 600 && !QFile::exists(resultFile); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  browser.kill();
  browser.waitForFinished();
  server.kill();
  server.waitForFinished();
  const QJsonObject result = QJsonDocument::fromJson(test::ReadAll(resultFile)).object();
  ASSERT_FALSE(result.isEmpty()) << "the page posted nothing";
  EXPECT_GT(result[QStringLiteral("ranges")].toInt(), 0);
  const QJsonObject page = result[QStringLiteral("page")].toObject();
  for (const char* kind : {"mp4", "webm", "gif"}) {
    SCOPED_TRACE(kind);
    const QJsonObject seen = page[QLatin1String(kind)].toObject();
    ASSERT_FALSE(seen.contains(QStringLiteral("error")))
        << seen[QStringLiteral("error")].toString().toStdString();
    EXPECT_EQ(seen[QStringLiteral("width")].toInt(), test::kClipWidth);
    EXPECT_GT(seen[QStringLiteral("mean")].toDouble(), 40);  // not black
    if (QLatin1String(kind) == QLatin1String("gif")) continue;
    EXPECT_GT(seen[QStringLiteral("played")].toDouble(), 0.2);
    EXPECT_NEAR(seen[QStringLiteral("duration")].toDouble(), test::FileDuration(avi), 0.1);
    const QJsonArray centre = seen[QStringLiteral("centre")].toArray();
    EXPECT_TRUE(centre[0].toInt() < 80 && centre[1].toInt() > 170 && centre[2].toInt() < 80)
        << QJsonDocument(centre).toJson().toStdString();
  }
}

}  // namespace
}  // namespace qm
