#include <gtest/gtest.h>

#include <random>

#include "update/UpdateAnswer.h"

namespace qm {
namespace {

TEST(UpdateAnswer, LinesAndAddresses) {
  struct Case {
    QByteArray body;
    bool valid;
    QStringList notes;
    bool website;
  };
  const Case cases[] = {
      {"Quillmark\n1.4\nhttp://a.example\nhttps://b.example", true, {}, true},
      {"quillmark\r\n1.4\r\nHTTPS://a.example/x?y=1\r\nhttp://b.example\r\n\r\n", true, {""}, true},
      {"Quillmark\r1.4\rftp://a.example\rhttp://b.example\rn1\r\nn2\n", true, {"n1", "n2"}, false},
      {"Quillmark\n1.4\nhttp://a b.example\nhttp://b.example\n", true, {}, false},
      {"Quillmark\n1.4\nhttp:///nohost\nhttp://b.example\n", true, {}, false},
      {"Quillmark\n1.4\nhttp://b.example\n", false, {}, false},
      {"Quillmark\n\n\n", false, {}, false},
      {"Quillmark\n\n\n\n", true, {}, false},
      {"", false, {}, false},
      {"Quillmark\n1.4\nhttp://a.example\nhttp://b.example\n" + QByteArray(64 * 1024, 'x'),
       false,
       {},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.left(60).toStdString());
    const std::optional<UpdateAnswer> answer =
        ParseUpdateAnswer(c.body, QStringLiteral("Quillmark"));
    ASSERT_EQ(answer.has_value(), c.valid);
    if (!answer) continue;
    EXPECT_EQ(answer->notes, c.notes);
    EXPECT_EQ(answer->website.has_value(), c.website);
  }
}

// Thousands of corrupted answers, the same on every run: none may crash, and whatever is
// accepted keeps only web addresses.
TEST(UpdateAnswer, CorruptedAnswersAreRefusedOrKeepOnlyWebAddresses) {
  const QByteArray valid =
      "Quillmark\r\n1.4\r\nhttp://127.0.0.1/u\r\nhttps://127.0.0.1/d\r\nNotes\r\nmore\r\n";
  const QByteArray splices[] = {"\r",          "\n",      "\r\n",        "file:///etc/passwd",
                                "javascript:", "http://", "QUILLMARK\n", QByteArray("\0", 1),
                                "\xff\xfe",    "%00",     "http:// x",   "\xc3\x28"};
  std::mt19937 random(13);
  const auto pick = [&](size_t n) { return size_t(random() % n); };
  int accepted = 0;
  for (int round = 0; round < 5000; ++round) {
    QByteArray body = valid;
    const int edits = 1 + int(pick(4));
    for (int e = 0; e < edits; ++e) {
      const qsizetype at = qsizetype(pick(size_t(body.size()) + 1));
      switch (pick(5)) {
        case 0:
          if (!body.isEmpty()) body[qMin(at, body.size() - 1)] = char(random());
          break;
        case 1:
          body.insert(at, splices[pick(std::size(splices))]);
          break;
        case 2:
          body.remove(at, qsizetype(pick(8)));
          break;
        case 3:
          body.truncate(at);
          break;
        default:
          body += QByteArray(qsizetype(pick(3) == 0 ? 70000 : 10), char(random()));
      }
    }
    const std::optional<UpdateAnswer> answer = ParseUpdateAnswer(body, QStringLiteral("Quillmark"));
    if (!answer) continue;
    ++accepted;
    EXPECT_LE(body.size(), kMaxAnswerBytes);
    for (const std::optional<QString>& address : {answer->website, answer->downloadUrl}) {
      if (!address) continue;
      EXPECT_TRUE(address->startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                  address->startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
          << address->toStdString();
      EXPECT_TRUE(IsWebAddress(*address));
    }
    EXPECT_FALSE(UpdateMemoText(*answer).endsWith(QLatin1Char('\n')));
  }
  // The corruptions leave a fair share valid, so both roads are taken.
  EXPECT_GT(accepted, 500);
  EXPECT_LT(accepted, 4500);
}

}  // namespace
}  // namespace qm
