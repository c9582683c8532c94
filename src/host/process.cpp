#include "host/process.h"

#include "host/files.h"
#include "host/win.h"

bool sysExecAndWait(char* cmdLine, bool wait, uint32_t& exitCode, uint32_t* startError) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  unsigned attempt = 0;
  while (!CreateProcessA(nullptr, cmdLine, nullptr, nullptr, TRUE, CREATE_SUSPENDED | NORMAL_PRIORITY_CLASS,
                         nullptr, nullptr, &startup, &info)) {
    const DWORD error = GetLastError();
    // A program just unpacked may still be held by a scanner for a moment.
    if (error == ERROR_SHARING_VIOLATION && sysRetryBusy(error, nullptr, attempt)) continue;
    if (startError != nullptr) *startError = error;
    return false;
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
  if (wait) WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process.get(), &code)) exitCode = code;
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
