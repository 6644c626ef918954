#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace qm::test {

// The tests' stand-in for the desktop portal's GlobalShortcuts frontend
// (tests/shortcutportal/GlobalShortcutsPortal.py) on a session bus of its own, which goes with
// it. options are the stand-in's ("--answer 1", "--without-shortcuts", "--absent").
class ShortcutsPortal {
 public:
  explicit ShortcutsPortal(const QStringList& options = {});
  ~ShortcutsPortal();
  ShortcutsPortal(const ShortcutsPortal&) = delete;
  ShortcutsPortal& operator=(const ShortcutsPortal&) = delete;

  bool Ok() const { return !address_.isEmpty(); }
  // The private bus's address.
  const QString& Address() const { return address_; }
  // "activate ID", "change ID TRIGGER", "close".
  void Send(const QString& command);
  // What it logged so far, one object a call or command.
  QList<QJsonObject> Log() const;
  // The logged calls of one method.
  QList<QJsonObject> Calls(const QString& method) const;

 private:
  QTemporaryDir folder_;
  QProcess process_;
  QString address_;
};

}  // namespace qm::test
