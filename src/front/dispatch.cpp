#include "front/dispatch.h"

#include "host/turn.h"
#include "jobs/app.h"
#include "jobs/installer.h"
#include "jobs/scan.h"
#include "jobs/stop.h"
#include "jobs/suite.h"

namespace {

// The jobs that touch the fixed packages or the work folder, or start the installer (which may
// rewrite the drive's packages). /extractSetup replaces setup.exe whole; /appStop and
// /hostCleanup run while the drive is being removed and must not wait behind an installer.
bool takesTurns(uint32_t jobCode) {
  switch (jobCode) {
    case job::kHostConfigure:
    case job::kAppStart:
    case job::kCheckUpdate:
    case job::kUpdatePkgs:
    case job::kUpdateFiles:
    case job::kInstallScan:
    case job::kSetProxy:
    case job::kRunSetup:
      return true;
    default:
      return false;
  }
}

}  // namespace

uint32_t u3RunJob(uint32_t jobCode, const char* cmdText) {
  // Taken before a job's first step, so that a run that gives up has touched and logged nothing.
  Turn turn;
  if (takesTurns(jobCode)) {
    if (const uint32_t busy = turn.take()) return busy;
  }
  switch (jobCode) {
    case job::kHostConfigure: return u3HostConfigure(turn);
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
