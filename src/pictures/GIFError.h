#pragma once

#include <stdexcept>

namespace qm {

// A failure of the GIF writer; what() is the message for the user.
class GIFError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qm
