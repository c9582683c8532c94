// The log goes beside the running program, so every test runs its lines in a copy of this test
// program in a folder of its own: started with KOU3_LOG_SCENARIO set, the copy writes that
// scenario's lines and exits before any test runs. Tests running side by side then never share
// a log, and the build folder gets none.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e.h"
#include "host/log.h"
#include "host/win.h"
#include "sandbox.h"

namespace {

constexpr uint32_t kScenarioDone = 0x4C6F6700;
constexpr uint32_t kNoSuchScenario = 0x4C6F67FF;

struct LogCall {
  const char* format;
  uint32_t number;   // for "%d", passed as the signed value it stands for
  const char* text;  // for "%s"; nullptr passes the number
  const char* written;
};

struct Scenario {
  std::string name;
  std::vector<LogCall> calls;
};

const Scenario kScenarios[] = {
    {"job-lines",
     {
         {"*** HOST CONFIGURE ***\n", 0, nullptr, "*** HOST CONFIGURE ***\r\n"},
         {"u3UnVpuToHostExe returing %d\n", 0, nullptr, "u3UnVpuToHostExe returing 0\r\n"},
         {"Executing '%s'\n", 0, "C:\\DOCUME~1\\HOST\\KoU3Launcher.exe /configure",
          "Executing 'C:\\DOCUME~1\\HOST\\KoU3Launcher.exe /configure'\r\n"},
         {"sysExecAndWait returing %d\n", 145, nullptr, "sysExecAndWait returing 145\r\n"},
         {"*** APP START (%d) ***\n", 1, nullptr, "*** APP START (1) ***\r\n"},
         {"u3UnVpuToHostExe returing %d\n", 0xFFFFFFFF, nullptr, "u3UnVpuToHostExe returing -1\r\n"},
         {"filCreateTempPath returing %s\n", 0, "C:\\users\\me\\Temp\\kou3_ins",
          "filCreateTempPath returing C:\\users\\me\\Temp\\kou3_ins\r\n"},
         {"filCopyPath returing %d\n", 0, nullptr, "filCopyPath returing 0\r\n"},
         {"Executing '%s'\n", 0, "C:\\HOST\\setup.exe /appstart /sfxstorage \"C:\\users\\me\\Temp\\kou3_ins\"",
          "Executing 'C:\\HOST\\setup.exe /appstart /sfxstorage \"C:\\users\\me\\Temp\\kou3_ins\"'\r\n"},
         {"sysExecAndWait returing %d\n", 0x20000012, nullptr, "sysExecAndWait returing 536870930\r\n"},
         {"sysExecAndWait returing %d\n", 0x80000000, nullptr, "sysExecAndWait returing -2147483648\r\n"},
         {"sysExecAndWait returing %d\n", 0x7FFFFFFF, nullptr, "sysExecAndWait returing 2147483647\r\n"},
         {"filCreateTempPath returing %s\n", 0, "", "filCreateTempPath returing \r\n"},
     }},
    {"one-line", {{"*** HOST CONFIGURE ***\n", 0, nullptr, "*** HOST CONFIGURE ***\r\n"}}},
};

std::string expectedLog(const std::string& scenario) {
  std::string text;
  for (const Scenario& s : kScenarios) {
    if (s.name != scenario) continue;
    for (const LogCall& call : s.calls) text += call.written;
  }
  return text;
}

// The copy of this program started by a test ends here.
[[maybe_unused]] const bool kRanAsLogger = [] {
  char name[64];
  const DWORD length = GetEnvironmentVariableA("KOU3_LOG_SCENARIO", name, sizeof name);
  if (length == 0 || length >= sizeof name) return false;
  for (const Scenario& s : kScenarios) {
    if (s.name != name) continue;
    for (const LogCall& call : s.calls) {
      if (call.text != nullptr) {
        logPrintf(call.format, call.text);
      } else {
        logPrintf(call.format, static_cast<int32_t>(call.number));
      }
    }
    ExitProcess(kScenarioDone);
  }
  ExitProcess(kNoSuchScenario);
}();

std::string ownPath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length);
}

