#include <ostream>
#include <regex>

#include "host/win.h"
#include "jobs_e2e.h"

namespace {

struct LauncherCase {
  uint32_t launcherCode;
  uint32_t exitCode;  // only acceptable launcher results give 0
};

void PrintTo(const LauncherCase& c, std::ostream* out) { *out << "launcher " << hexCode(c.launcherCode); }

}  // namespace

class HostConfigure : public JobsE2E {
 protected:
  std::string launcher() const { return joinPath(hostShort(), "KoU3Launcher.exe"); }
  std::string logPath() const { return joinPath(program, "kou3_upd.log"); }
};

class HostConfigureCode : public HostConfigure, public ::testing::WithParamInterface<LauncherCase> {};

TEST_P(HostConfigureCode, RunsTheLauncherAndAppendsFourLines) {
  const LauncherCase& c = GetParam();
  packDouble("kou3lnch-1.vpu");
  script("KoU3Launcher.exe", {hexCode(c.launcherCode)});
  writeText(logPath(), "an earlier run\r\n");

  EXPECT_EQ(run("/hostConfigure"), c.exitCode);
  EXPECT_EQ(log(), "an earlier run\r\n" + logLines({"*** HOST CONFIGURE ***", "u3UnVpuToHostExe returing 0",
                                                    "Executing '" + launcher() + "'",
                                                    "sysExecAndWait returing " + logged(c.launcherCode)}));
  EXPECT_EQ(journal(), Lines{"KoU3Launcher.exe|" + launcher()});
}

INSTANTIATE_TEST_SUITE_P(Codes, HostConfigureCode,
                         ::testing::Values(LauncherCase{0, 0}, LauncherCase{145, 0}, LauncherCase{0x20000000, 0},
                                           LauncherCase{0x20000001, 0}, LauncherCase{0x20000010, 0},
                                           LauncherCase{0x20000012, 0}, LauncherCase{1, 1}, LauncherCase{2, 1},
                                           LauncherCase{0x20000011, 1}, LauncherCase{0x80000000, 1},
                                           LauncherCase{0xFFFFFFFE, 1}, LauncherCase{0xFFFFFFFF, 1}));

TEST_F(HostConfigure, WritesItsLogFromAFolderNamedOutsideTheCodePage) {
  const std::wstring folder = box.folder(std::wstring(L"\x043F\x0440\x043E\x0433"));  // "прог"
  const std::wstring copy = folder + L"\\kou3upd.exe";
  ASSERT_TRUE(CopyFileW(widen(kou3upd()).c_str(), copy.c_str(), FALSE));
  packDouble("kou3lnch-1.vpu");
  script("KoU3Launcher.exe", {"0"});

  EXPECT_EQ(runLine(L"\"" + copy + L"\" /hostConfigure"), 0u);
  EXPECT_EQ(readText(joinPath(shortPath(folder), "kou3_upd.log")),
            logLines({"*** HOST CONFIGURE ***", "u3UnVpuToHostExe returing 0", "Executing '" + launcher() + "'",
                      "sysExecAndWait returing 0"}));
}

TEST_F(HostConfigure, MissingPackageWritesTwoLinesAfterTheRestore) {
  leaveBackup();
  placeDouble("KoU3Launcher.exe");

  EXPECT_EQ(run("/hostConfigure"), 1u);
  EXPECT_EQ(log(), logLines({"*** HOST CONFIGURE ***", "u3UnVpuToHostExe returing -1"}));
  EXPECT_TRUE(journal().empty());
  expectBackupRestored();
}

TEST_F(HostConfigure, LauncherThatCannotStartFailsWithTheStartError) {
  packNonProgram("kou3lnch-1.vpu");

  EXPECT_EQ(run("/hostConfigure"), 1u);
  EXPECT_EQ(log(), logLines({"*** HOST CONFIGURE ***", "u3UnVpuToHostExe returing 0",
                             "Executing '" + launcher() + "'",
                             "sysExecAndWait returing " + logged(kBadExeFormat)}));
  EXPECT_TRUE(journal().empty());
}

class AppStart : public JobsE2E {
 protected:
  void SetUp() override { fillDrive(); }

