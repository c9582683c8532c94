#include "jobs/installer.h"

#include <string>

#include "host/process.h"
#include "host/trace.h"
#include "jobs/suite.h"
#include "package/backup.h"
#include "package/unpack.h"

uint32_t u3UnpackInstaller() {
  return static_cast<uint32_t>(u3UnVpuToHostExe(suite::kInstallerPackage, suite::kInstaller));
}

uint32_t u3CheckUpdate() {
  // A backup left by a run that was stopped holds the packages as they were before its installer
  // touched them: put it back before a new backup could take the touched ones instead.
  u3RestoreVpuFiles();
  uint32_t result = u3UnpackInstaller();
  // The installer's update check may rewrite the fixed packages; they are put back afterwards.
  u3BackupVpuFiles();
  if (result != 0) {
    u3RestoreVpuFiles();
    return result;
  }
  sysRunAndWait(u3ProgramPath(suite::kInstaller) + suite::kCheckUpdate, result, gSettings.hwnd);
  u3RestoreVpuFiles();
  return result;
}

uint32_t u3UpdatePkgs(bool verifyPass) {
  uint32_t result = 0;
  if (!verifyPass) {
    result = u3UnpackInstaller();
    if (result != 0) return result;
  }
  std::string cmdLine = u3ProgramPath(suite::kInstaller) + suite::kDownloadPkgs;
  u3AppendSaveLog(cmdLine, suite::kPkgsLog);
  if (verifyPass) cmdLine += suite::kVerifyPkgs;
  u3AppendSetupSwitches(cmdLine);
  sysRunAndWait(cmdLine, result, gSettings.hwnd);
  if (result == suite::kRepeatDownload) {
    // The installer asks for one repeat, with a fresh copy of itself.
    sysTrace("the installer asks for one repeat: unpacked and run once more, its result the pass's");
    result = u3UnpackInstaller();
    sysRunAndWait(cmdLine, result, gSettings.hwnd);
  }
  // No verifying pass after a declined prompt: it would only prompt again.
  if (!verifyPass && !u3IsSetupResultOk(result) && result != suite::kDeclined) {
    sysTrace("/updatePkgs: %u (0x%X) is not an accepted result, so a verifying pass follows", result, result);
    const uint32_t verified = u3UpdatePkgs(true);
    // Without this line the verifying pass's code, traced last, reads as the job's.
    sysTrace("/updatePkgs ends with %u (0x%X), the first pass's result: the caller learns how its download went, "
             "not how the verifying pass went (%u (0x%X))", result, result, verified, verified);
  }
  return result;
}

uint32_t u3UpdateFiles() {
  uint32_t result = u3UnpackInstaller();
  if (result != 0) return result;
  std::string cmdLine = u3ProgramPath(suite::kInstaller) + suite::kRefresh;
  u3AppendSaveLog(cmdLine, suite::kFilesLog);
  u3AppendSetupSwitches(cmdLine);
  sysRunAndWait(cmdLine, result, gSettings.hwnd);
  return result;
}

uint32_t u3RunSetup(const char* cmdText) {
  uint32_t result = u3UnpackInstaller();
  if (result != 0) return result;
  sysRunAndWait(u3ProgramPath(suite::kInstaller) + u3RunSetupTail(cmdText), result, gSettings.hwnd);
  return result;
}
