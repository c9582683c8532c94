#include "front/settings.h"
#include "host/ansi.h"
#include "host/win.h"

namespace {

static_assert(kPathBufferSize == kAnsiPathSize, "the fields take the converted paths as they are");

// Expands variableRef and stores its short form in field. The expansion is read in UTF-16, so a
// folder named with letters outside the ANSI code page (a user name in another script) is still
// found, through its short form. Anything that does not fit, or a folder without a short form in
// exact ANSI (unset variable, missing folder), leaves the field empty.
void readFolder(const wchar_t* variableRef, char (&field)[kPathBufferSize]) {
  field[0] = '\0';
  wchar_t expanded[kPathBufferSize] = {};
  const DWORD needed = ExpandEnvironmentStringsW(variableRef, expanded, kPathBufferSize);
  if (needed == 0 || needed > kPathBufferSize) return;
  sysAnsiShortPath(expanded, field);
}

}  // namespace

void u3InitSettings() {
  readFolder(L"%U3_APP_DATA_PATH%", gSettings.appDataPath);
  readFolder(L"%U3_HOST_EXEC_PATH%", gSettings.hostExecPath);
  u3ResetCommandFields(gSettings);
}
