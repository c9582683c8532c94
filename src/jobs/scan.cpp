#include "jobs/scan.h"

#include <string>

#include "host/process.h"
#include "host/workdir.h"
#include "jobs/installer.h"
#include "jobs/suite.h"
#include "package/backup.h"

namespace {
constexpr uint32_t kErrorFilenameExcedRange = 206;
}  // namespace

uint32_t u3InstallScan() {
  u3RestoreVpuFiles();
  uint32_t result = u3UnpackInstaller();
  if (result != 0) return result;

  std::string workFolder;
  // Held until it is emptied, so that nobody can swap it for another folder or a link meanwhile.
  FolderHold held;
  const uint32_t folderError = filCreateFreshTempPath(workFolder, suite::kWorkFolder, &held);
  // Without a work folder there is nothing to copy into, hand over or delete.
  if (folderError != 0) return folderError;
  // Made anew by this run, it holds the drive's files alone once they are copied.
  result = filCopyPath(gSettings.appDataPath, workFolder.c_str());
  if (result == 0) {
    sysRunAndWait(u3ProgramPath(suite::kInstaller) + suite::kScanStorage + workFolder + suite::kScanForceInstall,
                  result, gSettings.hwnd);
  }
  filDeleteHeldFolder(workFolder.c_str(), held);

  if (u3IsSetupResultOk(result)) {
    sysRunAndWait(u3ProgramPath(suite::kApplication) + suite::kInstall, result, gSettings.hwnd);
  }
  return result;
}

uint32_t u3SetProxy() {
  uint32_t result = u3UnpackInstaller();
  if (result != 0) return result;

  std::string proxyFile;
  const uint32_t tempError = filGetTempFolder(proxyFile);
  if (tempError != 0) return tempError;
  if (proxyFile.empty() || proxyFile.back() != '\\') proxyFile += '\\';
  proxyFile += suite::kProxyFile;
  // The installer takes the path as a Windows path; one that does not fit is refused, not cut.
  if (proxyFile.size() >= kPathBufferSize) return kErrorFilenameExcedRange;

  sysRunAndWait(u3ProgramPath(suite::kInstaller) + suite::kSetProxy + proxyFile + suite::kCloseQuote, result,
                gSettings.hwnd);
  return result;
}
