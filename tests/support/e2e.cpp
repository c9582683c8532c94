#include "e2e.h"

#include <algorithm>
#include <cwctype>

#include "host/win.h"
// After windows.h, which it needs.
#include <psapi.h>

namespace {

std::wstring upper(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return text;
}

// This process's environment with the changes applied, as a Unicode block for CreateProcessW:
// values outside the ANSI code page reach the child as they are.
std::wstring environmentBlock(const EnvChanges& changes) {
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry != L'\0'; entry += std::char_traits<wchar_t>::length(entry) + 1) {
    entries.emplace_back(entry);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : changes) {
    const std::wstring key = upper(widen(name)) + L"=";
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::wstring& entry) { return upper(entry.substr(0, key.size())) == key; }),
                  entries.end());
    if (value) entries.push_back(widen(name) + L"=" + value->wide());
  }
  std::wstring result;
  for (const std::wstring& entry : entries) result += entry + L'\0';
  result += L'\0';
  return result;
}

}  // namespace

namespace {

constexpr DWORD kTimeLimitMs = 120000;

// Starts commandLine with the changed environment; false (and a test failure) when it cannot.
bool startProcess(const std::wstring& commandLine, const EnvChanges& env, const std::string& currentFolder,
                  DWORD flags, PROCESS_INFORMATION& info) {
  std::wstring line = commandLine;
  std::wstring block = environmentBlock(env);
  const std::wstring folder = widen(currentFolder);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  // Wine fails a start with 1359 (ERROR_INTERNAL_ERROR) when the new Wine process ends before it
  // has told the server it started, with no code of its own: seen once on a loaded machine. The
  // program never ran, so the start is made again.
  for (int attempt = 0;; ++attempt) {
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags | CREATE_UNICODE_ENVIRONMENT,
                       block.data(), folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_INTERNAL_ERROR && attempt < 2) {
      Sleep(500);
      line = commandLine;
      continue;
    }
    ADD_FAILURE() << "cannot start " << ::testing::PrintToString(commandLine) << ": error " << error;
    return false;
  }
}

void notePeak(HANDLE process, MemoryPeak& peak) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return;
  peak.workingSet = std::max<uint64_t>(peak.workingSet, counters.PeakWorkingSetSize);
  peak.commit = std::max<uint64_t>(peak.commit, counters.PeakPagefileUsage);
}

// Waits until deadline (a GetTickCount64 value) for process to end. With peak, the memory is read
// while the process runs as well as after: Wine forgets it once the process has ended.
bool waitForEnd(HANDLE process, ULONGLONG deadline, MemoryPeak* peak) {
  for (;;) {
    if (peak != nullptr) notePeak(process, *peak);
    const ULONGLONG now = GetTickCount64();
    const DWORD slice = peak != nullptr ? 1 : static_cast<DWORD>(deadline > now ? deadline - now : 0);
    const DWORD waited = WaitForSingleObject(process, slice);
    if (waited == WAIT_OBJECT_0) {
      if (peak != nullptr) notePeak(process, *peak);
      return true;
    }
    if (waited != WAIT_TIMEOUT || GetTickCount64() >= deadline) return false;
  }
}

// The exit code of a started process, once it has ended; a test failure if it does not in time.
uint32_t exitCodeOf(const std::string& commandLine, HANDLE process, ULONGLONG deadline, MemoryPeak* peak) {
  if (!waitForEnd(process, deadline, peak)) {
    TerminateProcess(process, 1);
    ADD_FAILURE() << commandLine << " did not end within two minutes";
    return 0xDEADDEAD;
  }
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return code;
}

}  // namespace

uint32_t runProcess(const std::string& commandLine, const EnvChanges& env, const std::string& currentFolder,
                    MemoryPeak* peak) {
  return runProcess(widen(commandLine), env, currentFolder, peak);
}

uint32_t runProcess(const std::wstring& commandLine, const EnvChanges& env, const std::string& currentFolder,
                    MemoryPeak* peak) {
  if (peak != nullptr) *peak = MemoryPeak();
  PROCESS_INFORMATION info{};
  if (!startProcess(commandLine, env, currentFolder, 0, info)) return 0xDEADDEAD;
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);
  return exitCodeOf(::testing::PrintToString(commandLine), process.get(), GetTickCount64() + kTimeLimitMs, peak);
}

