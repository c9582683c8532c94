#include "host/process.h"

#include <string>

#include "host/ansi.h"
#include "host/files.h"
#include "host/trace.h"
#include "host/win.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace {

// ERROR_ELEVATION_REQUIRED, which MinGW's headers lack.
constexpr DWORD kElevationRequired = 740;

bool createSuspended(char* cmdLine, PROCESS_INFORMATION& info) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  return CreateProcessA(nullptr, cmdLine, nullptr, nullptr, TRUE, CREATE_SUSPENDED | NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &startup, &info) != FALSE;
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

// The shell takes the program apart from its parameters: the first word, or the quoted text the
// line starts with, and what follows the blanks after it.
void splitProgram(const char* cmdLine, WideString& program, WideString& parameters) {
  const std::string line = cmdLine;
  const bool quoted = !line.empty() && line[0] == '"';
  const std::size_t start = quoted ? 1 : 0;
  const std::size_t end = quoted ? line.find('"', start) : line.find_first_of(" \t");
  if (end == std::string::npos) {
    program = sysWide(line.c_str() + start);
    parameters.clear();
    return;
  }
  program = sysWide(line.substr(start, end - start).c_str());
  const std::size_t rest = line.find_first_not_of(" \t", quoted ? end + 1 : end);
  parameters = rest == std::string::npos ? WideString() : sysWide(line.c_str() + rest);
}

// shell32 is loaded from the system folder, and only for this: the program does not import it,
// and a start needs it only on a system that asks for elevation.
ModuleHandle loadShell() {
  WideString path(MAX_PATH, L'\0');
  const UINT length = GetSystemDirectoryW(path.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return ModuleHandle();
  path.resize(length);
  return ModuleHandle(LoadLibraryW((path + L"\\shell32.dll").c_str()));
}

bool startElevated(const char* cmdLine, bool wait, uint32_t& exitCode, uint32_t* startError) {
  const ModuleHandle shell = loadShell();
  using ShellExecuteExFn = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
  const auto execute = shell ? reinterpret_cast<ShellExecuteExFn>(
                                   reinterpret_cast<void (*)()>(GetProcAddress(shell.get(), "ShellExecuteExW")))
                             : nullptr;
  if (execute == nullptr) return failedStart(GetLastError(), startError);
  sysTrace("start needs elevation: through the shell");
  WideString program;
  WideString parameters;
  splitProgram(cmdLine, program, parameters);
  // Named, so that the elevated child starts in this process's current folder as any other does.
  wchar_t folder[MAX_PATH];
  const DWORD folderLength = GetCurrentDirectoryW(MAX_PATH, folder);
  SHELLEXECUTEINFOW info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = folderLength != 0 && folderLength < MAX_PATH ? folder : nullptr;
  info.nShow = SW_SHOWNORMAL;
  if (!execute(&info)) return failedStart(GetLastError(), startError);
  const KernelHandle process(info.hProcess);
  awaitExit(process.get(), wait, exitCode);
  return true;
}

}  // namespace

ProcessCreate gProcessCreate = createSuspended;

bool sysExecAndWait(char* cmdLine, bool wait, uint32_t& exitCode, uint32_t* startError) {
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  sysTrace("start %s", cmdLine);
  unsigned attempt = 0;
  while (!gProcessCreate(cmdLine, info)) {
    const DWORD error = GetLastError();
    // A program just unpacked may still be held by a scanner for a moment.
    if (error == ERROR_SHARING_VIOLATION && sysRetryBusy(error, nullptr, attempt)) continue;
    if (error == kElevationRequired) return startElevated(cmdLine, wait, exitCode, startError);
    return failedStart(error, startError);
  }
  // Owners go in reverse order, so the process handle is closed before the thread handle.
  const KernelHandle thread(info.hThread);
  const KernelHandle process(info.hProcess);

  // Only a User32 that something else already loaded is asked; loading it here would tie this
  // windowless program to the window system for a favour the child can do without.
  if (const HMODULE user32 = GetModuleHandleA("User32.dll")) {
    using AllowForeground = BOOL(WINAPI*)(DWORD);
    const auto allow = reinterpret_cast<AllowForeground>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "AllowSetForegroundWindow")));
    if (allow != nullptr) allow(info.dwProcessId);
  }
  ResumeThread(thread.get());
  awaitExit(process.get(), wait, exitCode);
  return true;
}

void sysRunAndWait(const std::string& cmdLine, uint32_t& result) {
  // CreateProcessA may write into the line it is given.
  std::string line = cmdLine;
  uint32_t startError = 0;
  if (!sysExecAndWait(line.data(), true, result, &startError)) {
    result = startError != 0 ? startError : ERROR_INVALID_FUNCTION;
  }
}
