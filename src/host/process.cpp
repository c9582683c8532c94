#include "host/process.h"

#include <string>

#include "host/ansi.h"
#include "host/dllsearch.h"
#include "host/elevation.h"
#include "host/files.h"
#include "host/trace.h"
#include "host/win.h"

namespace {

// ERROR_ELEVATION_REQUIRED, which MinGW's headers lack.
constexpr DWORD kElevationRequired = 740;
constexpr DWORD kCreationFlags = CREATE_SUSPENDED | NORMAL_PRIORITY_CLASS;

bool createSuspended(char* cmdLine, PROCESS_INFORMATION& info) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  return CreateProcessA(nullptr, cmdLine, nullptr, nullptr, TRUE, kCreationFlags, nullptr, nullptr, &startup,
                        &info) != FALSE;
}

bool failedStart(DWORD error, uint32_t* startError) {
  sysTrace("start failed: error %lu", error);
  if (startError != nullptr) *startError = error;
  return false;
}

void awaitExit(HANDLE process, bool wait, uint32_t& exitCode) {
  if (wait) WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process, &code)) {
    exitCode = code;
    sysTrace("ended with %lu (0x%lX)", code, code);
  } else {
    sysTrace("exit code not read: error %lu", GetLastError());
  }
}

// The rest of a start once the child is created suspended: the foreground, the resume, the wait.
void runCreated(const PROCESS_INFORMATION& info, bool wait, uint32_t& exitCode) {
  // Owners go in reverse order, so the process handle is closed before the thread handle.
  const KernelHandle thread(info.hThread);
  const KernelHandle process(info.hProcess);

  // Only a User32 that something else already loaded is asked; loading it here would tie this
  // windowless program to the window system for a favour the child can do without.
  using AllowForeground = BOOL(WINAPI*)(DWORD);
  const auto allow = sysEntry<AllowForeground>(GetModuleHandleA("User32.dll"), "AllowSetForegroundWindow");
  if (allow != nullptr) allow(info.dwProcessId);
  ResumeThread(thread.get());
  awaitExit(process.get(), wait, exitCode);
}

}  // namespace

ProcessCreate gProcessCreate = createSuspended;

bool sysExecAndWait(char* cmdLine, bool wait, uint32_t& exitCode, uint32_t* startError, int32_t promptOwner) {
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  sysTrace("start %s", cmdLine);
  unsigned attempt = 0;
  for (;;) {
    DWORD error = 0;
    {
      const ChildErrorMode childMode;
      if (gProcessCreate(cmdLine, info)) break;
      error = GetLastError();
    }
    // A program just unpacked may still be held by a scanner for a moment.
    if (error == ERROR_SHARING_VIOLATION && sysRetryBusy(error, nullptr, attempt)) continue;
    if (error == kElevationRequired) {
      const uint32_t elevationError = sysStartElevated(cmdLine, wait, exitCode, promptOwner);
      return elevationError == 0 || failedStart(elevationError, startError);
    }
    return failedStart(error, startError);
  }
  runCreated(info, wait, exitCode);
  return true;
}

bool sysExecWith(const char* cmdLine, const wchar_t* environment, const wchar_t* folder, uint32_t& exitCode,
                 uint32_t& startError) {
  sysTrace("start %s", cmdLine);
  // CreateProcessA turns its text into UTF-16 this same way; the wide call takes a UTF-16
  // environment and a folder named outside the code page.
  WideString line = sysWide(cmdLine);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                      kCreationFlags | (environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0),
                      const_cast<wchar_t*>(environment), folder, &startup, &info)) {
    startError = GetLastError();
    return failedStart(startError, nullptr);
  }
  runCreated(info, true, exitCode);
  return true;
}

void sysRunAndWait(const std::string& cmdLine, uint32_t& result, int32_t promptOwner) {
  // CreateProcessA may write into the line it is given.
  std::string line = cmdLine;
  uint32_t startError = 0;
  if (!sysExecAndWait(line.data(), true, result, &startError, promptOwner)) {
    result = sysNonZero(startError, ERROR_INVALID_FUNCTION);
  }
}
