#include <QApplication>
#include <QEvent>
#include <QObject>

#include <gtest/gtest.h>

#include "app/QuillmarkApplication.h"
#include "common/ErrorReport.h"
#include "support/RecordingMessages.h"

namespace qm {
namespace {

constexpr QEvent::Type kFailEvent = QEvent::Type(QEvent::User + 7);

// Ends its handling of kFailEvent the way a failed operation does: with the error report.
class FailingReceiver : public QObject {
 public:
  int Handled = 0;

  bool event(QEvent* e) override {
    if (e->type() != kFailEvent) return QObject::event(e);
    ++Handled;
    ShowErrorReport(QStringLiteral("Invalid pixel format"));
  }
};

TEST(QuillmarkApplication, SilentAbortIsDiscardedByTheEventLoop) {
  ASSERT_NE(qobject_cast<QuillmarkApplication*>(QCoreApplication::instance()), nullptr);
  test::RecordingMessages messages;
  FailingReceiver receiver;

  QEvent sent(kFailEvent);
  EXPECT_FALSE(QCoreApplication::sendEvent(&receiver, &sent));

  // Posted events go through the loop too, and it keeps running after each abort.
  QCoreApplication::postEvent(&receiver, new QEvent(kFailEvent));
  QCoreApplication::postEvent(&receiver, new QEvent(kFailEvent));
  QCoreApplication::sendPostedEvents(&receiver);

  EXPECT_EQ(receiver.Handled, 3);
  // The report was shown once per failure and nothing else followed it.
  EXPECT_EQ(messages.Reports().size(), 3);
  EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST(QuillmarkApplication, NamesItselfForSettingsAndDialogs) {
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quillmark"));
  EXPECT_EQ(QCoreApplication::organizationName(), QStringLiteral("Zorvek"));
  // A dialog closed while the main window is hidden in the tray must not end the application.
  EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
}

}  // namespace
}  // namespace qm
