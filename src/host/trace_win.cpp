#include "host/trace.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "host/win.h"

namespace {

struct Trace {
  bool started = false;
  DWORD startMs = 0;
  DWORD processId = 0;
  FileHandle file;
};
Trace gTrace;

// Opened once for the run, for appending only, so that each line lands whole at the end even
// while the installer's own run of kou3upd traces into the same file. Not inheritable: the
// programs started keep no handle to it.
FileHandle openTraceFile() {
  const DWORD needed = GetEnvironmentVariableW(L"KOU3UPD_TRACE", nullptr, 0);
  if (needed <= 1) return FileHandle();
  const std::unique_ptr<wchar_t[]> path(new (std::nothrow) wchar_t[needed]);
  if (!path) return FileHandle();
  const DWORD length = GetEnvironmentVariableW(L"KOU3UPD_TRACE", path.get(), needed);
  if (length == 0 || length >= needed) return FileHandle();
  return FileHandle(CreateFileW(path.get(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void start(bool withFile) {
  gTrace.started = true;
  gTrace.startMs = GetTickCount();
  gTrace.processId = GetCurrentProcessId();
  if (withFile) gTrace.file = openTraceFile();
}

}  // namespace

void sysTraceWithoutFile() {
  if (!gTrace.started) start(false);
  gTrace.file.reset();
}

void sysTrace(const char* format, ...) {
  // The error a failing call left is read after this by the caller's next step.
  const DWORD savedError = GetLastError();
  if (!gTrace.started) start(true);
  char prefix[48];
  // GetTickCount wraps after 49 days, GetTickCount64 is missing before Vista: the difference of
  // two 32-bit counts is right across one wrap, and a run lasts far less than 49 days.
  const DWORD elapsed = GetTickCount() - gTrace.startMs;
  const int prefixLength = std::snprintf(prefix, sizeof prefix, "kou3upd[%lu] +%lu ",
                                         static_cast<unsigned long>(gTrace.processId), static_cast<unsigned long>(elapsed));
  std::string line(prefix, prefixLength > 0 ? static_cast<std::size_t>(prefixLength) : 0);

  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int textLength = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (textLength > 0) {
    const std::size_t at = line.size();
    line.resize(at + static_cast<std::size_t>(textLength) + 1);
    std::vsnprintf(&line[at], static_cast<std::size_t>(textLength) + 1, format, again);
    line.resize(line.size() - 1);
  }
  va_end(again);
  line += "\r\n";

  // Called whether or not a debugger is attached: DebugView listens without being one.
  OutputDebugStringA(line.c_str());
  if (gTrace.file) {
    DWORD written = 0;
    WriteFile(gTrace.file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  SetLastError(savedError);
}
