#include "jobs/app.h"

#include <string>

#include "host/log.h"
#include "host/process.h"
#include "host/trace.h"
#include "host/turn.h"
#include "host/workdir.h"
#include "jobs/installer.h"
#include "jobs/suite.h"
#include "package/backup.h"
#include "package/unpack.h"

namespace {

int32_t asLogged(uint32_t result) { return static_cast<int32_t>(result); }

}  // namespace

uint32_t u3HostConfigure(Turn& turn) {
  logPrintf("*** HOST CONFIGURE ***\n");
  u3RestoreVpuFiles();
  uint32_t result = static_cast<uint32_t>(u3UnVpuToHostExe(suite::kLauncherPackage, suite::kLauncher));
  logPrintf("u3UnVpuToHostExe returing %d\n", asLogged(result));
  if (result != 0) return result;
  const std::string cmdLine = u3ProgramPath(suite::kLauncher);
  logPrintf("Executing '%s'\n", cmdLine.c_str());
  turn.release();
  sysRunAndWait(cmdLine, result, gSettings.hwnd);
  logPrintf("sysExecAndWait returing %d\n", asLogged(result));
  return result;
}

uint32_t u3AppStart(bool verifyPass) {
  logPrintf("*** APP START (%d) ***\n", verifyPass ? 1 : 0);
  u3RestoreVpuFiles();
  uint32_t result = 0;
  if (!verifyPass) {
    result = u3UnpackInstaller();
    logPrintf("u3UnVpuToHostExe returing %d\n", asLogged(result));
    if (result != 0) return result;
  }

  std::string workFolder;
  // Held until it is emptied, so that nobody can swap it for another folder or a link meanwhile.
  FolderHold held;
  const uint32_t folderError = filCreateFreshTempPath(workFolder, suite::kWorkFolder, &held);
  logPrintf("filCreateTempPath returing %s\n", workFolder.c_str());
  if (folderError != 0) {
    // Without a work folder there is nothing to copy into, hand over or delete.
    result = folderError;
  } else {
    // Made anew by this run, it holds the drive's files alone once they are copied.
    result = filCopyPath(gSettings.appDataPath, workFolder.c_str());
    logPrintf("filCopyPath returing %d\n", asLogged(result));
    if (result == 0) {
      std::string cmdLine =
          u3ProgramPath(suite::kInstaller) + suite::kForceInstallStorage + workFolder + suite::kCloseQuote;
      u3AppendSaveLog(cmdLine, suite::kAppStartLog);
      if (verifyPass) cmdLine += suite::kVerifyPkgs;
      logPrintf("Executing '%s'\n", cmdLine.c_str());
      sysRunAndWait(cmdLine, result, gSettings.hwnd);
      logPrintf("sysExecAndWait returing %d\n", asLogged(result));
    }
    filDeleteHeldFolder(workFolder.c_str(), held);
  }

  // One repair attempt: fetch and verify the packages, then install once more; none after a
  // declined prompt, each pass of which would only prompt again.
  if (!verifyPass && !u3IsSetupResultOk(result) && result != suite::kDeclined) {
    sysTrace("/appStart: %u (0x%X) is not an accepted result, so a repair follows: a verifying /updatePkgs, then a "
             "verifying pass", result, result);
    const uint32_t downloaded = u3UpdatePkgs(true);
    if (downloaded == suite::kDeclined) {
      sysTrace("/appStart ends with %u (0x%X), the first pass's result: the repair's download was declined, so no "
               "verifying pass follows", result, result);
      return result;
    }
    const uint32_t reinstalled = u3AppStart(true);
    sysTrace("/appStart ends with %u (0x%X), the first pass's result: the caller learns how its start went, not how "
             "the repair went (verifying /updatePkgs %u (0x%X), verifying pass %u (0x%X))", result, result, downloaded,
             downloaded, reinstalled, reinstalled);
  }
  return result;
}