  std::string installerLine(bool verifyPass) const {
    return installer() + " /forceinstall /sfx /sfxstorage \"" + work() + "\" /savelog \"" + hostShort() +
           "\\u3upd_appStart.log\"" + (verifyPass ? " /verifypkgs" : "");
  }
  std::string verifyingDownloadLine() const {
    return installer() + " /downloadpkgs /savelog \"" + hostShort() + "\\u3upd_pkgs.log\" /verifypkgs /verysilent";
  }
  std::string firstPassLog(uint32_t installerCode) const {
    return logLines({"*** APP START (0) ***", "u3UnVpuToHostExe returing 0", "filCreateTempPath returing " + work(),
                     "filCopyPath returing 0", "Executing '" + installerLine(false) + "'",
                     "sysExecAndWait returing " + logged(installerCode)});
  }
  std::string verifyingPassLog(uint32_t installerCode) const {
    return logLines({"*** APP START (1) ***", "filCreateTempPath returing " + work(), "filCopyPath returing 0",
                     "Executing '" + installerLine(true) + "'", "sysExecAndWait returing " + logged(installerCode)});
  }
  static constexpr char kStorage[] = "setup.exe|storage: a.txt b.dat setup_ko_u3-1.vpu данные.dat";
};

class AppStartAccepted : public AppStart, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(AppStartAccepted, OnePassOnACopyOfTheDrive) {
  const uint32_t code = GetParam();
  packDouble("setup_ko_u3-1.vpu");
  // The folder it was handed cannot be renamed away (and a link put in its place) while it runs.
  script("setup.exe", {hexCode(code) + " list-storage move-storage"});

  EXPECT_EQ(run("/appStart", tempEnv()), code);
  EXPECT_EQ(log(), firstPassLog(code));
  EXPECT_EQ(journal(), (Lines{"setup.exe|" + installerLine(false), kStorage, "setup.exe|move storage: error 32"}));
  EXPECT_FALSE(folderExists(work()));
}

// 1223: the prompt was declined, and no pass after it may prompt again.
INSTANTIATE_TEST_SUITE_P(Codes, AppStartAccepted, ::testing::Values(0x20000012u, 0u, 145u, 0x20000010u, 1223u));

TEST_F(AppStart, DeclinedVerifyingDownloadEndsTheRepair) {
  packDouble("setup_ko_u3-1.vpu");
  script("setup.exe", {"2", "1223", "0"});
  EXPECT_EQ(run("/appStart", tempEnv()), 2u);
  EXPECT_EQ(log(), firstPassLog(2));
  EXPECT_EQ(journal(), (Lines{"setup.exe|" + installerLine(false), "setup.exe|" + verifyingDownloadLine()}));
}

class AppStartRejected : public AppStart, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(AppStartRejected, RepairsWithAVerifyingDownloadAndPass) {
  const uint32_t code = GetParam();
  packDouble("setup_ko_u3-1.vpu");
  // The first pass, the verifying download, the verifying pass.
  script("setup.exe", {hexCode(code) + " list-storage", "7", "5 list-storage"});
  const std::string trace = joinPath(box.root(), "trace.txt");
  EnvChanges env = tempEnv();
  env.push_back({"KOU3UPD_TRACE", trace});

  EXPECT_EQ(run("/appStart", env), code);
  EXPECT_EQ(traceSteps(trace, {"/appStart ends"}),
            Lines{"/appStart ends with " + std::to_string(code) + " (" + hexCode(code) + "), the first pass's result: the "
                  "caller learns how its start went, not how the repair went (verifying /updatePkgs 7 (0x7), verifying "
                  "pass 5 (0x5))"});
  EXPECT_EQ(log(), firstPassLog(code) + verifyingPassLog(5));
  EXPECT_EQ(journal(), (Lines{"setup.exe|" + installerLine(false), kStorage, "setup.exe|" + verifyingDownloadLine(),
                              "setup.exe|" + installerLine(true), kStorage}));
  EXPECT_FALSE(folderExists(work()));
}

INSTANTIATE_TEST_SUITE_P(Codes, AppStartRejected, ::testing::Values(2u, 0x20000011u, 0x80000000u, 0xFFFFFFFFu));

TEST_F(AppStart, WhatAnEarlierRunLeftIsGoneBeforeTheCopySubFoldersToo) {
  packDouble("setup_ko_u3-1.vpu");
  writeText(joinPath(box.folder("temp\\kou3_ins\\left"), "x"), "from an earlier run");
  writeText(joinPath(work(), "stale.txt"), "from an earlier run");
  writeText(joinPath(work(), "a.txt"), "older than the drive's");
  makeReadOnly(joinPath(work(), "a.txt"));
  script("setup.exe", {"0x20000001 list-storage"});

  EXPECT_EQ(run("/appStart", tempEnv()), 0x20000001u);
  EXPECT_EQ(log(), firstPassLog(0x20000001));
  EXPECT_EQ(journal(), (Lines{"setup.exe|" + installerLine(false), "setup.exe|storage: a.txt b.dat setup_ko_u3-1.vpu данные.dat"}));
  EXPECT_FALSE(folderExists(work()));
}

