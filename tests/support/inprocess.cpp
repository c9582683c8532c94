#include "inprocess.h"

#include <cstring>
#include <vector>

#include "host/win.h"

InProcess::InProcess() : savedSettings_(gSettings) {
  SetEnvironmentVariableA("KOU3_DOUBLE_DIR", control.c_str());
  useHostPath(hostShort());
  const std::string drivePath = driveShort();
  std::memcpy(gSettings.appDataPath, drivePath.c_str(), drivePath.size() + 1);
}

InProcess::~InProcess() {
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
