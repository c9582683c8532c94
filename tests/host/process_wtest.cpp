#include "host/process.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "hook.h"
#include "host/win.h"
#include "inprocess.h"

using ::testing::AnyOf;
using ::testing::Eq;
using ::testing::Matcher;

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;
constexpr char kDouble[] = "suite_double.exe";

// Codes a child may end with, the ones that look negative or like a Windows status included.
const std::vector<uint32_t> kExitCodes = {5, 0, 0x20000010, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};

std::vector<std::string> asScript(const std::vector<uint32_t>& codes) {
  std::vector<std::string> lines;
  for (const uint32_t code : codes) lines.push_back(std::to_string(code));
  return lines;
}

// The double started from where it was built, so that no test folder holds a running program.
std::string doublePath() { return joinPath(binFolder(), kDouble); }
std::string doubleLine(const std::string& arguments) { return "\"" + doublePath() + "\"" + arguments; }

bool exec(const std::string& cmdLine, bool wait, uint32_t& exitCode, uint32_t* startError = nullptr) {
  std::string line = cmdLine;
  return sysExecAndWait(line.data(), wait, exitCode, startError);
}

// Open handles of this process. Wine answers GetProcessHandleCount with 0 whatever is open, so
// there every handle value in the low range that a test program uses is asked about instead.
DWORD openHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
  DWORD flags = 0;
  for (uintptr_t value = 4; value < 0x4000; value += 4) {
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

bool user32Loaded() { return GetModuleHandleA("User32.dll") != nullptr; }

using CreateHook = Hook<ProcessCreate, &gProcessCreate>;

// Windows' answer for a program that asks for administrator rights, which Wine never gives.
bool elevationRequired(char*, PROCESS_INFORMATION&) {
  SetLastError(740);  // ERROR_ELEVATION_REQUIRED
  return false;
}

}  // namespace

using Process = InProcess;

TEST_F(Process, ExecHandsBackTheChildsExitCodeUnchanged) {
  script(kDouble, asScript(kExitCodes));
  for (const uint32_t code : kExitCodes) {
    SCOPED_TRACE(code);
    uint32_t exitCode = kUntouched;
    uint32_t startError = kUntouched;
    EXPECT_TRUE(exec(doubleLine(" /stop"), true, exitCode, &startError));
    EXPECT_EQ(exitCode, code);
    EXPECT_EQ(startError, kUntouched);
  }
  EXPECT_EQ(journal().size(), kExitCodes.size());
}

TEST_F(Process, RunHandsBackTheChildsExitCodeUnchanged) {
  script(kDouble, asScript(kExitCodes));
  for (const uint32_t code : kExitCodes) {
    SCOPED_TRACE(code);
    uint32_t result = kUntouched;
    sysRunAndWait(doubleLine(" /stop"), result);
    EXPECT_EQ(result, code);
  }
  EXPECT_EQ(journal().size(), kExitCodes.size());
}

TEST_F(Process, ChildGetsItsCommandLineByteForByte) {
  const std::vector<std::string> lines = {
      doubleLine(""),
      doubleLine(" /stop"),
      doublePath() + " /hostCleanup",
      doubleLine("  two  blanks\tand a tab \"a quoted word\" /savelog \"C:\\x y\\u3upd_pkgs.log\" trailing  "),
      doubleLine(" caf\xE9 \xA4"),
  };
  std::vector<std::string> expected;
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    uint32_t exitCode = kUntouched;
    EXPECT_TRUE(exec(line, true, exitCode));
    EXPECT_EQ(exitCode, 0u);
    uint32_t result = kUntouched;
    sysRunAndWait(line, result);
    EXPECT_EQ(result, 0u);
    expected.push_back(std::string(kDouble) + "|" + line);
    expected.push_back(std::string(kDouble) + "|" + line);
  }
  EXPECT_EQ(journal(), expected);
}

