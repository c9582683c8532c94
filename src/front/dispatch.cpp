#include "front/dispatch.h"

#include "jobs/stop.h"
#include "jobs/suite.h"

namespace {
// Stands for a job whose operation is not built yet: a failure nobody can take for success.
constexpr uint32_t kJobNotBuilt = 0xFFFFFFFF;
}  // namespace

uint32_t u3RunJob(uint32_t jobCode, const char* cmdText) {
  (void)cmdText;
  switch (jobCode) {
    case job::kHostConfigure: return kJobNotBuilt;
    case job::kAppStart: return kJobNotBuilt;
    case job::kAppStop: return u3AppStop();
    case job::kHostCleanup: return u3HostCleanup();
    case job::kCheckUpdate: return kJobNotBuilt;
    case job::kUpdatePkgs: return kJobNotBuilt;
    case job::kUpdateFiles: return kJobNotBuilt;
    case job::kExtractSetup: return kJobNotBuilt;
    case job::kInstallScan: return kJobNotBuilt;
    case job::kSetProxy: return kJobNotBuilt;
    case job::kRunSetup: return kJobNotBuilt;
    default: return 0;
  }
}

uint32_t u3ExitCode(uint32_t jobCode, uint32_t result) {
  if (jobCode == job::kHostConfigure) return u3IsSetupResultOk(result) ? 0 : 1;
  return result;
}