TEST_F(AppStart, MissingInstallerPackageRestoresAndMakesNoWorkFolder) {
  leaveBackup();

  EXPECT_EQ(run("/appStart", tempEnv()), 0xFFFFFFFFu);
  EXPECT_EQ(log(), logLines({"*** APP START (0) ***", "u3UnVpuToHostExe returing -1"}));
  EXPECT_TRUE(journal().empty());
  expectBackupRestored();
  EXPECT_TRUE(folderListing(temp).empty());
}

TEST_F(AppStart, InstallerThatCannotStartIsRepairedLikeAFailure) {
  packNonProgram("setup_ko_u3-1.vpu");

  EXPECT_EQ(run("/appStart", tempEnv()), kBadExeFormat);
  EXPECT_EQ(log(), firstPassLog(kBadExeFormat) + verifyingPassLog(kBadExeFormat));
  EXPECT_TRUE(journal().empty());
  EXPECT_FALSE(folderExists(work()));
}

TEST_F(AppStart, WorkFolderThatCannotBeMadeCopiesAndStartsNothingButRepairs) {
  packDouble("setup_ko_u3-1.vpu");
  fillLinkTarget();
  for (const BlockedTemp& blocked : blockedTemps()) {
    SCOPED_TRACE(blocked.label);
    forgetRuns();
    script("setup.exe", {"0"});

    EXPECT_EQ(run("/appStart", blocked.env), blocked.error);
    EXPECT_EQ(log(), logLines({"*** APP START (0) ***", "u3UnVpuToHostExe returing 0", "filCreateTempPath returing ",
                               "*** APP START (1) ***", "filCreateTempPath returing "}));
    EXPECT_EQ(journal(), Lines{"setup.exe|" + verifyingDownloadLine()});
    EXPECT_TRUE(folderListing(cwd).empty());
    expectLinkTargetKept();
  }
}

// A traced run does what an untraced one does, whether or not its trace file can be opened.
TEST_F(AppStart, ATraceChangesNothingAndTellsEachStep) {
  packDouble("setup_ko_u3-1.vpu");
  packDouble("kou3lnch-1.vpu");
  const std::string traceFile = joinPath(box.root(), "trace.txt");
  const std::string nowhere = joinPath(box.root(), "missing\\trace.txt");
  // Held open as the run that started these would hold it.
  const FileHandle outer(CreateFileA(traceFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, 0, nullptr));
  ASSERT_TRUE(outer);
  for (const char* job : {"/appStart", "/hostConfigure", "/extractSetup"}) {
    std::vector<std::string> runs;
    for (const std::string& trace : {std::string(), traceFile, nowhere}) {
      forgetRuns();
      script("setup.exe", {"0 list-storage"});
      script("KoU3Launcher.exe", {"0"});
      EnvChanges env = tempEnv();
      if (!trace.empty()) env.push_back({"KOU3UPD_TRACE", trace});
      runs.push_back(std::to_string(run(job, env)) + "|" + log() + "|" + readText(joinPath(control, "journal.txt")));
    }
    EXPECT_EQ(runs[1], runs[0]) << job;
    EXPECT_EQ(runs[2], runs[0]) << job;
  }
  EXPECT_FALSE(folderExists(joinPath(box.root(), "missing")));

  DWORD written = 0;
  ASSERT_TRUE(WriteFile(outer.get(), "outer\r\n", 7, &written, nullptr));
  const std::string traced = readText(traceFile);
  ASSERT_GT(traced.size(), 7u);
  EXPECT_EQ(traced.substr(traced.size() - 7), "outer\r\n");
  for (const std::string& step : Lines{"job /appStart from \"/appStart\"", "search " + driveShort() + "\\kou3lnch-*.vpu\r\n",
                                       "search: takes setup_ko_u3-1.vpu, version 1\r\n",
                                       "read " + driveShort() + "\\setup_ko_u3-1.vpu: image size ",
                                       "rename " + hostShort() + "\\KoU3Launcher.exe.kou3upd-",
                                       "start " + installerLine(false) + "\r\n", "ended with 0 (0x0)\r\n",
                                       "exit code 0 (0x0), job result 0x0\r\n"}) {
    EXPECT_NE(traced.find(step), std::string::npos) << step << " not in\n" << traced;
  }
  const std::regex line(R"(kou3upd\[\d+\] \+\d+ [^\r\n]+)");
  for (const std::string& each : splitLines(traced.substr(0, traced.size() - 7))) {
    EXPECT_TRUE(std::regex_match(each, line)) << each;
  }
}
