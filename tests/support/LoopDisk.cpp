#include "support/LoopDisk.h"

#include <QDir>

#include <unistd.h>

#include "support/ToolRun.h"

namespace qm::test {

LoopDisk::LoopDisk(int megabytes) : dir_(QDir::current().filePath(QStringLiteral("loop-XXXXXX"))) {
  if (::geteuid() != 0 || !dir_.isValid()) return;
  const QString image = dir_.filePath(QStringLiteral("disk.img"));
  folder_ = dir_.filePath(QStringLiteral("mnt"));
  if (!QDir().mkpath(folder_)) return;
  mounted_ =
      RunProcess(QStringLiteral("truncate"), {"-s", QStringLiteral("%1M").arg(megabytes), image})
              .ExitCode == 0 &&
      RunProcess(QStringLiteral("mkfs.ext4"), {"-q", "-F", image}).ExitCode == 0 &&
      RunProcess(QStringLiteral("mount"), {"-o", "loop", image, folder_}).ExitCode == 0;
}

LoopDisk::~LoopDisk() {
  if (mounted_) RunProcess(QStringLiteral("umount"), {folder_});
}

}  // namespace qm::test
