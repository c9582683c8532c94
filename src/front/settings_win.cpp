#include "front/settings.h"
#include "host/win.h"

namespace {

// Expands variableRef and stores its short form in field; anything that does not fit, or a
// folder without a short form (unset variable, missing folder), leaves the field empty.
void readFolder(const char* variableRef, char (&field)[kPathBufferSize]) {
  field[0] = '\0';
  char expanded[kPathBufferSize] = {};
  const DWORD needed = ExpandEnvironmentStringsA(variableRef, expanded, sizeof expanded);
  if (needed == 0 || needed > sizeof expanded) return;
  const DWORD length = GetShortPathNameA(expanded, field, sizeof field);
  if (length == 0 || length >= sizeof field) field[0] = '\0';
}

}  // namespace

void u3InitSettings() {
  readFolder("%U3_APP_DATA_PATH%", gSettings.appDataPath);
  readFolder("%U3_HOST_EXEC_PATH%", gSettings.hostExecPath);
  u3ResetCommandFields(gSettings);
}
