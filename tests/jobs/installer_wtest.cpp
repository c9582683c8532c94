#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "e2e.h"
#include "jobs/suite.h"

namespace {

// What Windows answers when asked to start a file that is not a program (ERROR_BAD_EXE_FORMAT).
constexpr uint32_t kNotAProgram = 193;

const Bytes kProdPackage = {'p', 'r', 'o', 'd', 0x00, 0xFF, 0x1F, 0x8B, '\r', '\n'};
const Bytes kSilverfernPackage = {'s', 'i', 'l', 'v', 'e', 'r', 0x00, 0x80, 0x7F};

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

class InstallerJobs : public E2E {
 protected:
  void packInstaller() { packDouble("setup_ko_u3-1.vpu"); }
  // A package that unpacks well but whose image Windows refuses to start.
  void packNonProgram() {
    const std::string text = "this is not a Windows program\r\n";
    writeBytes(joinPath(drive, "setup_ko_u3-1.vpu"), vpuPack(Bytes(text.begin(), text.end())));
  }
  void placeFixedPackages() {
    writeBytes(joinPath(drive, "prod-ko_u3.vpu"), kProdPackage);
    writeBytes(joinPath(drive, "silverfern.vpu"), kSilverfernPackage);
  }
  void expectFixedPackagesAsPlaced() {
    EXPECT_EQ(readBytes(joinPath(drive, "prod-ko_u3.vpu")), kProdPackage);
    EXPECT_EQ(readBytes(joinPath(drive, "silverfern.vpu")), kSilverfernPackage);
    EXPECT_FALSE(fileExists(joinPath(drive, "prod-ko_u3.bak")));
    EXPECT_FALSE(fileExists(joinPath(drive, "silverfern.bak")));
  }

  // The journal entry of the installer started with these switches after its path.
  static std::string started(const std::string& setupPath, const std::string& switches) {
    return "setup.exe|" + setupPath + "setup.exe" + switches;
  }
  std::string setupIn() const { return hostShort() + "\\"; }
  std::string pkgsLine(const std::string& suffix, bool verifyPass = false) const {
    return started(setupIn(), " /downloadpkgs /savelog \"" + hostShort() + "\\u3upd_pkgs.log\"" +
                                  (verifyPass ? " /verifypkgs" : "") + suffix);
  }
  std::string filesLine(const std::string& suffix) const {
    return started(setupIn(), " /refresh /savelog \"" + hostShort() + "\\u3upd_files.log\"" + suffix);
  }
};

TEST_F(InstallerJobs, SwitchSuffixReachesTheInstallerInEachForm) {
  struct Case {
    const char* flags;
    const char* suffix;
  };
  const Case cases[] = {
      {"", " /verysilent"},
      {" /silent", " /silent"},
      {" /progress", " /silent /progress"},
      {" -SILENT /Progress", " /silent /progress"},
      {" /updateVps", " /updatevps /verysilent"},
      {" /hwnd 1234", " /verysilent /hwnd 1234"},
      {" /hwnd -5", " /verysilent /hwnd -5"},
      {" /hwnd 0", " /verysilent"},
      {" /hwnd 1234 /progress /updateVps /silent", " /updatevps /silent /progress /hwnd 1234"},
  };
  packInstaller();
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    EXPECT_EQ(run(std::string("/updatePkgs") + c.flags), 0u) << c.flags;
    EXPECT_EQ(run(std::string("/updateFiles") + c.flags), 0u) << c.flags;
    expected.push_back(pkgsLine(c.suffix));
    expected.push_back(filesLine(c.suffix));
  }
  EXPECT_EQ(journal(), expected);
}

// /updatePkgs with the installer's answers scripted in order; each pass is one installer run.
struct PkgsCase {
  const char* name;
  std::vector<std::string> answers;
  std::vector<bool> passes;  // true for a run with " /verifypkgs"
  uint32_t exitCode;
};

void PrintTo(const PkgsCase& c, std::ostream* out) { *out << c.name; }

class UpdatePkgsRuns : public InstallerJobs, public ::testing::WithParamInterface<PkgsCase> {};

