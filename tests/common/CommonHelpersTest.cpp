#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/ErrorReport.h"
#include "common/FixedWidth.h"
#include "common/FourCC.h"
#include "common/RectBoxes.h"
#include "common/SilentAbort.h"
#include "common/Stamps.h"
#include "support/RecordingMessages.h"

namespace qm {
namespace {

TEST(Stamps, GuidTextIsBracedUpperCaseAndNew) {
  const QString a = NewGuidString();
  const QString b = NewGuidString();
  static const QRegularExpression form(
      QStringLiteral("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$"));
  EXPECT_EQ(a.size(), 38);
  EXPECT_TRUE(form.match(a).hasMatch()) << a.toStdString();
  EXPECT_NE(a, b);
}

TEST(Stamps, TimeStampCountsMillionthsOfDaysSince1899) {
  EXPECT_EQ(TimeStampDigits(QDateTime(QDate(2004, 6, 15), QTime(12, 0, 0))),
            QStringLiteral("38153500000"));
  EXPECT_EQ(TimeStampDigits(QDateTime(QDate(2004, 1, 1), QTime(12, 0, 0))),
            QStringLiteral("37987500000"));
  EXPECT_EQ(TimeStampDigits(QDateTime(QDate(1899, 12, 30), QTime(0, 0, 0))), QStringLiteral("0"));
  // One unit is 86.4 ms: 43 ms rounds down, 44 ms rounds up.
  EXPECT_EQ(TimeStampDigits(QDateTime(QDate(1899, 12, 30), QTime(0, 0, 0, 43))),
            QStringLiteral("0"));
  EXPECT_EQ(TimeStampDigits(QDateTime(QDate(1899, 12, 30), QTime(0, 0, 0, 44))),
            QStringLiteral("1"));
}

TEST(FourCC, PutsFirstCharacterInLowestByte) {
  EXPECT_EQ(MakeFourCC("MP42"), 0x3234504Du);
  EXPECT_EQ(MakeFourCC('v', 'i', 'd', 's'), 0x73646976u);
  EXPECT_EQ(FourCCText(MakeFourCC("DIB ")), QStringLiteral("DIB "));
}

TEST(FixedWidth, CutsOrPads) {
  EXPECT_EQ(FixedWidth(QStringLiteral("abcdef"), 3, false), QStringLiteral("abc"));
  EXPECT_EQ(FixedWidth(QStringLiteral("abcdef"), 3, true), QStringLiteral("abc"));
  EXPECT_EQ(FixedWidth(QStringLiteral("16"), 4, false), QStringLiteral("16  "));
  EXPECT_EQ(FixedWidth(QStringLiteral("44100"), 7, true), QStringLiteral("  44100"));
  EXPECT_EQ(FixedWidth(QString(), 2, true), QStringLiteral("  "));
}

// Boxes lie inside the area, hold each rectangle's part inside it whole, are at most 16, and
// are none where the whole area is the cheaper piece of work.
TEST(RectBoxes, CoverTheRectanglesInsideTheAreaOrLeaveTheWholeArea) {
  const Rect within{0, 0, 1920, 1080};
  std::vector<Rect> scattered, tooMany, pieces;
  for (int i = 0; i < 40; ++i)
    scattered.push_back(Rect{i * 47, (i * 131) % 1000, i * 47 + 20, (i * 131) % 1000 + 12});
  for (int i = 0; i < 65; ++i) {
    const int32_t x = (i % 13) * 147, y = (i / 13) * 215;
    tooMany.push_back(Rect{x, y, x + 40, y + 40});
  }
  // Drawing comes in many pieces side by side, some of them repeated.
  for (int i = 0; i < 162; ++i) {
    const int32_t x = 500 + (i / 2 % 9) * 10, y = 300 + (i / 18) * 4;
    pieces.push_back(Rect{x, y, x + 10, y + 4});
  }
  const struct {
    const char* Name;
    std::vector<Rect> Rects;
    size_t Boxes;  // how many, where the count is known; 0 for none
  } cases[] = {
      {"apart", {{0, 0, 100, 100}, {1500, 900, 1600, 1000}}, 2},
      {"overlapping", {{0, 0, 300, 300}, {100, 100, 400, 400}}, 1},
      {"partly outside", {{-50, -50, 100, 100}, {1900, 1000, 2000, 1200}}, 2},
      {"nothing inside", {{-50, -50, -10, -10}}, 0},
      {"scattered", scattered, 16},
      {"too scattered", tooMany, 0},
      {"many pieces close together", pieces, 1},
      {"most of the area", {{0, 0, 1920, 800}}, 0},
  };
  const auto inside = [](const Rect& a, const Rect& b) {
    return b.Left <= a.Left && a.Right <= b.Right && b.Top <= a.Top && a.Bottom <= b.Bottom;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<Rect> boxes = BoxesAround(c.Rects, within);
    EXPECT_EQ(boxes.size(), c.Boxes);
    if (boxes.empty()) continue;
    for (const Rect& box : boxes) EXPECT_TRUE(inside(box, within));
    for (const Rect& r : c.Rects) {
      const Rect part{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, 1920),
                      std::min(r.Bottom, 1080)};
      EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(),
                              [&](const Rect& box) { return inside(part, box); }));
    }
  }
}

TEST(ErrorReport, ShowsReportThenAbortsSilently) {
  test::RecordingMessages messages;
  EXPECT_THROW(ShowErrorReport(QStringLiteral("Invalid bitmap")), SilentAbort);
  EXPECT_EQ(messages.Reports(), QStringList{QStringLiteral("Invalid bitmap")});
  EXPECT_TRUE(messages.Messages().isEmpty());
}

// Until the project has an address of its own, the support address lies in the domain
// reserved for examples, which never reaches anybody.
TEST(ErrorReport, TheDefaultAddressesLieInTheReservedExampleDomain) {
  const QString domain = QString::fromLatin1(kSupportEmail).section(QLatin1Char('@'), 1);
  EXPECT_TRUE(domain == QLatin1String("example.org") ||
              domain.endsWith(QLatin1String(".example.org")))
      << kSupportEmail;
}

TEST(ErrorReport, MailBodyEncodesOnlyLineEnds) {
  EXPECT_EQ(ErrorReportMailUrl(QStringLiteral("Bad frame")),
            QStringLiteral("mailto:") + QLatin1String(kSupportEmail) +
                QStringLiteral("?subject=Error report&body=Dear author,%0A%0A%0A"
                               "An error has been encountered with the message:Bad frame%0A"));
}

}  // namespace
}  // namespace qm
