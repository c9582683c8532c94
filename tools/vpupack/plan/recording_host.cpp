// The host and package operations that the jobs call, built for the plan: each records what the
// real one would do and answers as it would, from the given results and what the drive holds,
// and changes nothing.
#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "front/settings.h"
#include "host/log.h"
#include "host/path.h"
#include "host/process.h"
#include "host/trace.h"
#include "host/turn.h"
#include "host/workdir.h"
#include "pack.h"
#include "package/backup.h"
#include "package/newest.h"
#include "package/reader.h"
#include "package/stream.h"
#include "package/unpack.h"
#include "recorder.h"

Recorder gRecorder;

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kBadExeFormat = 193;
constexpr uint32_t kDirectory = 267;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return text;
}

// The drive's plain files now: as listed, less those gone and with those made since.
std::vector<std::string> driveFiles() {
  std::vector<std::string> files;
  for (const std::string& name : gRecorder.driveFiles) {
    const auto change = gRecorder.driveNow.find(lower(name));
    if (change == gRecorder.driveNow.end() || change->second) files.push_back(name);
  }
  for (const auto& change : gRecorder.driveNow) {
    const bool listed = std::any_of(files.begin(), files.end(),
                                    [&](const std::string& file) { return lower(file) == change.first; });
    if (change.second && !listed) files.push_back(change.first);
  }
  return files;
}

// The drive's file of that name (letter case aside) as it is named there.
std::string inDrive(const std::string& name) {
  std::string named = name;
  for (const std::string& file : driveFiles()) {
    if (pkgSameName(file, name)) named = file;
  }
  return (fs::path(gRecorder.drive) / named).string();
}

bool driveHas(const std::string& name) {
  const std::vector<std::string> files = driveFiles();
  return std::any_of(files.begin(), files.end(), [&](const std::string& file) { return pkgSameName(file, name); });
}

// What starting the program at path would meet. error receives the start's error for kMissing.
enum class Program { kRuns, kMissing, kNoProgram, kUnseen };
Program programAt(const std::string& path, uint32_t& error) {
  const auto written = gRecorder.written.find(lower(path));
  if (written != gRecorder.written.end()) return written->second ? Program::kRuns : Program::kNoProgram;
  if (!gRecorder.hostVisible) return Program::kUnseen;
  FileStream file;
  if (!file.open(path.c_str())) {
    error = file.getLastError();
    return Program::kMissing;
  }
  Bytes image(static_cast<std::size_t>(std::max(file.getSize(), 0)));
  int32_t got = 0;
  file.read(image.data(), static_cast<uint32_t>(image.size()), &got);
  image.resize(static_cast<std::size_t>(std::max(got, 0)));
  return vpuIsWindowsProgram(image) ? Program::kRuns : Program::kNoProgram;
}

// The program a command line starts: up to its closing quote, or its first blank.
std::string programOf(const std::string& cmdLine) {
  if (!cmdLine.empty() && cmdLine[0] == '"') return cmdLine.substr(1, cmdLine.find('"', 1) - 1);
  return cmdLine.substr(0, cmdLine.find(' '));
}

// printf's text for format and args, however long.
std::string formatted(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

}  // namespace

std::string planCodeText(uint32_t code) {
  char text[32];
  std::snprintf(text, sizeof text, "%u (0x%X)", static_cast<unsigned>(code), static_cast<unsigned>(code));
  return text;
}

void planStep(const char* kind, const std::string& text) {
  PlanStep step;
  step.kind = kind;
  step.text = text;
  gRecorder.steps.push_back(step);
}

void planListDrive(const std::string& folder) {
  gRecorder.drive = folder;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
    std::error_code kindError;
    if (entry->is_regular_file(kindError)) gRecorder.driveFiles.push_back(entry->path().filename().string());
  }
  if (error) {
    planStep("note", "the drive folder " + folder + " cannot be listed (" + error.message() + "): no package is found");
  }
}

void logPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  gRecorder.logPending += formatted(format, args);
  va_end(args);
  for (std::size_t end; (end = gRecorder.logPending.find('\n')) != std::string::npos;) {
    const std::string line = gRecorder.logPending.substr(0, end);
    gRecorder.logPending.erase(0, end + 1);
    gRecorder.log.push_back(line);
    planStep("log", line);
  }
}

// What the run's trace would say, among the steps; nothing is written anywhere.
void sysTrace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  planStep("trace", formatted(format, args));
  va_end(args);
}

