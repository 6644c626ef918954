#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "common/ErrorReport.h"
#include "common/FixedWidth.h"
#include "common/FourCC.h"
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
