// The desktop's shortcuts through its GlobalShortcuts portal, with the tests' stand-in for the
// portal on a private bus.

#include <QDBusConnection>
#include <QJsonArray>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/portal/PortalShortcuts.h"
#include "support/ShortcutsPortal.h"
#include "support/TrayHost.h"

namespace qm {
namespace {

using State = PortalShortcuts::State;
using test::SpinUntil;

const std::vector<PortalShortcuts::Shortcut> kShortcuts = {
    {"Photo", "To take an image", "CTRL+x"},
    {"StartMovie", "To start taking movie", "CTRL+ALT+s"},
    {"PauseMovie", "To pause/continue movie", "CTRL+ALT+p"},
    {"FinishMovie", "To stop taking movie", ""},
};

// The program's side: a connection to the stand-in's bus, and the shortcuts on it.
class Desktop {
 public:
  explicit Desktop(const QStringList& options = {})
      : portal(options),
        name_(QUuid::createUuid().toString()),
        bus_(QDBusConnection::connectToBus(portal.Address(), name_)) {
    shortcuts = std::make_unique<PortalShortcuts>(bus_);
    QObject::connect(shortcuts.get(), &PortalShortcuts::Activated,
                     [this](int index) { activated.push_back(index); });
  }
  ~Desktop() {
    shortcuts.reset();
    QDBusConnection::disconnectFromBus(name_);
  }

  // Binds and waits for the answer.
  State Bind(std::vector<PortalShortcuts::Shortcut> list = kShortcuts) {
    shortcuts->Bind(std::move(list));
    SpinUntil([&] { return shortcuts->GetState() != State::Binding; });
    return shortcuts->GetState();
  }

  test::ShortcutsPortal portal;
  std::unique_ptr<PortalShortcuts> shortcuts;
  std::vector<int> activated;

 private:
  QString name_;
  QDBusConnection bus_;
};

TEST(PortalShortcuts, BindsTheShortcutsAndCallsBackEachOneByItsIndex) {
  Desktop desktop;
  ASSERT_TRUE(desktop.portal.Ok());
  ASSERT_EQ(desktop.Bind(), State::Bound) << desktop.shortcuts->Failure().toStdString();

  const QList<QJsonObject> binds = desktop.portal.Calls("BindShortcuts");
  ASSERT_EQ(binds.size(), 1);
  const QJsonArray sent = binds[0]["shortcuts"].toArray();
  ASSERT_EQ(sent.size(), qsizetype(kShortcuts.size()));
  for (size_t i = 0; i < kShortcuts.size(); ++i) {
    const QJsonArray entry = sent[qsizetype(i)].toArray();
    EXPECT_EQ(entry[0].toString(), kShortcuts[i].id);
    EXPECT_EQ(entry[1]["description"].toString(), kShortcuts[i].description);
    // No key at all rather than an empty one.
    EXPECT_EQ(entry[1].toObject().value("preferred_trigger").toString(), kShortcuts[i].trigger);
    EXPECT_EQ(entry[1].toObject().contains("preferred_trigger"), !kShortcuts[i].trigger.isEmpty());
  }
  // The keys in the desktop's words.
  const QHash<QString, QString> expected = {{"Photo", "Ctrl+X"},
                                            {"StartMovie", "Ctrl+Alt+S"},
                                            {"PauseMovie", "Ctrl+Alt+P"},
                                            {"FinishMovie", ""}};
  EXPECT_EQ(desktop.shortcuts->Triggers(), expected);

  // In an order of their own, and one the program never bound.
  for (const char* id : {"FinishMovie", "Photo", "Unknown", "PauseMovie", "StartMovie"})
    desktop.portal.Send(QStringLiteral("activate ") + id);
  ASSERT_TRUE(SpinUntil([&] { return desktop.activated.size() == 4; }));
  EXPECT_EQ(desktop.activated, (std::vector<int>{3, 0, 2, 1}));

  desktop.portal.Send("change StartMovie Super+R");
  ASSERT_TRUE(
      SpinUntil([&] { return desktop.shortcuts->Triggers().value("StartMovie") == "Super+R"; }));
}

// A session binds once: other keys go to the desktop in a new session, and the old one is
// closed; the desktop closing the session ends the shortcuts.
TEST(PortalShortcuts, BindingAgainMakesANewSessionAndTheDesktopMayEndIt) {
  Desktop desktop;
  ASSERT_TRUE(desktop.portal.Ok());
  ASSERT_EQ(desktop.Bind(), State::Bound);
  std::vector<PortalShortcuts::Shortcut> changed = kShortcuts;
  changed[1].trigger = "CTRL+F5";
  ASSERT_EQ(desktop.Bind(changed), State::Bound);
  EXPECT_EQ(desktop.shortcuts->Triggers().value("StartMovie"), "Ctrl+F5");

  const QList<QJsonObject> binds = desktop.portal.Calls("BindShortcuts");
  ASSERT_EQ(binds.size(), 2);
  EXPECT_NE(binds[0]["session"], binds[1]["session"]);
  ASSERT_TRUE(SpinUntil([&] { return desktop.portal.Calls("Close").size() == 1; }));
  EXPECT_EQ(desktop.portal.Calls("Close")[0]["session"], binds[0]["session"]);
  desktop.portal.Send("activate StartMovie");
  ASSERT_TRUE(SpinUntil([&] { return desktop.activated.size() == 1; }));
  EXPECT_EQ(desktop.activated[0], 1);

  desktop.portal.Send("close");
  ASSERT_TRUE(SpinUntil([&] { return desktop.shortcuts->GetState() == State::Failed; }));
  EXPECT_TRUE(desktop.shortcuts->Triggers().isEmpty());
}

TEST(PortalShortcuts, ARefusalOrNoPortalLeavesNothingBound) {
  const struct {
    QStringList options;
    State state;
  } cases[] = {
      {{"--answer", "1"}, State::Refused},  // the user said no
      {{"--answer", "2"}, State::Refused},  // the dialog was cancelled
      {{"--without-shortcuts"}, State::Missing},
      {{"--absent"}, State::Missing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.join(' ').toStdString());
    Desktop desktop(c.options);
    ASSERT_TRUE(desktop.portal.Ok());
    EXPECT_EQ(desktop.Bind(), c.state);
    EXPECT_TRUE(desktop.shortcuts->Triggers().isEmpty());
  }
}

}  // namespace
}  // namespace qm
