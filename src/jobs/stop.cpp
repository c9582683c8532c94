#include "jobs/stop.h"

#include "host/process.h"
#include "jobs/suite.h"

uint32_t u3AppStop() {
  uint32_t result = 0;
  sysRunAndWait(u3ProgramPath(suite::kApplication) + suite::kStop, result, gSettings.hwnd);
  return result;
}

uint32_t u3HostCleanup() {
  uint32_t result = 0;
  sysRunAndWait(u3ProgramPath(suite::kLauncher) + suite::kHostCleanup, result, gSettings.hwnd);
  return result;
}
