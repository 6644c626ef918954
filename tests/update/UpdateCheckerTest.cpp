#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <thread>

#include "common/Product.h"
#include "support/HttpTestServer.h"
#include "support/RecordingMessages.h"
#include "ui/ConfirmOnce.h"
#include "update/UpdateChecker.h"
#include "update/UpdateSettings.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

const QString kGuid = QStringLiteral("{0123ABCD-4567-89EF-0123-456789ABCDEF}");
constexpr double kToday = 45000.25;

using test::HttpReply;
using test::SendHttp;
using TestServer = test::HttpTestServer;

// Ends the body by closing the connection, with no length announced.
TestServer::Handler ReplyUntilClosed(const QByteArray& body) {
  return [=](QTcpSocket* socket) { SendHttp(socket, "HTTP/1.1 200 OK\r\n", body); };
}

// One byte every 100 ms, for ever.
TestServer::Handler Trickle() {
  return [](QTcpSocket* socket) {
    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nQ");
    auto* timer = new QTimer(socket);
    QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write("u"); });
    timer->start(100);
  };
}

class MemorySettings : public UpdateSettings, public SilencedDialogs {
 public:
  QString ReadString(const QString& section, const QString& name,
                     const QString& fallback) const override {
    const auto found = strings.find(section + '/' + name);
    return found == strings.end() ? fallback : found->second;
  }
  bool WriteString(const QString& section, const QString& name, const QString& text) override {
    strings[section + '/' + name] = text;
    return true;
  }
  std::optional<double> ReadDate(const QString& name) const override {
    EXPECT_EQ(name, QStringLiteral("Last update check"));
    return date;
  }
  bool WriteDate(const QString&, double days) override {
    date = days;
    return true;
  }
  bool IsSilenced(const QString& key) const override { return silenced.count(key) > 0; }
  void Silence(const QString& key) override { silenced[key] = true; }

  std::map<QString, QString> strings;
  std::optional<double> date;
  std::map<QString, bool> silenced;
};

// Plays the user: answers the periodic question and closes the update window, noting what
// they showed.
struct User {
  User() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      auto button = [&](const char* name) {
        return modal->findChild<QAbstractButton*>(QLatin1String(name));
      };
      if (button("bOK")) {
        ++prompts;
        button(confirm ? "bOK" : "bCancel")->click();
      } else if (button("SpeedButton2")) {
        caption = modal->windowTitle();
        memo = modal->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText();
        if (download) button("SpeedButton1")->click();
        button("SpeedButton2")->click();
      }
    });
    timer.start(20);
  }
  bool confirm = true;
  bool download = false;
  int prompts = 0;
  QString caption;  // of the update window; empty: not shown
  QString memo;
  QTimer timer;
};

struct Check {
  Check() {
    settings.strings[QStringLiteral("Update/Website")] = server.Base();
    settings.strings[QStringLiteral("Main/GUID")] = kGuid;
  }
  bool Run(bool verbose) {
    UpdateChecker checker(settings, settings, &window,
                          {.deadline = 2s,
                           .today = [] { return kToday; },
                           .open =
                               [this](const QString& address) {
                                 opened << address;
                                 return true;
                               },
                           .mayShow = {}});
    return checker.CheckForUpdate(verbose);
  }
  QString Stored(const char* name) {
    return settings.ReadString(QStringLiteral("Update"), QLatin1String(name), QString());
  }

  TestServer server;
  MemorySettings settings;
  QWidget window;
  User user;
  QStringList opened;
};

QByteArray Lines(std::initializer_list<QByteArray> lines, const char* end = "\r\n") {
  QByteArray text;
  for (const QByteArray& line : lines) text += line + end;
  return text;
}

