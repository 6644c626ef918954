#pragma once

#include <exception>

namespace qm {

// Ends the current operation after the user has already been told why. It unwinds the
// operation, running its clean-ups; the application's notify() catches and discards it,
// and a capture thread's hand-off carries it back to the worker.
class SilentAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "silent abort"; }
};

}  // namespace qm
