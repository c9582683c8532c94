// Windows only: the directory search and the replacement of the executable are Win32 calls.
#include "package/unpack.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "front/settings.h"
#include "host/files.h"
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

constexpr uint32_t kErrorDiskFull = 112;

// Writes the whole image to path and flushes it: 0, or the Windows error code of the failed step.
uint32_t writeImage(const char* path, const uint8_t* image, uint32_t length) {
  FileStream out;
  if (!out.create(path)) return out.getLastError();
  int32_t written = 0;
  if (!out.write(image, length, &written)) return out.getLastError();
  // A write that stops short without an error is a disk that filled up.
  if (static_cast<uint32_t>(written) != length) return kErrorDiskFull;
  if (!out.flush()) return out.getLastError();
  return 0;
}

bool isFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
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

  const uint32_t error =
      filReplaceFile(target, [&](const char* temporary) { return writeImage(temporary, image.get(), length); });
  // The old executable stays whole, and the caller starts it: a launcher that is running cannot
  // be replaced, yet must still be started. Without one there is nothing to start.
  if (error == 0 || isFile(target)) return 0;
  return static_cast<int32_t>(error);
}