// The shell's elevation runs for real: Wine's starts "program" parameters as Windows' does.
TEST_F(Process, ProgramThatAsksForElevationIsStartedThroughTheShell) {
  const CreateHook hook(elevationRequired);
  script(kDouble, {"0x80000005", "0x20000010"});
  const std::string installer = doubleLine(" /forceinstall  /sfxstorage \"C:\\x y\\kou3_ins\" caf\xE9");
  uint32_t result = kUntouched;
  sysRunAndWait(installer, result);
  EXPECT_EQ(result, 0x80000005u);
  sysRunAndWait(doublePath() + " \t/stop", result);
  EXPECT_EQ(result, 0x20000010u);
  sysRunAndWait(joinPath(host, "KernoU3.exe") + " /stop", result);
  EXPECT_EQ(result, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(journal(), (std::vector<std::string>{std::string(kDouble) + "|" + installer,
                                                 std::string(kDouble) + "|" + doubleLine(" /stop")}));
}

TEST_F(Process, StartThatFailsLeavesExitCodeAndGivesTheWindowsError) {
  // Windows names a missing folder with ERROR_PATH_NOT_FOUND where Wine says ERROR_FILE_NOT_FOUND.
  const auto missingFolder = AnyOf(Eq(uint32_t{ERROR_PATH_NOT_FOUND}), Eq(uint32_t{ERROR_FILE_NOT_FOUND}));
  const auto missingFile = Eq(uint32_t{ERROR_FILE_NOT_FOUND});
  const struct {
    std::string line;
    Matcher<uint32_t> error;
  } cases[] = {
      {joinPath(host, "KernoU3.exe") + " /stop", missingFile},
      {"\"" + joinPath(host, "KernoU3.exe") + "\" /stop", missingFile},
      {joinPath(host, "gone\\KernoU3.exe") + " /stop", missingFolder},
  };
  for (const auto& failing : cases) {
    SCOPED_TRACE(failing.line);
    uint32_t exitCode = kUntouched;
    uint32_t startError = 0;
    EXPECT_FALSE(exec(failing.line, true, exitCode, &startError));
    EXPECT_EQ(exitCode, kUntouched);
    EXPECT_THAT(startError, failing.error);

    EXPECT_FALSE(exec(failing.line, true, exitCode));
    EXPECT_EQ(exitCode, kUntouched);

    // A job's result starts at 0: a start that failed must not leave it there.
    uint32_t result = 0;
    sysRunAndWait(failing.line, result);
    EXPECT_THAT(result, failing.error);
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(Process, NoWaitReadsStillActiveFromARunningChild) {
  const std::string eventName = "kou3-hold-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  const KernelHandle release(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
  ASSERT_TRUE(release);
  script(kDouble, {"7 hold:" + eventName});
  uint32_t exitCode = kUntouched;
  EXPECT_TRUE(exec(doubleLine(" /stop"), false, exitCode));
  EXPECT_EQ(exitCode, static_cast<uint32_t>(STILL_ACTIVE));
  SetEvent(release.get());
}

TEST_F(Process, StartsWithoutUser32AndNeverLoadsIt) {
  ASSERT_FALSE(user32Loaded()) << "this test program must not load User32 by itself";
  script(kDouble, {"11", "12"});
  uint32_t exitCode = kUntouched;
  EXPECT_TRUE(exec(doubleLine(" /stop"), true, exitCode));
  EXPECT_EQ(exitCode, 11u);
  EXPECT_FALSE(user32Loaded());

  // With User32 there, the foreground permission is granted and the start goes on as before.
  const HMODULE user32 = LoadLibraryA("user32.dll");
  ASSERT_NE(user32, nullptr);
  EXPECT_TRUE(exec(doubleLine(" /stop"), true, exitCode));
  EXPECT_EQ(exitCode, 12u);
  FreeLibrary(user32);
}

TEST_F(Process, ManyStartsLeaveTheHandleCountFlat) {
  constexpr int kStarts = 200;
  // Whatever the first start sets up for good (a loaded module, a cached handle) is not a leak.
  uint32_t exitCode = kUntouched;
  ASSERT_TRUE(exec(doubleLine(" /stop"), true, exitCode));
  const DWORD before = openHandles();
  {
    const KernelHandle extra(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_EQ(openHandles(), before + 1) << "the count must see a handle left open";
  }
  for (int start = 0; start < kStarts; ++start) {
    uint32_t result = kUntouched;
    sysRunAndWait(doubleLine(" /stop"), result);
    ASSERT_EQ(result, 0u) << "start " << start;
    sysRunAndWait(joinPath(host, "KernoU3.exe /stop"), result);
    ASSERT_EQ(result, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND)) << "start " << start;
  }
  EXPECT_EQ(openHandles(), before);
}
