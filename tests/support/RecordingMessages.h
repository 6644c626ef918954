#pragma once

#include <QString>
#include <QStringList>

#include <mutex>

#include "common/UserMessages.h"

namespace qm::test {

// Collects what the system tells the user, for tests to inspect. Installs itself for its
// lifetime.
class RecordingMessages : public UserMessages {
 public:
  RecordingMessages() { SetUserMessages(this); }
  ~RecordingMessages() override { SetUserMessages(nullptr); }

  void ShowMessage(const QString& text) override {
    std::lock_guard lock(mutex_);
    messages_ << text;
  }
  bool ShowErrorReport(const QString& message) override {
    std::lock_guard lock(mutex_);
    reports_ << message;
    return false;
  }

  QStringList Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  QStringList Reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
  }

 private:
  mutable std::mutex mutex_;
  QStringList messages_;
  QStringList reports_;
};

}  // namespace qm::test
