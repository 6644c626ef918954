#include <cstdio>

#include "cli/CliOptions.h"
#include "cli/Commands.h"

namespace qm::cli {

int RunPhoto(const QStringList&) {
  std::fprintf(stderr, "quillmark-capture: photo is not available yet\n");
  return kExitFailed;
}

}  // namespace qm::cli
