#include "e2e.h"

#include <algorithm>
#include <cctype>

#include "host/win.h"

namespace {

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// This process's environment with the changes applied, as a block for CreateProcessA.
std::string environmentBlock(const EnvChanges& changes) {
  std::vector<std::string> entries;
  char* block = GetEnvironmentStringsA();
  for (const char* entry = block; *entry != '\0'; entry += std::char_traits<char>::length(entry) + 1) {
    entries.emplace_back(entry);
  }
  FreeEnvironmentStringsA(block);
  for (const auto& [name, value] : changes) {
    const std::string key = upper(name) + "=";
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& entry) { return upper(entry.substr(0, key.size())) == key; }),
                  entries.end());
    if (value) entries.push_back(name + "=" + *value);
  }
  std::string result;
  for (const std::string& entry : entries) result += entry + '\0';
  result += '\0';
  return result;
}

}  // namespace

uint32_t runProcess(const std::string& commandLine, const EnvChanges& env, const std::string& currentFolder) {
  std::string line = commandLine;
  std::string block = environmentBlock(env);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, block.data(),
                      currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info)) {
    ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
    return 0xDEADDEAD;
  }
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);
  if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    ADD_FAILURE() << commandLine << " did not end within two minutes";
    return 0xDEADDEAD;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

E2E::E2E()
    : drive(box.folder("drive")),
      host(box.folder("host")),
      control(box.folder("control")),
      program(box.folder("program")),
      cwd(box.folder("cwd")) {
  CopyFileA(joinPath(binFolder(), "kou3upd.exe").c_str(), kou3upd().c_str(), FALSE);
}

uint32_t E2E::run(const std::string& tail, const EnvChanges& env) {
  return runLine("\"" + kou3upd() + "\"" + (tail.empty() ? "" : " " + tail), env);
}

uint32_t E2E::runLine(const std::string& commandLine, const EnvChanges& env) {
  EnvChanges all = {{"U3_APP_DATA_PATH", drive}, {"U3_HOST_EXEC_PATH", host}, {"KOU3_DOUBLE_DIR", control}};
  all.insert(all.end(), env.begin(), env.end());
  return runProcess(commandLine, all, cwd);
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
