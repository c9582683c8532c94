#include "front/dispatch.h"

#include "jobs/app.h"
#include "jobs/installer.h"
#include "jobs/scan.h"
#include "jobs/stop.h"
#include "jobs/suite.h"

uint32_t u3RunJob(uint32_t jobCode, const char* cmdText) {
  switch (jobCode) {
    case job::kHostConfigure: return u3HostConfigure();
    case job::kAppStart: return u3AppStart(false);
    case job::kAppStop: return u3AppStop();
    case job::kHostCleanup: return u3HostCleanup();
    case job::kCheckUpdate: return u3CheckUpdate();
    case job::kUpdatePkgs: return u3UpdatePkgs(false);
    case job::kUpdateFiles: return u3UpdateFiles();
    case job::kExtractSetup: return u3UnpackInstaller();
    case job::kInstallScan: return u3InstallScan();
    case job::kSetProxy: return u3SetProxy();
    case job::kRunSetup: return u3RunSetup(cmdText);
    default: return 0;
  }
}

uint32_t u3ExitCode(uint32_t jobCode, uint32_t result) {
  if (jobCode == job::kHostConfigure) return u3IsSetupResultOk(result) ? 0 : 1;
  return result;
}