std::vector<uint32_t> runProcessesAtOnce(const std::vector<std::string>& commandLines,
                                         const std::vector<EnvChanges>& envs, const std::string& currentFolder) {
  std::vector<KernelHandle> processes;
  std::vector<KernelHandle> threads;
  for (size_t i = 0; i < commandLines.size(); ++i) {
    PROCESS_INFORMATION info{};
    const bool started = startProcess(widen(commandLines[i]), envs[i], currentFolder, CREATE_SUSPENDED, info);
    processes.emplace_back(started ? info.hProcess : nullptr);
    threads.emplace_back(started ? info.hThread : nullptr);
  }
  for (const KernelHandle& thread : threads) {
    if (thread) ResumeThread(thread.get());
  }
  const ULONGLONG deadline = GetTickCount64() + kTimeLimitMs;
  std::vector<uint32_t> codes;
  for (size_t i = 0; i < commandLines.size(); ++i) {
    codes.push_back(processes[i] ? exitCodeOf(commandLines[i], processes[i].get(), deadline, nullptr) : 0xDEADDEAD);
  }
  return codes;
}

uint32_t endedWith(HANDLE process) {
  return exitCodeOf("a started process", process, GetTickCount64() + kTimeLimitMs, nullptr);
}

E2E::E2E()
    : drive(box.folder("drive")),
      host(box.folder("host")),
      control(box.folder("control")),
      program(box.folder("program")),
      cwd(box.folder("cwd")) {
  CopyFileA(joinPath(binFolder(), "kou3upd.exe").c_str(), kou3upd().c_str(), FALSE);
}

uint32_t E2E::run(const std::string& tail, const EnvChanges& env, MemoryPeak* peak) {
  return runLine(lineWith(tail), env, peak);
}

Started E2E::start(const std::string& tail, const EnvChanges& env) {
  Started started;
  PROCESS_INFORMATION info{};
  if (startProcess(widen(lineWith(tail)), withFolders(env), cwd, 0, info)) {
    started.process.reset(info.hProcess);
    started.id = info.dwProcessId;
    CloseHandle(info.hThread);
  }
  return started;
}

uint32_t E2E::runLine(const std::string& commandLine, const EnvChanges& env, MemoryPeak* peak) {
  return runProcess(commandLine, withFolders(env), cwd, peak);
}

uint32_t E2E::runLine(const std::wstring& commandLine, const EnvChanges& env) {
  return runProcess(commandLine, withFolders(env), cwd);
}

std::vector<uint32_t> E2E::runAtOnce(const std::string& tail, const std::vector<EnvChanges>& envs) {
  std::vector<EnvChanges> all;
  for (const EnvChanges& env : envs) all.push_back(withFolders(env));
  return runProcessesAtOnce(std::vector<std::string>(envs.size(), lineWith(tail)), all, cwd);
}

EnvChanges E2E::withFolders(const EnvChanges& env) const {
  EnvChanges all = {{"U3_APP_DATA_PATH", drive}, {"U3_HOST_EXEC_PATH", host}, {"KOU3_DOUBLE_DIR", control}};
  all.insert(all.end(), env.begin(), env.end());
  return all;
}

std::string E2E::lineWith(const std::string& tail) const {
  return "\"" + kou3upd() + "\"" + (tail.empty() ? "" : " " + tail);
}

void E2E::packDouble(const std::string& packageFile) { writeBytes(joinPath(drive, packageFile), vpuPack(doubleImage())); }

void E2E::placeDouble(const std::string& name) { writeBytes(joinPath(host, name), doubleImage()); }

void E2E::script(const std::string& programName, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  writeText(joinPath(control, programName + ".script"), text);
}

std::vector<std::string> E2E::journal() const { return splitLines(readText(joinPath(control, "journal.txt"))); }

std::vector<std::string> E2E::commandLines() const {
  std::vector<std::string> lines;
  for (const std::string& entry : journal()) {
    const std::string line = entry.substr(entry.find('|') + 1);
    if (line.rfind("storage:", 0) != 0) lines.push_back(line);
  }
  return lines;
}

const Bytes& doubleImage() {
  static const Bytes image = readBytes(joinPath(binFolder(), "suite_double.exe"));
  return image;
}
