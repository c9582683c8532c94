#include "jobs/installer.h"

#include <string>

#include "host/process.h"
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
    result = u3UnpackInstaller();
    sysRunAndWait(cmdLine, result, gSettings.hwnd);
  }
  if (!verifyPass && !u3IsSetupResultOk(result) && result != suite::kDeclined) u3UpdatePkgs(true);
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
