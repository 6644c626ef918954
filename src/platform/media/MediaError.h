#pragma once

#include <stdexcept>

namespace qm {

// A failure of reading a recording or writing its shareable copy; what() is the message for
// the user.
class MediaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The export was stopped (a cancel, a signal) before it ended.
class MediaCancelled : public std::runtime_error {
 public:
  MediaCancelled() : std::runtime_error("The export was cancelled") {}
};

}  // namespace qm
