// The job table: the one place where a job code is bound to the operation it runs.
#pragma once
#include <cstdint>

namespace job {
constexpr uint32_t kNone = 0;
constexpr uint32_t kHostConfigure = 2;
constexpr uint32_t kAppStart = 3;
constexpr uint32_t kAppStop = 4;
constexpr uint32_t kHostCleanup = 5;
constexpr uint32_t kCheckUpdate = 7;
constexpr uint32_t kUpdatePkgs = 8;
constexpr uint32_t kUpdateFiles = 9;
constexpr uint32_t kExtractSetup = 10;
constexpr uint32_t kInstallScan = 12;
constexpr uint32_t kSetProxy = 13;
constexpr uint32_t kRunSetup = 14;
}  // namespace job

// Runs the job for jobCode; cmdText is the command-line text (for /runSetup). 0 for no job.
uint32_t u3RunJob(uint32_t jobCode, const char* cmdText);

// The process exit code for a job's result: /hostConfigure gives 0 or 1, the rest pass it on.
uint32_t u3ExitCode(uint32_t jobCode, uint32_t result);
