#include "package/backup.h"

#include <string>

#include "front/settings.h"
#include "host/files.h"
#include "host/path.h"
#include "host/trace.h"

namespace {

// A backup that is not there (or a drive folder that is not) leaves nothing to put back, which is
// the usual case: only a run that was stopped leaves one.
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;

std::string inAppData(const char* name) {
  std::string path;
  filJoinPath(path, gSettings.appDataPath, name);
  return path;
}

}  // namespace

uint32_t u3BackupVpuFiles() {
  for (const FixedPackage& fixed : kFixedPackages) {
    // A missing package, or a copy that stops part-way, leaves an older backup as it was.
    const uint32_t error = filReplaceWithCopy(inAppData(fixed.package), inAppData(fixed.backup));
    sysTrace("backup %s: error %u", fixed.package, error);
  }
  return 0;
}

uint32_t u3RestoreVpuFiles() {
  for (const FixedPackage& fixed : kFixedPackages) {
    // The backup becomes the package: no bytes are copied, and it is gone once it is back. A
    // package that cannot be replaced (read-only, held open, a folder) keeps its backup for the
    // next restore.
    const std::string package = inAppData(fixed.package);
    filSweepLeftovers(package);
    const uint32_t error = filMoveOver(inAppData(fixed.backup), package);
    if (error == kFileNotFound || error == kPathNotFound) {
      sysTrace("restore %s: nothing to put back, no %s", fixed.package, fixed.backup);
    } else {
      sysTrace("restore %s from %s: error %u", fixed.package, fixed.backup, error);
    }
  }
  return 0;
}
