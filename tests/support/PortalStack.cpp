#include "support/PortalStack.h"

#include <QFile>

#include <gtest/gtest.h>

#include <vector>

#include "support/MediaProbe.h"

namespace qm::test {

bool PortalStack::Start(const QString& dir) {
  control_ = dir + QStringLiteral("/control");
  log_ = dir + QStringLiteral("/log");
  process_.setProcessChannelMode(QProcess::SeparateChannels);
  process_.setReadChannel(QProcess::StandardOutput);
  process_.start(QStringLiteral(QM_SOURCE_DIR "/tests/screencast/stack.sh"),
                 {QStringLiteral(QM_SCREENCAST_BACKEND), control_, log_});
  if (!process_.waitForStarted(10000)) return false;
  QByteArray out;
  while (!out.contains("ready\n")) {
    if (!process_.waitForReadyRead(30000)) {
      errors_ = QString::fromLocal8Bit(process_.readAllStandardError());
      return false;
    }
    out += process_.readAllStandardOutput();
  }
  for (const QByteArray& line : out.split('\n')) {
    if (line.startsWith("DBUS_SESSION_BUS_ADDRESS=")) bus_ = line.mid(25);
    if (line.startsWith("PIPEWIRE_PID=")) pipewire_ = line.mid(13).toInt();
  }
  return !bus_.isEmpty() && pipewire_ > 0;
}

PortalStack::~PortalStack() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.closeWriteChannel();  // the script stops what it started
  if (!process_.waitForFinished(20000)) process_.kill();
}

void PortalStack::Control(const QByteArray& text) const {
  QFile file(control_);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(text);
}

QStringList PortalStack::Log() const {
  QFile file(log_);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void PortalStack::ClearLog() const {
  QFile::remove(log_);
}

void RequireStack(const QString& failure) {
  if (failure.isEmpty()) return;
  // The stack is part of the suite's machine: without it the tests fail, unless it was never
  // promised.
  if (qgetenv("QM_SESSION_STACK") == "1") FAIL() << failure.toStdString();
  GTEST_SKIP() << failure.toStdString();
}

void PatternPixel(int x, int y, int n, uint8_t bgr[3]) {
  bgr[0] = uint8_t(x + 3 * n);
  bgr[1] = uint8_t(y + 5 * n);
  bgr[2] = uint8_t(n);
}

void ExpectPattern(const QString& path, int width, int height, int dx, int dy,
                   const std::function<bool(int, int)>& skip) {
  std::vector<QByteArray> frames;
  QString errors;
  ASSERT_TRUE(MediaProbe::DecodeBgr24(path, width, height, frames, &errors))
      << errors.toStdString();
  ASSERT_FALSE(frames.empty());
  int last = -1;
  for (size_t f = 0; f < frames.size(); ++f) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(frames[f].constData());
    const int n = bytes[2];
    EXPECT_GE(n, last) << "frame " << f;
    last = n;
    int wrong = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        if (skip && skip(x, y)) continue;
        uint8_t want[3];
        PatternPixel(x + dx, y + dy, n, want);
        const uint8_t* p = bytes + (size_t(y) * size_t(width) + size_t(x)) * 3;
        if (p[0] != want[0] || p[1] != want[1] || p[2] != want[2]) ++wrong;
      }
    EXPECT_EQ(wrong, 0) << "frame " << f << " of " << frames.size();
  }
}

}  // namespace qm::test
