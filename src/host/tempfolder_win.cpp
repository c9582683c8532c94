// Where the work folder goes and what may stand in its place, and the user's temporary folder:
// read-only, so that vpupack's plan asks Windows the same questions as the jobs.
#include <cstring>
#include <optional>
#include <string>

#include "host/ansi.h"
#include "host/win.h"
#include "host/workdir.h"

namespace {

constexpr char kLastResortTemp[] = "C:\\TEMP";

// A value too long for the buffer comes back as the size it would need, with nothing usable in
// the buffer: that counts as not set, so that the next choice is tried.
bool environmentValue(const wchar_t* name, wchar_t (&buffer)[MAX_PATH]) {
  const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
  return length != 0 && length < MAX_PATH;
}

// A temporary-folder value expanded (it may name variables, as in %USERPROFILE%\Temp) and brought
// into ANSI. Read in UTF-16, so that a folder named outside the code page is found through its
// short form. 0 with folder set; nullopt when the value has no exact ANSI form, which counts as
// not set like a value too long; or the error of an expansion that failed or does not fit: without
// it there is no folder to put the name in, and handing back the value alone would have the
// callers fill and then empty the user's own temporary folder.
std::optional<uint32_t> expandedFolder(const wchar_t* value, char (&folder)[MAX_PATH]) {
  wchar_t expanded[MAX_PATH];
  // The size returned on success counts the terminator.
  const DWORD size = ExpandEnvironmentStringsW(value, expanded, MAX_PATH);
  if (size == 0) return sysNonZero(GetLastError(), ERROR_BAD_ENVIRONMENT);
  if (size > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  if (!sysAnsiPath(expanded, folder)) return std::nullopt;
  return 0;
}

// The base of the work folder: TEMP, then TMP, then %SYSTEMDRIVE%\TEMP, then C:\TEMP.
uint32_t temporaryBase(char (&folder)[MAX_PATH]) {
  wchar_t value[MAX_PATH];
  for (const wchar_t* name : {L"TEMP", L"TMP"}) {
    if (!environmentValue(name, value)) continue;
    if (const std::optional<uint32_t> error = expandedFolder(value, folder)) return *error;
  }
  // Expands to C:\TEMP where SYSTEMDRIVE is "C:".
  const DWORD size = ExpandEnvironmentStringsW(L"%SYSTEMDRIVE%\\TEMP", value, MAX_PATH);
  if (size != 0 && size <= MAX_PATH) {
    if (const std::optional<uint32_t> error = expandedFolder(value, folder)) return *error;
  }
  std::memcpy(folder, kLastResortTemp, sizeof kLastResortTemp);
  return 0;
}

bool exists(const char* path) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  // Something we may not look at is still there; taking it for missing would hide it.
  return error == ERROR_ACCESS_DENIED;
}

}  // namespace

uint32_t filWorkFolderBase(std::string& folder, bool& missing) {
  char chosen[MAX_PATH];
  const uint32_t error = temporaryBase(chosen);
  if (error != 0) {
    folder.clear();
    return error;
  }
  missing = !exists(chosen);
  folder = missing ? kLastResortTemp : chosen;
  return 0;
}

uint32_t filNotAFolderOfItsOwn(uint32_t attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_CANT_ACCESS_FILE;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
  return 0;
}

uint32_t filWorkFolderRefusal(const char* path) { return filNotAFolderOfItsOwn(GetFileAttributesA(path)); }

uint32_t filGetTempFolder(std::string& folder) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, path);
  if (length == 0) {
    const DWORD error = GetLastError();
    folder.clear();
    return sysNonZero(error, ERROR_BAD_ENVIRONMENT);
  }
  // Too small a buffer gives the size it would need, terminator included.
  if (length >= MAX_PATH) {
    folder.clear();
    return ERROR_FILENAME_EXCED_RANGE;
  }
  char ansi[MAX_PATH];
  if (!sysAnsiPath(path, ansi)) {
    folder.clear();
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  folder = ansi;
  return 0;
}
