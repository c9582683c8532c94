// Keeping the two fixed packages "prod-ko_u3.vpu" and "silverfern.vpu" as they were.
#pragma once
#include <cstdint>

// Copies each fixed package to its ".bak" beside it, replacing an older copy. Returns 0.
uint32_t u3BackupVpuFiles();

// Copies each ".bak" back over its package and deletes the ".bak" only when that copy
// succeeded, so a package that cannot be replaced keeps its backup for the next restore. Returns 0.
uint32_t u3RestoreVpuFiles();
