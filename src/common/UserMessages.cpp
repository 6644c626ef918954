#include "common/UserMessages.h"

#include <atomic>
#include <cstdio>

namespace qm {

namespace {

StderrMessages& StderrReceiver() {
  static StderrMessages receiver;
  return receiver;
}

std::atomic<UserMessages*> g_messages{nullptr};

}  // namespace

void StderrMessages::ShowMessage(const QString& text) {
  const QByteArray line = text.toLocal8Bit();
  std::fprintf(stderr, "%s\n", line.constData());
}

bool StderrMessages::ShowErrorReport(const QString& message) {
  const QByteArray line = message.toLocal8Bit();
  std::fprintf(stderr, "Error encountered: %s\n", line.constData());
  return false;
}

UserMessages& Messages() {
  UserMessages* installed = g_messages.load();
  return installed ? *installed : StderrReceiver();
}

void SetUserMessages(UserMessages* messages) {
  g_messages.store(messages);
}

void ShowMessage(const QString& text) {
  Messages().ShowMessage(text);
}

}  // namespace qm
