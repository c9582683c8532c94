#include <string>
#include <vector>

#include "e2e.h"
#include "host/win.h"

namespace {

using Entry = E2E;

TEST_F(Entry, NoJobSwitchExitsWithZeroAndStartsNothing) {
  placeDouble("KernoU3.exe");
  placeDouble("KoU3Launcher.exe");
  placeDouble("setup.exe");
  const std::vector<std::string> tails = {
      "",
      "   ",
      " \t \t ",
      "plain words only",
      "/silent /progress /updateVps /hwnd 5 /bogus plain",
      "/appStartx /app --silent / - appStop \"\"",
      // The word after /hwnd is its number, never a switch.
      "/hwnd /appStop",
      "/hwnd -hostCleanup /hwnd \"/appStart\"",
  };
  for (const std::string& tail : tails) EXPECT_EQ(run(tail), 0u) << "[" << tail << "]";
  EXPECT_EQ(runLine(kou3upd()), 0u) << "unquoted program path, no tail";
  EXPECT_TRUE(journal().empty());
}

TEST_F(Entry, AllOnesFromAMissingPackageReachesTheParentWhole) {
  placeDouble("KernoU3.exe");
  const std::vector<std::string> tails = {
      "/extractSetup",
      "-EXTRACTSETUP",
      "/silent /extractSetup /hwnd 7",
      "/appStop /extractSetup",
      "/extractSetup /hwnd /appStop",
  };
  for (const std::string& tail : tails) EXPECT_EQ(run(tail), 0xFFFFFFFFu) << "[" << tail << "]";
  EXPECT_TRUE(journal().empty());
  EXPECT_FALSE(fileExists(joinPath(host, "setup.exe")));
}

TEST_F(Entry, HostConfigureWithoutALauncherPackageExitsWithOne) {
  placeDouble("KoU3Launcher.exe");
  EXPECT_EQ(run("/hostConfigure"), 1u);
  EXPECT_EQ(run("/appStop /hostConfigure /silent"), 1u);
  EXPECT_TRUE(journal().empty());
}

// A crash, forced by a thread started in the run at address 0 while its launcher runs, ends it at
// once with the exception code: no error-reporting box waits for a click, and nothing more is
// written.
TEST_F(Entry, ACrashEndsTheRunWithItsExceptionCodeAndNothingMore) {
  packDouble("kou3lnch-1.vpu");
  const std::string event = "kou3-crash-" + std::to_string(GetCurrentProcessId());
  const KernelHandle release(CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
  script("KoU3Launcher.exe", {"0 hold:" + event});
  const Started run = start("/hostConfigure");
  for (int wait = 0; wait < 1000 && journal().empty(); ++wait) Sleep(10);
  const KernelHandle thread(CreateRemoteThread(run.process.get(), nullptr, 0, nullptr, nullptr, 0, nullptr));
  ASSERT_TRUE(thread);
  EXPECT_EQ(endedWith(run.process.get()), static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION));
  SetEvent(release.get());
  const std::string launcher = joinPath(hostShort(), "KoU3Launcher.exe");
  EXPECT_EQ(log(), "*** HOST CONFIGURE ***\r\nu3UnVpuToHostExe returing 0\r\nExecuting '" + launcher + "'\r\n");
}

// tail_probe.exe cuts its tail from its own command line the way kou3upd.exe does, and writes
// it down beside the tail that the run-time handed to WinMain.
class Tail : public ::testing::Test {
 protected:
  Tail() : out(box.folder("out")) {}

  std::string placeProbe(const std::string& folderName) {
    const std::string path = joinPath(box.folder(folderName), "tail_probe.exe");
    CopyFileA(joinPath(binFolder(), "tail_probe.exe").c_str(), path.c_str(), FALSE);
    return path;
  }

  // Starts commandLine; returns {our tail, the run-time's tail}.
  std::pair<std::string, std::string> tailsOf(const std::string& commandLine) {
    DeleteFileA(joinPath(out, "tail.txt").c_str());
    EXPECT_EQ(runProcess(commandLine, {{"KOU3_PROBE_DIR", out}}, ""), 0u) << commandLine;
    return {readText(joinPath(out, "tail.txt")), readText(joinPath(out, "runtime.txt"))};
  }

  Sandbox box;
  std::string out;
};

struct TailCase {
  std::string label;
  std::string commandLine;
  std::string tail;
};

TEST_F(Tail, IsTheCommandLineLessTheProgramNameAndTheBlanksAfterIt) {
  const std::string spaced = placeProbe("program dir");
  const std::string plain = placeProbe("plain");
  const std::vector<TailCase> cases = {
      {"quoted path with blanks", "\"" + spaced + "\" /runSetup /x", "/runSetup /x"},
      {"blanks and tabs after the name go, inner quotes and spacing stay",
       "\"" + spaced + "\"   \t  /runSetup  \"a  b\"  c\"d  ", "/runSetup  \"a  b\"  c\"d  "},
      {"unquoted path", plain + " /x \"y\"", "/x \"y\""},
      {"no tail", "\"" + spaced + "\"", ""},
      {"blanks only after the name", "\"" + spaced + "\"  \t ", ""},
  };
  for (const TailCase& c : cases) {
    const auto [ours, runTime] = tailsOf(c.commandLine);
    EXPECT_EQ(ours, c.tail) << c.label;
    EXPECT_EQ(ours, runTime) << c.label;
  }
}

// Without a message box that would wait for a click, and with the code abort() gives.
TEST_F(Tail, ARunTimeFailureEndsTheProgramAtOnceWithThree) {
  EXPECT_EQ(runProcess(placeProbe("plain") + " /runtimeFailure", {{"KOU3_PROBE_DIR", out}}, ""), 3u);
}

// The run-time ends a name at its first byte of 0x80 or above, so the tail is cut here.
TEST_F(Tail, KeepsNamesWithHighBytesWhole) {
  const std::string high = placeProbe("M\xfcller");
  const std::vector<TailCase> cases = {
      {"unquoted", high + " /hwnd 5", "/hwnd 5"},
      {"quoted, tail starting with a high byte", "\"" + high + "\" \xe9x /y", "\xe9x /y"},
  };
  for (const TailCase& c : cases) EXPECT_EQ(tailsOf(c.commandLine).first, c.tail) << c.label;
}

}  // namespace