TEST(UpdateChecker, RequestsAsTheServiceExpects) {
  Check check;
  const QByteArray next = check.server.Base().toUtf8() + "/next";
  check.server.handler = HttpReply(200, Lines({"Quillmark", "1.4", next, next + "/dl"}));
  check.user.download = true;
  EXPECT_TRUE(check.Run(true));
  EXPECT_TRUE(check.Run(true));
  ASSERT_EQ(check.server.requests.size(), 2u);
  // The identifier goes as it is; only its braces, which a request line cannot carry, travel
  // percent-encoded (the service reads the same identifier).
  const QByteArray query = "/Quillmark/UpdateInfo.php?currentversion=1.3&id=" +
                           kGuid.toUtf8().replace('{', "%7B").replace('}', "%7D");
  EXPECT_EQ(check.server.requests[0].line.toStdString(),
            ("GET " + query + " HTTP/1.1").toStdString());
  EXPECT_EQ(check.server.requests[0].headers["accept"], "text/html, */*");
  EXPECT_EQ(check.server.requests[0].headers["user-agent"],
            "Mozilla/3.0 (compatible; Indy Library)");
  // The answer's address is where the next request goes.
  EXPECT_EQ(check.server.requests[1].line.toStdString(),
            ("GET /next" + query + " HTTP/1.1").toStdString());
  EXPECT_EQ(check.opened, (QStringList{next + "/dl", next + "/dl"}));
  EXPECT_EQ(check.settings.date, std::floor(kToday));
}

TEST(UpdateChecker, ShowsValidAnswersAndNothingElse) {
  const QByteArray newer = QByteArrayLiteral("There is a new update");
  const QByteArray latest = QByteArrayLiteral("You still have the latest version");
  const QByteArray w = "http://127.0.0.1:1/w", d = "https://127.0.0.1:1/d";
  const QByteArray big = Lines({"Quillmark", "1.4", w, d}) + QByteArray(70 * 1024, 'x');
  struct Case {
    const char* what;
    TestServer::Handler handler;
    QByteArray caption;  // empty: nothing shown, nothing stored
    QString memo;
    QByteArray website = {};  // stored; empty: as the answer's line 3
  };
  const Case cases[] = {
      {"4 lines", HttpReply(200, Lines({"Quillmark", "1.4", w, d}, "\n")), newer, "Version 1.4"},
      {"notes, CR",
       HttpReply(200, Lines({"Quillmark", "1.4", w, d, "One", "", "<b>Two</b>", "", ""}, "\r")),
       newer, "Version 1.4\n\nOne\n\n<b>Two</b>"},
      {"no final break", HttpReply(200, "Quillmark\r\n1.4\r\n" + w + "\r\n" + d + "\r\nNote"),
       newer, "Version 1.4\n\nNote"},
      {"capitals", HttpReply(200, Lines({"QUILLMARK", "1.4", w, d})), newer, "Version 1.4"},
      {"1.10 is older", HttpReply(200, Lines({"Quillmark", "1.10", w, d})), latest, "Version 1.10"},
      {"1.3.1 is newer", HttpReply(200, Lines({"Quillmark", "1.3.1", w, d})), newer,
       "Version 1.3.1"},
      {"same", HttpReply(200, Lines({"Quillmark", "1.3", w, d})), latest, "Version 1.3"},
      {"file address", HttpReply(200, Lines({"Quillmark", "1.4", "file:///etc/passwd", d})), newer,
       "Version 1.4", "keep"},
      {"3 lines", HttpReply(200, Lines({"Quillmark", "1.4", w})), {}, {}},
      {"other product", HttpReply(200, Lines({"Quillmarks", "1.4", w, d})), {}, {}},
      {"404", HttpReply(404, Lines({"Quillmark", "1.4", w, d})), {}, {}},
      {"302",
       HttpReply(302, Lines({"Quillmark", "1.4", w, d}), "Location: /elsewhere\r\n"),
       {},
       {}},
      {"70 KiB announced", HttpReply(200, big), {}, {}},
      {"70 KiB unannounced", ReplyUntilClosed(big), {}, {}},
      {"trickle", Trickle(), {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Check check;
    const QString before = check.Stored("Website");
    check.server.handler = c.handler;
    EXPECT_EQ(check.Run(true), !c.caption.isEmpty());
    EXPECT_EQ(check.server.requests.size(), 1u);
    EXPECT_EQ(check.user.caption, QString::fromUtf8(c.caption));
    EXPECT_EQ(check.user.memo, c.memo);
    const bool stored = !c.caption.isEmpty();
    EXPECT_EQ(check.Stored("Website"), !stored || c.website == "keep" ? before : QString(w));
    EXPECT_EQ(check.Stored("DownloadURL"), stored ? QString(d) : QString());
    EXPECT_EQ(check.settings.date.has_value(), stored);
  }
}

TEST(UpdateChecker, AutomaticCheckEveryThirtyDaysAfterAsking) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::optional<double> stored;
    bool confirm;
    bool silenced;
    const char* version;
    int prompts;
    int requests;
    bool shown;
  };
  const Case cases[] = {
      {std::nullopt, true, false, "1.4", 1, 1, true},
      {kToday - 29, true, false, "1.4", 0, 0, false},
      {kToday - 30, true, false, "1.4", 1, 1, true},
      // Whole days: the thirtieth day counts as 30 whatever the times of day.
      {kToday - 29.35, true, false, "1.4", 1, 1, true},
      {kToday + 3, true, false, "1.4", 0, 0, false},
      {nan, true, false, "1.4", 1, 1, true},
      {-inf, true, false, "1.4", 1, 1, true},
      {1e300, true, false, "1.4", 1, 1, true},
      {std::nullopt, false, false, "1.4", 1, 0, false},
      {std::nullopt, true, true, "1.4", 0, 1, true},
      {std::nullopt, true, false, "1.3", 1, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.stored ? *c.stored : -1) << " " << c.version);
    Check check;
    check.settings.date = c.stored;
    check.user.confirm = c.confirm;
    if (c.silenced) check.settings.Silence(AutoUpdateCheckText().key);
    const QByteArray w = check.server.Base().toUtf8();
    check.server.handler = HttpReply(200, Lines({"Quillmark", c.version, w, w}));
    EXPECT_EQ(check.Run(false), c.shown);
    EXPECT_EQ(check.user.prompts, c.prompts);
    EXPECT_EQ(int(check.server.requests.size()), c.requests);
    // The attempt is dated, answered or not, with the day alone.
    EXPECT_EQ(check.settings.date, std::floor(kToday));
  }
}

