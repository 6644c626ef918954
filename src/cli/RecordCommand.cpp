#include <cstdio>

#include "cli/CliOptions.h"
#include "cli/Commands.h"

namespace qm::cli {

int RunRecord(const QStringList&) {
  std::fprintf(stderr, "quillmark-capture: record is not available yet\n");
  return kExitFailed;
}

int RunCodecs(const QStringList&) {
  std::fprintf(stderr, "quillmark-capture: codecs is not available yet\n");
  return kExitFailed;
}

}  // namespace qm::cli