void sysRunAndWait(const std::string& cmdLine, uint32_t& result, int32_t) {
  PlanStep step;
  step.kind = "start";
  step.command = cmdLine;
  const std::string program = programOf(cmdLine);
  uint32_t error = kFileNotFound;
  const Program found = programAt(program, error);
  if (found == Program::kMissing) {
    result = error;
    step.text = program + " is not there: the start fails with " + planCodeText(result);
  } else if (found == Program::kNoProgram) {
    result = kBadExeFormat;
    step.text = program + " holds no Windows program: the start fails with " + planCodeText(result);
  } else {
    const std::vector<uint32_t>& given = gRecorder.results;
    const std::size_t at = gRecorder.runs++;
    result = given.empty() ? 0 : given[std::min(at, given.size() - 1)];
    step.runs = true;
    step.text = "ends with " + planCodeText(result) +
                (given.empty() ? ", the default" : at < given.size() ? ", given" : ", the last given");
    if (found == Program::kUnseen) {
      step.text += gSettings.hostExecPath[0] == '\0'
                       ? "; with no host folder it is looked for by its bare name, which the plan cannot follow"
                       : "; the plan cannot look into the host folder from here: without " + program +
                             " there, the start fails with 2";
    }
    gRecorder.starts.push_back(cmdLine);
  }
  step.result = result;
  gRecorder.steps.push_back(step);
}

int32_t u3UnVpuToHostExe(const char* packageName, const char* exeName) {
  NewestVpu newest(packageName);
  for (const std::string& name : driveFiles()) {
    if (pkgIsFileOf(name, packageName)) newest.offer(name.c_str());
  }
  if (newest.version() < 0) {
    planStep("package",
             std::string("no ") + packageName + "-<hex version>.vpu in the drive folder: the unpack gives -1");
    return -1;
  }
  char version[16];
  std::snprintf(version, sizeof version, "0x%X", static_cast<unsigned>(newest.version()));
  const std::string taken = "takes " + newest.fileName() + " (version " + version + ")";
  std::unique_ptr<uint8_t[]> image;
  uint32_t length = 0;
  PkgReadNote note;
  if (!pkgReadFile(inDrive(newest.fileName()).c_str(), image, length, &note)) {
    planStep("package", taken + ", which does not read (" + note.refused + "): the unpack gives -1");
    return -1;
  }
  planStep("package", taken + ", image size " + std::to_string(note.imageSize) + " bytes");
  std::string target;
  filJoinPath(target, gSettings.hostExecPath, exeName);
  const bool program = vpuIsWindowsProgram(Bytes(image.get(), image.get() + length));
  gRecorder.written[lower(target)] = program;
  planStep("write", "writes " + target +
                        (program ? "" : ", which holds no Windows program (no MZ/PE header): its start fails "
                                        "with 193"));
  return 0;
}

uint32_t u3BackupVpuFiles() {
  for (const FixedPackage& fixed : kFixedPackages) {
    if (driveHas(fixed.package)) {
      gRecorder.driveNow[lower(fixed.backup)] = true;
      planStep("backup", "copies " + inDrive(fixed.package) + " to " + inDrive(fixed.backup));
    } else {
      planStep("backup", std::string("no ") + fixed.package + ": nothing to back up");
    }
  }
  return 0;
}

uint32_t u3RestoreVpuFiles() {
  for (const FixedPackage& fixed : kFixedPackages) {
    if (!driveHas(fixed.backup)) continue;
    planStep("restore", "puts " + inDrive(fixed.backup) + " back over " + inDrive(fixed.package));
    gRecorder.driveNow[lower(fixed.backup)] = false;
    gRecorder.driveNow[lower(fixed.package)] = true;
  }
  return 0;
}

uint32_t filCreateFreshTempPath(std::string& result, const char* name, FolderHold*) {
  result.clear();
  std::string base;
  bool missing = false;
  bool known = true;
  if (const uint32_t error = planWorkFolderBase(base, missing, known)) {
    planStep("note", "the temporary folder does not expand to a usable path: no work folder, " + planCodeText(error));
    return error;
  }
  if (missing) planStep("write", "makes " + base + " if it is not there: the temporary folder is missing");
  std::string path;
  filJoinPath(path, base.c_str(), name);
  bool seen = true;
  if (const uint32_t refused = planWorkFolderRefusal(path, seen)) {
    planStep("note", path + (refused == kDirectory ? " is a file" : " is a link") +
                         ", not a folder of its own: no work folder, " + planCodeText(refused));
    return refused;
  }
  planStep("write", "makes the work folder " + path + " anew, removing what is there" +
                        (seen ? "" : "; the plan cannot look at it from here: a file there gives 267, a link 1920"));
  result = path;
  return 0;
}

uint32_t filCopyPath(const char*, const char* destination) {
  std::string names;
  std::size_t count = 0;
  for (const std::string& name : driveFiles()) {
    if (filIsTemporaryName(name.c_str())) continue;
    names += (count++ == 0 ? ": " : ", ") + name;
  }
  planStep("copy", "copies the drive folder's " + std::to_string(count) + " files into " + destination + names);
  return 0;
}

uint32_t filDeleteHeldFolder(const char* folder, FolderHold&) {
  planStep("delete", std::string("empties and removes ") + folder);
  return 0;
}

// No other run holds the turn in a plan, and this one holds nothing.
uint32_t Turn::take(uint32_t) { return 0; }
void Turn::release() {
  mark_.reset();
  mutex_.reset();
  space_.reset();
}
void NamespaceTraits::close(HANDLE) {}