TEST(UpdateChecker, OnlyWebAddressesAreAskedOrOpened) {
  Check check;
  check.settings.strings[QStringLiteral("Update/Website")] = QStringLiteral("file:///etc/hostname");
  check.settings.strings[QStringLiteral("Update/DownloadURL")] = QStringLiteral("file:///bin/sh");
  const UpdateChecker checker(check.settings, check.settings, &check.window);
  EXPECT_TRUE(checker.RequestAddress().startsWith(QString::fromUtf8(kWebsite)));
  // A stored page that is no web address opens the maker's address instead.
  check.settings.strings[QStringLiteral("Update/Website")] = check.server.Base();
  check.server.handler = HttpReply(200, Lines({"Quillmark", "1.4", "javascript:x()", "file:///x"}));
  check.user.download = true;
  EXPECT_TRUE(check.Run(true));
  EXPECT_EQ(check.opened, QStringList{QString::fromUtf8(kWebsite)});
}

// The check runs in the background: input reaches the window while the service is silent,
// a manual check that gets no answer says why, and an answer waits while nothing may be
// shown (a recording runs).
TEST(UpdateChecker, WaitsInTheBackgroundAndShowsOnlyWhenAllowed) {
  Check check;
  test::RecordingMessages told;
  check.server.handler = [](QTcpSocket*) {};  // accepts and never answers
  bool allowed = false;
  UpdateChecker silent(
      check.settings, check.settings, &check.window,
      {.deadline = 1500ms, .today = {}, .open = {}, .mayShow = [&] { return allowed; }});
  std::optional<bool> finished;
  QObject::connect(&silent, &UpdateChecker::Finished, [&](bool shown) { finished = shown; });
  ASSERT_TRUE(silent.Start(true));

  // Typing reaches the window while the check waits.
  QLineEdit edit(&check.window);
  QCoreApplication::postEvent(
      &edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a")));
  QEventLoop loop;
  QTimer::singleShot(2500, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_EQ(edit.text(), QStringLiteral("a"));
  // The failure waits for the recording's end, then says why.
  EXPECT_FALSE(finished);
  EXPECT_TRUE(told.Messages().isEmpty());
  allowed = true;
  silent.ShowWaiting();
  EXPECT_EQ(finished, false);
  EXPECT_EQ(told.Messages(), QStringList{"Can not reach the update service: no answer in time"});
}

}  // namespace
}  // namespace qm
