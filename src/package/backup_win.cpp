// Windows only: copies and deletions through CopyFileA and DeleteFileA.
#include "package/backup.h"

#include <string>

#include "front/settings.h"
#include "host/path.h"
#include "host/win.h"

namespace {

struct FixedPackage {
  const char* package;
  const char* backup;
};
// In this order: the first package is done completely before the second.
constexpr FixedPackage kFixedPackages[] = {
    {"prod-ko_u3.vpu", "prod-ko_u3.bak"},
    {"silverfern.vpu", "silverfern.bak"},
};

std::string inAppData(const char* name) {
  std::string path;
  filJoinPath(path, gSettings.appDataPath, name);
  return path;
}

}  // namespace

uint32_t u3BackupVpuFiles() {
  for (const FixedPackage& fixed : kFixedPackages) {
    // A missing package leaves an older backup of it as it was.
    CopyFileA(inAppData(fixed.package).c_str(), inAppData(fixed.backup).c_str(), FALSE);
  }
  return 0;
}

uint32_t u3RestoreVpuFiles() {
  for (const FixedPackage& fixed : kFixedPackages) {
    const std::string backup = inAppData(fixed.backup);
    // A package that cannot be replaced (read-only, held open) keeps its backup for next time.
    if (CopyFileA(backup.c_str(), inAppData(fixed.package).c_str(), FALSE)) DeleteFileA(backup.c_str());
  }
  return 0;
}
