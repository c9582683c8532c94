// Started by the tests with chosen command lines: writes the command-line tail as the program
// cuts it from GetCommandLineA (tail.txt) and the one the run-time handed to WinMain
// (runtime.txt) into the folder named by %KOU3_PROBE_DIR%. With the tail /runtimeFailure it
// ends in a failure of the run-time as kou3upd.exe does, with 3; through abort() it would give 99.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "front/cmdline.h"
#include "host/win.h"

namespace {

void writeFile(const std::string& path, const char* text) {
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fputs(text, file);
    std::fclose(file);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR runTimeTail, int) {
  if (std::string(cmdTail(GetCommandLineA())) == "/runtimeFailure") {
    std::signal(SIGABRT, [](int) { std::_Exit(99); });
    std::string().resize(std::string().max_size() + 1);
  }
  char folder[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("KOU3_PROBE_DIR", folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return 1;
  writeFile(std::string(folder) + "\\tail.txt", cmdTail(GetCommandLineA()));
  writeFile(std::string(folder) + "\\runtime.txt", runTimeTail);
  return 0;
}
