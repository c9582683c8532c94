#include "inprocess.h"

#include <cstring>

#include "host/win.h"

InProcess::InProcess() : savedSettings_(gSettings) {
  SetEnvironmentVariableA("KOU3_DOUBLE_DIR", control.c_str());
  useHostPath(hostShort());
}

InProcess::~InProcess() {
  SetEnvironmentVariableA("KOU3_DOUBLE_DIR", nullptr);
  gSettings = savedSettings_;
}

void InProcess::useHostPath(const std::string& path) {
  ASSERT_LT(path.size(), sizeof gSettings.hostExecPath) << path;
  std::memcpy(gSettings.hostExecPath, path.c_str(), path.size() + 1);
}
