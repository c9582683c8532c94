// Windows only: the directory search and the replacement of the executable are Win32 calls.
#include "package/unpack.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "front/settings.h"
#include "host/path.h"
#include "host/win.h"
#include "package/reader.h"
#include "package/stream.h"

int32_t filFindNewestVpu(std::string& fileName, const char* folder, const char* packageName) {
  char pattern[kPathBufferSize];
  const int patternLength = std::snprintf(pattern, sizeof pattern, "%s-*.vpu", packageName);
  if (patternLength < 0 || static_cast<std::size_t>(patternLength) >= sizeof pattern) return -1;
  std::string searchPath;
  filJoinPath(searchPath, folder, pattern);

  WIN32_FIND_DATAA entry;
  FindHandle search(FindFirstFileA(searchPath.c_str(), &entry));
  if (!search) return -1;

  // The version follows the name and its dash. A name found through its short form could in
  // principle be shorter than that; its version text is then empty.
  const std::size_t versionAt = std::strlen(packageName) + 1;
  int32_t best = -1;
  do {
    const std::size_t nameLength = strnlen(entry.cFileName, sizeof entry.cFileName - 1);
    const char* versionText = entry.cFileName + (nameLength > versionAt ? versionAt : nameLength);
    // long is 32 bits here, so strtol's own clamping keeps the version in range.
    const auto version = static_cast<int32_t>(std::strtol(versionText, nullptr, 16));
    if (version > best) {
      best = version;
      fileName.assign(entry.cFileName, nameLength);
    }
  } while (FindNextFileA(search.get(), &entry));
  return best;
}

namespace {

// Writes the whole image to path; false when the file cannot be made or any byte is missing.
bool writeImage(const char* path, const uint8_t* image, uint32_t length) {
  FileStream out;
  if (!out.create(path)) return false;
  int32_t written = 0;
  const bool complete = out.write(image, length, &written) && static_cast<uint32_t>(written) == length;
  out.close();
  return complete;
}

}  // namespace

int32_t u3UnVpuToHostExe(const char* packageName, const char* exeName) {
  std::string found;
  if (filFindNewestVpu(found, gSettings.appDataPath, packageName) < 0) return -1;
  std::string source;
  filJoinPath(source, gSettings.appDataPath, found.c_str());
  std::string target;
  filJoinPath(target, gSettings.hostExecPath, exeName);

  std::unique_ptr<uint8_t[]> image;
  uint32_t length = 0;
  if (!pkgReadFile(source.c_str(), image, length)) return -1;

  // The image goes to a file of this run's own first and replaces the executable only when it
  // is whole, so a full disk or a locked executable never leaves a broken program behind.
  const std::string temporary = target + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
  if (!writeImage(temporary.c_str(), image.get(), length) ||
      !MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(temporary.c_str());
    return -1;
  }
  return 0;
}
