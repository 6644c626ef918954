#pragma once

#include <exception>

namespace qm {

// Ends the current operation after the user has already been told why. It unwinds the
// operation, running its clean-ups; the application's notify() catches and discards it. On
// a recording's threads it ends the recording (the writer thread carries it back to the
// capture thread, which completes the file and says the recording failed).
class SilentAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "silent abort"; }
};

}  // namespace qm
