#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace qm {

// Brings a growing file's older data to the disk on a thread of its own, so that the writer
// never waits for the disk: about once a second it syncs the file (fdatasync) when the
// length noted a few seconds earlier has not reached the disk yet. A crash or power loss then
// costs at most the last seconds of a recording. The writer calls Note after each append;
// Note and the destructor run on any one thread at a time.
class FileSyncer {
 public:
  // fd: the file's descriptor, duplicated here (the syncer may outlive the caller's use of it).
  // ageSeconds: how old noted data must be before it is synced.
  explicit FileSyncer(int fd, int ageSeconds = 5);
  // Stops the thread; what is not synced yet stays to the system's own write-back.
  ~FileSyncer();
  FileSyncer(const FileSyncer&) = delete;
  FileSyncer& operator=(const FileSyncer&) = delete;

  // The file's data now reaches up to length bytes.
  void Note(int64_t length);
  // How far the file has been synced (for tests).
  int64_t Synced() const;

 private:
  void Run();

  int fd_ = -1;
  int ageSeconds_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  int64_t noted_ = 0;
  int64_t synced_ = 0;
  std::thread thread_;
};

}  // namespace qm
