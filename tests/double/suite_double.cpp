// Stands in for the suite's installer, launcher and application in the tests. It runs under any
// name from any folder: it appends "<its file name>|<its exact command line>" to the journal in
// %KOU3_DOUBLE_DIR%, then takes the first line of "<its file name>.script" there (removing it),
// carries out the actions named after the exit code, and exits with that code (0 without a line).
//
// Script line: CODE [ACTION ...], CODE in decimal or 0x hex. Actions:
//   list-storage    journal "<name>|storage: a b c", the entries of the folder after /sfxstorage "..."
//                   in UTF-8, each file followed by "(not as on the drive)" unless it holds the
//                   bytes of the file of its name in %U3_APP_DATA_PATH%
//   touch-packages  rewrite %U3_APP_DATA_PATH%\prod-ko_u3.vpu and delete silverfern.vpu there
//   sleep:MS        sleep MS milliseconds before exiting
//   hold:NAME       wait (at most two minutes) until the named event NAME is set
//   spawn:MS        start a copy of itself that sleeps MS milliseconds, and do not wait for it;
//                   the copy's process id goes to "<name>.spawned" there
//   crash           end by an access violation, its code the exit code, with no debugger started
//   move-self:NAME  rename its own file to NAME in its folder, so that only a fresh copy written
//                   there can be started again under its old name
//   run: LINE       start the rest of the line as a command line, as an installer starts a
//                   program, wait for it and exit with its exit code (CODE if it cannot start)
//   environment     journal "<name>|U3_APP_DATA_PATH=... U3_HOST_EXEC_PATH=... cwd=...", what a
//                   start gave it
//   move-storage    journal "<name>|move storage: error N" after trying to rename the folder
//                   after /sfxstorage "..." (0 when it could)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string environment(const char* name) {
  char value[32768];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return (length == 0 || length >= sizeof value) ? std::string() : std::string(value, length);
}

std::string readAll(FILE* file) {
  std::string content;
  if (file != nullptr) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) != 0) content.append(buffer, got);
    std::fclose(file);
  }
  return content;
}

std::string utf8(const std::wstring& wide) {
  std::string text(wide.size() * 3, '\0');
  text.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                                      text.data(), static_cast<int>(text.size()), nullptr, nullptr)));
  return text;
}

void writeFile(const std::string& path, const std::string& content, const char* mode) {
  if (FILE* file = std::fopen(path.c_str(), mode)) {
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
  }
}

std::string ownName() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string full(path, length);
  return full.substr(full.find_last_of('\\') + 1);
}

// Takes the first line of the script file away and returns it.
std::string nextScriptLine(const std::string& scriptPath) {
  const std::string script = readAll(std::fopen(scriptPath.c_str(), "rb"));
  const size_t end = script.find('\n');
  const std::string line = script.substr(0, end);
  writeFile(scriptPath, end == std::string::npos ? std::string() : script.substr(end + 1), "wb");
  return line;
}

std::string listStorage(const std::wstring& commandLine) {
  const std::wstring marker = L"/sfxstorage \"";
  const size_t start = commandLine.find(marker);
  if (start == std::wstring::npos) return "storage: (no /sfxstorage)";
  const size_t from = start + marker.size();
  const std::wstring folder = commandLine.substr(from, commandLine.find(L'"', from) - from);
  const std::wstring drive = _wgetenv(L"U3_APP_DATA_PATH") != nullptr ? _wgetenv(L"U3_APP_DATA_PATH") : L"";
  std::vector<std::string> names;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const bool same = readAll(_wfopen((folder + L"\\" + name).c_str(), L"rb")) ==
                        readAll(_wfopen((drive + L"\\" + name).c_str(), L"rb"));
      const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      names.push_back(utf8(name) + (isFolder ? "\\" : same ? "" : "(not as on the drive)"));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  std::sort(names.begin(), names.end());
  std::string listing = "storage:";
  for (const std::string& name : names) listing += " " + name;
  return listing;
}

void touchPackages() {
  const std::string drive = environment("U3_APP_DATA_PATH");
  writeFile(drive + "\\prod-ko_u3.vpu", "rewritten by the installer", "wb");
  DeleteFileA((drive + "\\silverfern.vpu").c_str());
}

