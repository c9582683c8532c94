#include "host/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "host/ansi.h"
#include "host/path.h"
#include "host/win.h"

namespace {

constexpr char kLogName[] = "kou3_upd.log";

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using CFile = std::unique_ptr<FILE, FileCloser>;

// Replaces the file name in the executable's path with the log's name. The path is read in
// UTF-16 and taken in its short form where its ANSI form is not exact, so that a folder named
// outside the code page still gets its log. False when the module path is unknown or has no
// ANSI form, or the log's name would not fit the buffer.
bool logPathBesideExecutable(char (&path)[MAX_PATH]) {
  wchar_t modulePath[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
  // A path that filled the buffer may have been cut short and carry no terminator.
  if (length == 0 || length >= MAX_PATH) return false;
  if (!sysAnsiPath(modulePath, path)) return false;
  const size_t folderLength = filFolderLength(path);
  if (folderLength + sizeof kLogName > sizeof path) return false;
  std::memcpy(path + folderLength, kLogName, sizeof kLogName);
  return true;
}

}  // namespace

void logPrintf(const char* format, ...) {
  char path[MAX_PATH];
  if (!logPathBesideExecutable(path)) return;
  const CFile file(std::fopen(path, "a"));
  if (!file) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file.get(), format, args);
  va_end(args);
}
