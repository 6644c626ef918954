#pragma once

#include <stdexcept>

namespace qm {

// An export that could not be done; what() is the message for the user. Nothing of the
// output is left behind.
class ExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qm