void moveSelf(const std::string& newName) {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  const std::string path(self, length);
  MoveFileA(path.c_str(), (path.substr(0, path.find_last_of('\\') + 1) + newName).c_str());
}

// The sleeper's process id goes to "<name>.spawned" in the control folder, so that a test can
// see it still running after its parent has ended, and end it.
void spawnSleeper(const std::string& milliseconds, const std::string& pidPath) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string commandLine = std::string("\"") + self + "\" /sleeper " + milliseconds;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // The sleeper must not journal: it is told apart by its own environment.
  SetEnvironmentVariableA("KOU3_DOUBLE_SLEEPER", "1");
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    writeFile(pidPath, std::to_string(process.dwProcessId), "wb");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  SetEnvironmentVariableA("KOU3_DOUBLE_SLEEPER", nullptr);
}

// The exit code of commandLine, once it has ended; fallback when it cannot be started.
UINT runAndWait(std::string commandLine, UINT fallback) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return fallback;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = fallback;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

// Ends the process with the exception code as its exit code, as Windows does for an unhandled
// exception once its error reporting is off; Wine would otherwise start its debugger first.
LONG WINAPI endWithoutDebugger(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::string commandLine = GetCommandLineA();
  if (environment("KOU3_DOUBLE_SLEEPER") == "1") {
    const size_t at = commandLine.rfind(' ');
    Sleep(static_cast<DWORD>(std::strtoul(commandLine.c_str() + at + 1, nullptr, 10)));
    return 0;
  }
  const std::string control = environment("KOU3_DOUBLE_DIR");
  if (control.empty()) return 0;
  const std::string name = ownName();
  const std::string journal = control + "\\journal.txt";
  writeFile(journal, name + "|" + commandLine + "\n", "ab");

  std::istringstream line(nextScriptLine(control + "\\" + name + ".script"));
  std::string code;
  line >> code;
  const auto exitCode = static_cast<UINT>(std::strtoul(code.c_str(), nullptr, 0));
  std::string action;
  while (line >> action) {
    if (action == "list-storage") {
      writeFile(journal, name + "|" + listStorage(GetCommandLineW()) + "\n", "ab");
    } else if (action == "touch-packages") {
      touchPackages();
    } else if (action.rfind("sleep:", 0) == 0) {
      Sleep(static_cast<DWORD>(std::strtoul(action.c_str() + 6, nullptr, 10)));
    } else if (action.rfind("hold:", 0) == 0) {
      HANDLE release = CreateEventA(nullptr, TRUE, FALSE, action.c_str() + 5);
      if (release != nullptr) {
        WaitForSingleObject(release, 120000);
        CloseHandle(release);
      }
    } else if (action.rfind("spawn:", 0) == 0) {
      spawnSleeper(action.substr(6), control + "\\" + name + ".spawned");
    } else if (action.rfind("move-self:", 0) == 0) {
      moveSelf(action.substr(10));
    } else if (action == "run:") {
      std::string started;
      std::getline(line >> std::ws, started);
      ExitProcess(runAndWait(started, exitCode));
    } else if (action == "environment") {
      char folder[MAX_PATH];
      const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
      writeFile(journal, name + "|U3_APP_DATA_PATH=" + environment("U3_APP_DATA_PATH") + " U3_HOST_EXEC_PATH=" +
                             environment("U3_HOST_EXEC_PATH") + " cwd=" + std::string(folder, length) + "\n", "ab");
    } else if (action == "move-storage") {
      const std::wstring wideLine = GetCommandLineW();
      const size_t from = wideLine.find(L"/sfxstorage \"") + 13;
      const std::wstring folder = wideLine.substr(from, wideLine.find(L'"', from) - from);
      const DWORD error = MoveFileW(folder.c_str(), (folder + L"-moved").c_str()) ? 0 : GetLastError();
      writeFile(journal, name + "|move storage: error " + std::to_string(error) + "\n", "ab");
    } else if (action == "crash") {
      SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
      SetUnhandledExceptionFilter(endWithoutDebugger);
      RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    }
  }
  ExitProcess(exitCode);
}