TEST_P(UpdatePkgsRuns, RepeatAndVerifyingPass) {
  const PkgsCase& c = GetParam();
  packInstaller();
  script("setup.exe", c.answers);
  const std::string trace = joinPath(box.root(), "trace.txt");
  EXPECT_EQ(run("/updatePkgs /silent /hwnd 77", {{"KOU3UPD_TRACE", trace}}), c.exitCode) << hex(c.exitCode);
  // After a verifying pass (none follows a declined prompt), whose code is traced last, a line says
  // the job ends with the first pass's.
  const std::string ends = "/updatePkgs ends with " + std::to_string(c.exitCode) + " (0x";
  EXPECT_EQ(traceSteps(trace, {ends}).size(), u3IsSetupResultOk(c.exitCode) || c.exitCode == 1223 ? 0u : 1u);
  std::vector<std::string> expected;
  for (bool verifyPass : c.passes) expected.push_back(pkgsLine(" /silent /hwnd 77", verifyPass));
  EXPECT_EQ(journal(), expected);
}

// An installer that renames itself away can only run again if it was unpacked afresh.
INSTANTIATE_TEST_SUITE_P(
    Answers, UpdatePkgsRuns,
    ::testing::Values(
        PkgsCase{"AcceptedRunsOnce", {"0", "9"}, {false}, 0},
        PkgsCase{"DeclinedPromptIsFinal", {"1223", "9"}, {false}, 1223},
        PkgsCase{"DeclinedRepeatIsFinal", {"0x20000010", "1223", "9"}, {false, false}, 1223},
        PkgsCase{"DirectoryNotEmptyRunsOnce", {"145", "9"}, {false}, 145},
        PkgsCase{"RepeatUnpacksAgainThenVerifies", {"0x20000010 move-self:first.exe", "7", "3"}, {false, false, true}, 7},
        PkgsCase{"AcceptedRepeatEndsThere", {"0x20000010", "0", "9"}, {false, false}, 0},
        PkgsCase{"SecondRepeatRequestIsReturned", {"0x20000010", "0x20000010", "9"}, {false, false}, 0x20000010},
        PkgsCase{"RejectedRepeatVerifies", {"0x20000010", "0x80000000", "1"}, {false, false, true}, 0x80000000},
        PkgsCase{"RejectedVerifiesVerifyingAccepts", {"0x20000011", "0", "9"}, {false, true}, 0x20000011},
        PkgsCase{"RejectedVerifiesVerifyingRejects", {"0x20000011", "5", "9"}, {false, true}, 0x20000011},
        PkgsCase{"RejectedVerifiesVerifyingFailsAll", {"0x20000011", "0xFFFFFFFF", "9"}, {false, true}, 0x20000011},
        PkgsCase{"HighCodeVerifies", {"0xFFFFFFFE", "0", "9"}, {false, true}, 0xFFFFFFFE},
        // The verifying pass starts the installer as the first pass left it, without unpacking.
        PkgsCase{"VerifyingPassDoesNotUnpack", {"0x20000011 move-self:first.exe", "9"}, {false}, 0x20000011},
        PkgsCase{"VerifyingPassRepeatsOnceAndNoFurther",
                 {"0x20000011", "0x20000010 move-self:verify.exe", "0x20000010", "9"},
                 {false, true, true},
                 0x20000011}),
    [](const ::testing::TestParamInfo<PkgsCase>& info) { return std::string(info.param.name); });

TEST_F(InstallerJobs, CheckUpdatePutsTheFixedPackagesBack) {
  packInstaller();
  placeFixedPackages();
  script("setup.exe", {"0x20000011 touch-packages"});
  EXPECT_EQ(run("/checkUpdate /silent /progress /hwnd 5"), 0x20000011u);
  EXPECT_EQ(journal(), std::vector<std::string>{started(setupIn(), " /checkupdate")});
  expectFixedPackagesAsPlaced();
}

TEST_F(InstallerJobs, CheckUpdateWithoutInstallerStartsNothingAndPutsBackALeftoverBackup) {
  placeFixedPackages();
  // Left by a run stopped while its installer ran: the package it holds is the one to keep,
  // never to be replaced by a fresh backup of what that installer left.
  writeBytes(joinPath(drive, "prod-ko_u3.bak"), kSilverfernPackage);
  const std::string trace = joinPath(box.root(), "trace.txt");
  EXPECT_EQ(run("/checkUpdate", {{"KOU3UPD_TRACE", trace}}), 0xFFFFFFFFu);
  // No backup is the usual case, not a failure.
  EXPECT_EQ(traceSteps(trace, {"restore silverfern"}),
            (std::vector<std::string>{"restore silverfern.vpu: nothing to put back, no silverfern.bak",
                                      "restore silverfern.vpu from silverfern.bak: error 0"}));
  EXPECT_TRUE(journal().empty());
  EXPECT_FALSE(fileExists(joinPath(host, "setup.exe")));
  EXPECT_EQ(readBytes(joinPath(drive, "prod-ko_u3.vpu")), kSilverfernPackage);
  EXPECT_EQ(readBytes(joinPath(drive, "silverfern.vpu")), kSilverfernPackage);
  EXPECT_EQ(folderListing(drive), (std::vector<std::string>{"prod-ko_u3.vpu", "silverfern.vpu"}));
}

