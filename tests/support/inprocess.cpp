#include "inprocess.h"

#include <cstring>
#include <vector>

#include "host/process.h"
#include "host/win.h"

namespace {

ProcessCreate gWineCreate = nullptr;

// A test program started as an elevated copy (a fault of the elevation route sends it there)
// would run its whole suite again, and again within that: it ends at once, with a code no
// program of the suite gives.
struct EndsIfStartedAsCopy {
  EndsIfStartedAsCopy() {
    if (std::strstr(GetCommandLineA(), "/kou3updElevatedStart") != nullptr) ExitProcess(0xC0B1E5);
  }
} gEndsIfStartedAsCopy;

// Wine fails a start with 1359 now and then, as startProcess in e2e.cpp says: the program's own
// starts in these tests make it again too. The program never sees 1359 on Windows.
bool createRidingOutWine(char* cmdLine, PROCESS_INFORMATION& info) {
  for (int attempt = 0;; ++attempt) {
    if (gWineCreate(cmdLine, info)) return true;
    if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 2) return false;
    Sleep(500);
  }
}

}  // namespace

InProcess::InProcess() : savedSettings_(gSettings), savedCreate_(gProcessCreate) {
  if (gWineCreate == nullptr) gWineCreate = gProcessCreate;
  gProcessCreate = createRidingOutWine;
  SetEnvironmentVariableA("KOU3_DOUBLE_DIR", control.c_str());
  useHostPath(hostShort());
  const std::string drivePath = driveShort();
  std::memcpy(gSettings.appDataPath, drivePath.c_str(), drivePath.size() + 1);
}

InProcess::~InProcess() {
  gProcessCreate = savedCreate_;
  SetEnvironmentVariableA("KOU3_DOUBLE_DIR", nullptr);
  // Newest first, so that a variable set twice ends as it was before the first change.
  for (auto entry = savedEnvironment_.rbegin(); entry != savedEnvironment_.rend(); ++entry) {
    SetEnvironmentVariableA(entry->first.c_str(), entry->second ? entry->second->c_str() : nullptr);
  }
  gSettings = savedSettings_;
}

void InProcess::useHostPath(const std::string& path) {
  ASSERT_LT(path.size(), sizeof gSettings.hostExecPath) << path;
  std::memcpy(gSettings.hostExecPath, path.c_str(), path.size() + 1);
}

void InProcess::setEnvironment(const std::string& name, const std::optional<std::string>& value) {
  std::vector<char> old(32768);
  SetLastError(0);
  const DWORD length = GetEnvironmentVariableA(name.c_str(), old.data(), static_cast<DWORD>(old.size()));
  const bool wasSet = length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  savedEnvironment_.emplace_back(name, wasSet ? std::optional<std::string>(std::string(old.data(), length)) : std::nullopt);
  SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
}
