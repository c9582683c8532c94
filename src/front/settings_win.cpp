#include "front/settings.h"

#include <string>

#include "host/ansi.h"
#include "host/trace.h"
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

// Why variable left its folder empty, asked again for the trace: the settings keep the folder only.
std::string whyUnusable(const wchar_t* variable, const wchar_t* variableRef) {
  if (GetEnvironmentVariableW(variable, nullptr, 0) == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
    return "is not set";
  }
  wchar_t expanded[kPathBufferSize] = {};
  const DWORD needed = ExpandEnvironmentStringsW(variableRef, expanded, kPathBufferSize);
  if (needed > kPathBufferSize) {
    return "is too long: " + std::to_string(needed - 1) + " characters, of which 259 fit";
  }
  const std::string value = "\"" + sysTraceText(expanded) + "\"";
  const DWORD attributes = GetFileAttributesW(expanded);
  if (needed == 0 || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return value + " names no existing folder";
  }
  const DWORD shortLength = GetShortPathNameW(expanded, nullptr, 0);
  if (shortLength > kPathBufferSize) {
    return value + " is too long: its short form has " + std::to_string(shortLength - 1) +
           " characters, of which 259 fit";
  }
  return value + " has no form in the ANSI code page, not even a short one";
}

void traceUnusable(const char* field, const wchar_t* variable, const wchar_t* variableRef, const char* meaning) {
  if (field[0] != '\0') return;
  sysTrace("%s %s: %s", sysTraceText(variable).c_str(), whyUnusable(variable, variableRef).c_str(), meaning);
}

}  // namespace

void u3TraceUnusableFolders() {
  traceUnusable(gSettings.appDataPath, L"U3_APP_DATA_PATH", L"%U3_APP_DATA_PATH%",
                "no drive folder, so packages are searched for in the current folder");
  traceUnusable(gSettings.hostExecPath, L"U3_HOST_EXEC_PATH", L"%U3_HOST_EXEC_PATH%",
                "no host folder, so executables are written into the current folder and programs are looked "
                "for as bare names");
}

void u3InitSettings() {
  readFolder(L"%U3_APP_DATA_PATH%", gSettings.appDataPath);
  readFolder(L"%U3_HOST_EXEC_PATH%", gSettings.hostExecPath);
  u3ResetCommandFields(gSettings);
}
