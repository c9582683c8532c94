// Runs the real kou3upd.exe as a child, with the U3 folders pointing at fresh folders and the
// test double standing in for the suite's programs.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/win.h"
#include "sandbox.h"

// A variable's value as the child gets it, in UTF-16: text of the ANSI code page as the tests
// build their paths, or wide text for names with letters outside it.
class EnvValue {
 public:
  EnvValue(const char* ansi) : wide_(widen(ansi)) {}
  EnvValue(const std::string& ansi) : wide_(widen(ansi)) {}
  EnvValue(std::wstring wide) : wide_(std::move(wide)) {}
  const std::wstring& wide() const { return wide_; }

 private:
  std::wstring wide_;
};

// Changes to the child's environment: a variable set to a value, or removed (nullopt).
using EnvChanges = std::vector<std::pair<std::string, std::optional<EnvValue>>>;

// The most memory a child held, in bytes: its peak working set and its peak commit charge, each
// 0 when the system does not tell. Wine counts no memory that was reserved but never touched.
struct MemoryPeak {
  uint64_t workingSet = 0;
  uint64_t commit = 0;
};

// Starts commandLine with the given environment and current folder, waits (failing the test
// after two minutes) and returns the full 32-bit exit code; with peak, also the child's memory.
uint32_t runProcess(const std::string& commandLine, const EnvChanges& env, const std::string& currentFolder,
                    MemoryPeak* peak = nullptr);
// The same for a command line with letters outside the ANSI code page.
uint32_t runProcess(const std::wstring& commandLine, const EnvChanges& env, const std::string& currentFolder,
                    MemoryPeak* peak = nullptr);

// Starts one process per command line, each with its own environment changes, all suspended,
// then lets them all go at once, waits for every one and returns their exit codes in order.
std::vector<uint32_t> runProcessesAtOnce(const std::vector<std::string>& commandLines,
                                         const std::vector<EnvChanges>& envs, const std::string& currentFolder);

// A process started without waiting for it.
struct Started {
  KernelHandle process;
  DWORD id = 0;
};

// The exit code of a process started without waiting, once it has ended; a test failure, and
// 0xDEADDEAD, when it has not ended within two minutes.
uint32_t endedWith(HANDLE process);

class E2E : public ::testing::Test {
 protected:
  E2E();

  // Runs "<program folder>\kou3upd.exe" followed by a blank and tail (the tail alone is what the
  // program sees as its command-line text). Returns the full exit code.
  uint32_t run(const std::string& tail, const EnvChanges& env = {}, MemoryPeak* peak = nullptr);
  // Starts kou3upd.exe with tail and returns at once; the process is not waited for.
  Started start(const std::string& tail, const EnvChanges& env = {});
  // Runs exactly commandLine (its first word must name the program copy, kou3upd()).
  uint32_t runLine(const std::string& commandLine, const EnvChanges& env = {}, MemoryPeak* peak = nullptr);
  // The same for a program copy in a folder named outside the ANSI code page.
  uint32_t runLine(const std::wstring& commandLine, const EnvChanges& env = {});
  // Runs kou3upd.exe with tail once per entry of envs, all at the same time; the exit codes in order.
  std::vector<uint32_t> runAtOnce(const std::string& tail, const std::vector<EnvChanges>& envs);

  std::string kou3upd() const { return joinPath(program, "kou3upd.exe"); }
  std::string hostShort() const { return shortPath(host); }  // the host folder as the jobs see it
  std::string driveShort() const { return shortPath(drive); }

  // Packs the test double as drive\packageFile (for example "setup_ko_u3-1.vpu").
  void packDouble(const std::string& packageFile);
  // Puts the test double into the host folder as name (for example "KernoU3.exe").
  void placeDouble(const std::string& name);
  // The exit codes (and actions) the double answers with when started as program, in order.
  void script(const std::string& programName, const std::vector<std::string>& lines);
  // "<program file name>|<command line>" for every start of the double, in order.
  std::vector<std::string> journal() const;
  // The command lines alone.
  std::vector<std::string> commandLines() const;
  // The program's own log, byte for byte.
  std::string log() const { return readText(joinPath(program, "kou3_upd.log")); }

  Sandbox box;
  std::string drive;    // U3_APP_DATA_PATH
  std::string host;     // U3_HOST_EXEC_PATH
  std::string control;  // the double's journal and scripts
  std::string program;  // a copy of kou3upd.exe, so that its log is this test's alone
  std::string cwd;      // the program's current folder

 private:
  std::string lineWith(const std::string& tail) const;
  EnvChanges withFolders(const EnvChanges& env) const;
};

// The test double as it was built.
const Bytes& doubleImage();
