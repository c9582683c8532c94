#include "host/workdir.h"

#include <cstring>

#include "host/files.h"
#include "host/path.h"
#include "host/win.h"

namespace {

constexpr char kLastResortTemp[] = "C:\\TEMP";

uint32_t nonZero(DWORD error, DWORD otherwise) { return error != 0 ? error : otherwise; }

bool hasTerminator(const char (&buffer)[MAX_PATH]) { return std::memchr(buffer, '\0', sizeof buffer) != nullptr; }

// A value too long for the buffer comes back as the size it would need, with nothing usable in
// the buffer: that counts as not set, so that the next choice is tried.
bool environmentValue(const char* name, char (&buffer)[MAX_PATH]) {
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return length != 0 && length < sizeof buffer && hasTerminator(buffer);
}

// The size returned on success counts the terminator, so anything above the buffer's size is
// the size it would need.
bool expandFits(DWORD returned, const char (&buffer)[MAX_PATH]) {
  return returned != 0 && returned <= sizeof buffer && hasTerminator(buffer);
}

bool exists(const char* path) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  // Something we may not look at is still there; taking it for missing would hide it.
  return error == ERROR_ACCESS_DENIED;
}

bool isDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

std::string folderPart(const std::string& path) { return path.substr(0, filFolderLength(path.c_str())); }

uint32_t deleteContents(const std::string& folder, const char* contentPattern, bool recurse) {
  std::string pattern;
  filJoinPath(pattern, folder.c_str(), contentPattern);
  WIN32_FIND_DATAA entry;
  const FindHandle search(FindFirstFileA(pattern.c_str(), &entry));
  if (!search) return 0;
  const std::string entryFolder = folderPart(pattern);
  uint32_t result = 0;
  do {
    if (isDotEntry(entry.cFileName)) continue;
    const std::string path = entryFolder + entry.cFileName;
    if (recurse && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      const uint32_t nested = filDeletePath(path.c_str(), contentPattern, true);
      if (nested != 0) result = nested;
    } else if (const uint32_t error = filDeleteFile(path.c_str())) {
      // Also what leaves a sub-folder in place when not recursing.
      result = error;
    }
  } while (FindNextFileA(search.get(), &entry));
  return result;
}

}  // namespace

uint32_t filCreateTempPath(std::string& result, const char* name, bool create) {
  char base[MAX_PATH] = {};
  if (!environmentValue("TEMP", base) && !environmentValue("TMP", base)) {
    // Expands to C:\TEMP where SYSTEMDRIVE is "C:".
    if (!expandFits(ExpandEnvironmentStringsA("%SYSTEMDRIVE%\\TEMP", base, sizeof base), base)) {
      std::memcpy(base, kLastResortTemp, sizeof kLastResortTemp);
    }
  }

  // The value may itself name variables (%USERPROFILE%\Temp). Without a full expansion there is
  // no folder to put the name in, and handing back the base alone would have the callers fill
  // and then empty the user's own temporary folder.
  char expanded[MAX_PATH];
  const DWORD expandedSize = ExpandEnvironmentStringsA(base, expanded, sizeof expanded);
  if (expandedSize == 0) {
    const DWORD error = GetLastError();
    result.clear();
    return nonZero(error, ERROR_BAD_ENVIRONMENT);
  }
  if (!expandFits(expandedSize, expanded)) {
    result.clear();
    return ERROR_FILENAME_EXCED_RANGE;
  }

  if (!exists(expanded)) {
    std::memcpy(expanded, kLastResortTemp, sizeof kLastResortTemp);
    // Its failure shows as the failure to make the work folder below.
    CreateDirectoryA(expanded, nullptr);
  }

  std::string workPath;
  filJoinPath(workPath, expanded, name);
  if (!create || exists(workPath.c_str())) {
    result = workPath;
    return 0;
  }
  if (!CreateDirectoryA(workPath.c_str(), nullptr)) {
    const DWORD error = GetLastError();
    result.clear();
    return nonZero(error, ERROR_CANNOT_MAKE);
  }
  result = workPath;
  return 0;
}

uint32_t filGetTempFolder(std::string& folder) {
  char path[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof path, path);
  if (length == 0) {
    const DWORD error = GetLastError();
    folder.clear();
    return nonZero(error, ERROR_BAD_ENVIRONMENT);
  }
  // Too small a buffer gives the size it would need, terminator included.
  if (length >= sizeof path) {
    folder.clear();
    return ERROR_FILENAME_EXCED_RANGE;
  }
  folder.assign(path, length);
  return 0;
}

uint32_t filCopyPath(const char* source, const char* destination) {
  std::string pattern;
  filJoinPath(pattern, source, "*.*");
  WIN32_FIND_DATAA entry;
  const FindHandle search(FindFirstFileA(pattern.c_str(), &entry));
  if (!search) return 0;
  std::string from;
  std::string to;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || isDotEntry(entry.cFileName)) continue;
    filJoinPath(from, source, entry.cFileName);
    filJoinPath(to, destination, entry.cFileName);
    // A file that cannot be copied is left out; the installer gets the others.
    filCopyFile(from.c_str(), to.c_str());
  } while (FindNextFileA(search.get(), &entry));
  return 0;
}

uint32_t filDeletePath(const char* folderPattern, const char* contentPattern, bool recurse) {
  WIN32_FIND_DATAA match;
  const FindHandle folders(FindFirstFileA(folderPattern, &match));
  if (!folders) return 0;
  const std::string parent = folderPart(folderPattern);
  uint32_t result = 0;
  do {
    // A wildcard pattern also matches "." and "..", which would name the parent folders.
    if (!(match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || isDotEntry(match.cFileName)) continue;
    const std::string folder = parent + match.cFileName;
    const uint32_t emptied = deleteContents(folder, contentPattern, recurse);
    if (emptied != 0) result = emptied;
    if (!RemoveDirectoryA(folder.c_str())) {
      const DWORD error = GetLastError();
      if (error != 0) result = error;
    }
  } while (FindNextFileA(folders.get(), &match));
  return result;
}
