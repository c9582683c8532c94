// Keeping the two fixed packages "prod-ko_u3.vpu" and "silverfern.vpu" as they were.
#pragma once
#include <cstdint>

// The two fixed packages in the drive folder and their backups beside them, in the order both
// operations take them: the first package is done completely before the second.
struct FixedPackage {
  const char* package;
  const char* backup;
};
constexpr FixedPackage kFixedPackages[] = {
    {"prod-ko_u3.vpu", "prod-ko_u3.bak"},
    {"silverfern.vpu", "silverfern.bak"},
};

// A run that is stopped at any instant leaves every package and every ".bak" whole.

// Copies each fixed package to its ".bak" beside it, replacing an older copy: the copy goes to a
// temporary file, is flushed and then renamed over the ".bak". It is a copy, not the package
// itself, since the installer may change the package in place. Returns 0.
uint32_t u3BackupVpuFiles();

// Renames each ".bak" over its package, with write-through; a missing package is no obstacle.
// A package that cannot be replaced keeps its backup for the next restore. Returns 0.
uint32_t u3RestoreVpuFiles();
