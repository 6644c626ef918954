#include "app/TerminationSignals.h"

#include <QSocketNotifier>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

int g_writeEnd = -1;

void OnSignal(int) {
  if (g_writeEnd >= 0) (void)!write(g_writeEnd, "x", 1);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_writeEnd = fds_[1];
  notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    char buffer[16];
    while (read(fds_[0], buffer, sizeof buffer) > 0) {
    }
    emit Received();
  });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);
  g_writeEnd = -1;
  notifier_.reset();
  for (int fd : fds_)
    if (fd >= 0) close(fd);
}

}  // namespace qm