TEST_F(InstallerJobs, EveryJobWithoutInstallerPackageFailsWithoutStarting) {
  for (const char* job : {"/updatePkgs", "/updateFiles", "/runSetup /x", "/checkUpdate"}) {
    EXPECT_EQ(run(job), 0xFFFFFFFFu) << job;
  }
  EXPECT_TRUE(journal().empty());
  EXPECT_FALSE(fileExists(joinPath(host, "setup.exe")));
}

TEST_F(InstallerJobs, RunSetupHandsOverWhatFollowsItsSwitch) {
  struct Case {
    const char* tail;
    const char* switches;
    uint32_t exitCode;
  };
  const Case cases[] = {
      {"/runSetup /x /y", " /x /y", 0},
      {"/runSetup", "", 1},
      {"/silent /runSetup /x", " /x", 0x20000011},
      {"-RUNSETUP \"a b\"", " \"a b\"", 0x80000000},
      {"\"/runSetup\"  /x", "  /x", 0xFFFFFFFE},
      {"/hwnd /runSetup /runSetup /z", " /z", 145},
  };
  packInstaller();
  std::vector<std::string> answers;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    answers.push_back(hex(c.exitCode));
    expected.push_back(started(setupIn(), c.switches));
  }
  script("setup.exe", answers);
  for (const Case& c : cases) EXPECT_EQ(run(c.tail), c.exitCode) << c.tail;
  EXPECT_EQ(journal(), expected);
}

TEST_F(InstallerJobs, HostPathWithTrailingBackslashGetsNoSecondOneInTheJoin) {
  const std::string hostWithSlash = shortPath(host + "\\");
  ASSERT_EQ(hostWithSlash, hostShort() + "\\");
  const EnvChanges env = {{"U3_HOST_EXEC_PATH", host + "\\"}};
  packInstaller();
  EXPECT_EQ(run("/updatePkgs", env), 0u);
  EXPECT_EQ(run("/updateFiles /silent", env), 0u);
  EXPECT_EQ(run("/checkUpdate", env), 0u);
  EXPECT_EQ(run("/runSetup /x", env), 0u);
  const std::vector<std::string> expected = {
      started(hostWithSlash, " /downloadpkgs /savelog \"" + hostWithSlash + "\\u3upd_pkgs.log\" /verysilent"),
      started(hostWithSlash, " /refresh /savelog \"" + hostWithSlash + "\\u3upd_files.log\" /silent"),
      started(hostWithSlash, " /checkupdate"),
      started(hostWithSlash, " /x"),
  };
  EXPECT_EQ(journal(), expected);
}

TEST_F(InstallerJobs, InstallerThatCannotStartGivesTheStartError) {
  packNonProgram();
  placeFixedPackages();
  // /updatePkgs goes on to its verifying pass, which fails to start as well.
  for (const char* job : {"/updatePkgs", "/updateFiles", "/runSetup /x", "/runSetup", "/checkUpdate"}) {
    EXPECT_EQ(run(job), kNotAProgram) << job;
  }
  EXPECT_TRUE(journal().empty());
  EXPECT_TRUE(fileExists(joinPath(host, "setup.exe")));
  expectFixedPackagesAsPlaced();
}

TEST_F(InstallerJobs, ExitCodesPassThroughUnchanged) {
  const uint32_t codes[] = {1, 0x20000011, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
  packInstaller();
  for (const char* job : {"/updateFiles", "/checkUpdate", "/runSetup /q"}) {
    for (uint32_t code : codes) {
      script("setup.exe", {hex(code)});
      EXPECT_EQ(run(job), code) << job << " " << hex(code);
    }
  }
}

}  // namespace
