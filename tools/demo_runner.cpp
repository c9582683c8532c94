// tools/demo's Windows side: starts the command line in %KOU3_DEMO_LINE% exactly as it is, waits
// for it and prints the line and its exit code. The code is read here, because a Linux parent
// of wine sees only its low 8 bits.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "host/win.h"

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  std::string line(32768, '\0');
  const DWORD length = GetEnvironmentVariableA("KOU3_DEMO_LINE", line.data(), static_cast<DWORD>(line.size()));
  if (length == 0 || length >= line.size()) {
    std::fputs("demo_runner: KOU3_DEMO_LINE is not set\n", stderr);
    return 2;
  }
  line.resize(length);
  std::printf("command line: %s\n", line.c_str());
  SetEnvironmentVariableA("KOU3_DEMO_LINE", nullptr);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    const DWORD error = GetLastError();
    std::printf("not started: error %lu\n", error);
    return 1;
  }
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  std::printf("exit code: 0x%08lX (%lu)\n", code, code);
  return 0;
}
