// Windows only: the directory search and the replacement of the executable are Win32 calls.
#include "package/unpack.h"

#include <cstdio>
#include <memory>

#include "front/settings.h"
#include "host/files.h"
#include "host/path.h"
#include "host/trace.h"
#include "host/win.h"
#include "package/newest.h"
#include "package/reader.h"
#include "package/stream.h"

int32_t filFindNewestVpu(std::string& fileName, const char* folder, const char* packageName) {
  char pattern[kPathBufferSize];
  const int patternLength = std::snprintf(pattern, sizeof pattern, "%s-*.vpu", packageName);
  if (patternLength < 0 || static_cast<std::size_t>(patternLength) >= sizeof pattern) return -1;
  std::string searchPath;
  filJoinPath(searchPath, folder, pattern);

  sysTrace("search %s", searchPath.c_str());
  WIN32_FIND_DATAA entry;
  FindHandle search(FindFirstFileA(searchPath.c_str(), &entry));
  if (!search) {
    const DWORD error = GetLastError();
    sysTrace("search: no match (error %lu)", error);
    return -1;
  }
  NewestVpu newest(packageName);
  do {
    entry.cFileName[sizeof entry.cFileName - 1] = '\0';
    sysTrace("search: %s, version %d", entry.cFileName, newest.offer(entry.cFileName));
  } while (FindNextFileA(search.get(), &entry));
  if (newest.version() < 0) {
    sysTrace("search: takes nothing");
    return -1;
  }
  fileName = newest.fileName();
  sysTrace("search: takes %s, version %d", fileName.c_str(), newest.version());
  return newest.version();
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
  PkgReadNote note;
  if (!pkgReadFile(source.c_str(), image, length, &note)) {
    sysTrace("read %s: refused, %s (code %d)", source.c_str(), note.refused, note.code);
    return -1;
  }
  sysTrace("read %s: image size %u, body size %u, unpacked %u bytes", source.c_str(), note.imageSize, note.bodySize,
           length);

  const uint32_t error =
      filReplaceFile(target, [&](const char* temporary) { return writeImage(temporary, image.get(), length); });
  // The old executable stays whole, and the caller starts it: a launcher that is running cannot
  // be replaced, yet must still be started. Without one there is nothing to start.
  if (error == 0 || isFile(target)) return 0;
  return static_cast<int32_t>(error);
}
