// Keeping the two fixed packages "prod-ko_u3.vpu" and "silverfern.vpu" as they were.
#pragma once
#include <cstdint>

// Each copy goes to a temporary file, is flushed and then renamed over its target, so a run that
// is stopped at any instant leaves every package and every ".bak" whole.

// Copies each fixed package to its ".bak" beside it, replacing an older copy. Returns 0.
uint32_t u3BackupVpuFiles();

// Copies each ".bak" back over its package and deletes the ".bak" only when that copy
// succeeded, so a package that cannot be replaced keeps its backup for the next restore. Returns 0.
uint32_t u3RestoreVpuFiles();
