#include "platform/files/FileSyncer.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <deque>

namespace qm {

FileSyncer::FileSyncer(int fd, int ageSeconds)
    : fd_(fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1), ageSeconds_(ageSeconds) {
  if (fd_ >= 0) thread_ = std::thread([this] { Run(); });
}

FileSyncer::~FileSyncer() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

void FileSyncer::Note(int64_t length) {
  std::lock_guard lock(mutex_);
  if (length > noted_) noted_ = length;
}

int64_t FileSyncer::Synced() const {
  std::lock_guard lock(mutex_);
  return synced_;
}

void FileSyncer::Run() {
  // One sample of the noted length per second; the oldest is what may be synced now.
  std::deque<int64_t> samples;
  std::unique_lock lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; });
    if (stop_) break;
    samples.push_back(noted_);
    if (int(samples.size()) <= ageSeconds_) continue;
    const int64_t old = samples.front();
    samples.pop_front();
    if (old <= synced_) continue;
    lock.unlock();
    const bool ok = ::fdatasync(fd_) == 0;
    lock.lock();
    if (ok && old > synced_) synced_ = old;
  }
}

}  // namespace qm