using Names = std::vector<std::string>;

class LogFile : public ::testing::Test {
 protected:
  // Runs the scenario in a copy of this program named exeName in folder, from another current
  // folder; returns the copy's exit code.
  uint32_t runScenario(const std::string& folder, const char* scenario, const std::string& exeName = "logger.exe") {
    const std::string copy = joinPath(folder, exeName);
    if (!fileExists(copy)) CopyFileA(ownPath().c_str(), copy.c_str(), FALSE);
    return runProcess("\"" + copy + "\"", {{"KOU3_LOG_SCENARIO", scenario}}, cwd);
  }

  Sandbox box;
  std::string program = box.folder("program");
  std::string cwd = box.folder("cwd");
  std::string log = joinPath(program, "kou3_upd.log");
};

TEST_F(LogFile, WritesEachLineExactlyBesideTheProgram) {
  EXPECT_EQ(runScenario(program, "job-lines"), kScenarioDone);
  EXPECT_EQ(readText(log), expectedLog("job-lines"));
  EXPECT_EQ(folderListing(cwd), Names{});
}

TEST_F(LogFile, AppendsToWhatEarlierRunsLeft) {
  writeText(log, "an earlier run\r\nwithout an end");
  EXPECT_EQ(runScenario(program, "one-line"), kScenarioDone);
  EXPECT_EQ(runScenario(program, "job-lines"), kScenarioDone);
  EXPECT_EQ(runScenario(program, "one-line"), kScenarioDone);
  EXPECT_EQ(readText(log), "an earlier run\r\nwithout an end" + expectedLog("one-line") + expectedLog("job-lines") +
                               expectedLog("one-line"));
}

// A read-only log or folder would do as well on Windows, but Wine run as root writes through both.
TEST_F(LogFile, LogThatCannotBeOpenedLosesTheLinesQuietly) {
  {
    SCOPED_TRACE("a folder by the log's name");
    CreateDirectoryA(log.c_str(), nullptr);
    EXPECT_EQ(runScenario(program, "job-lines"), kScenarioDone);
    EXPECT_TRUE(folderExists(log));
    EXPECT_EQ(folderListing(log), Names{});
    RemoveDirectoryA(log.c_str());
  }
  {
    SCOPED_TRACE("log held open by another process without sharing");
    writeText(log, "kept as it was\r\n");
    {
      const FileHandle held(CreateFileA(log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(held);
      EXPECT_EQ(runScenario(program, "job-lines"), kScenarioDone);
    }
    EXPECT_EQ(readText(log), "kept as it was\r\n");
  }
  EXPECT_EQ(folderListing(program), (Names{"kou3_upd.log", "logger.exe"}));
}

TEST_F(LogFile, ProgramPathLeavingNoRoomForTheLogNameDropsTheLines) {
  struct Case {
    size_t folderLength;
    bool written;
  };
  // The program's own name is shorter than the log's, so its path fits where the log's does not:
  // 246 + "\kou3_upd.log" and the terminator fill the 260 bytes exactly.
  Names folders = {"cwd\\", "program\\"};
  for (const Case c : {Case{246, true}, Case{247, false}}) {
    SCOPED_TRACE("folder of " + std::to_string(c.folderLength) + " bytes");
    const std::string folder = box.folder(std::string(c.folderLength - box.root().size() - 1, 'p'));
    folders.push_back(folder.substr(box.root().size() + 1) + "\\");
    ASSERT_EQ(folder.size(), c.folderLength);
    EXPECT_EQ(runScenario(folder, "one-line", "k.exe"), kScenarioDone);
    if (c.written) {
      EXPECT_EQ(folderListing(folder), (Names{"k.exe", "kou3_upd.log"}));
      EXPECT_EQ(readText(joinPath(folder, "kou3_upd.log")), expectedLog("one-line"));
    } else {
      EXPECT_EQ(folderListing(folder), Names{"k.exe"});
    }
  }
  // Nothing cut short or written elsewhere instead.
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folderListing(box.root()), folders);
  EXPECT_EQ(folderListing(cwd), Names{});
}

}  // namespace
