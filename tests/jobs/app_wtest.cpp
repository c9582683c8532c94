#include <ostream>

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
  script("setup.exe", {hexCode(code) + " list-storage"});

  EXPECT_EQ(run("/appStart", tempEnv()), code);
  EXPECT_EQ(log(), firstPassLog(code));
  EXPECT_EQ(journal(), (Lines{"setup.exe|" + installerLine(false), kStorage}));
  EXPECT_FALSE(folderExists(work()));
}

INSTANTIATE_TEST_SUITE_P(Codes, AppStartAccepted, ::testing::Values(0x20000012u, 0u, 145u, 0x20000010u));

class AppStartRejected : public AppStart, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(AppStartRejected, RepairsWithAVerifyingDownloadAndPass) {
  const uint32_t code = GetParam();
  packDouble("setup_ko_u3-1.vpu");
  // The first pass, the verifying download, the verifying pass.
  script("setup.exe", {hexCode(code) + " list-storage", "7", "5 list-storage"});

  EXPECT_EQ(run("/appStart", tempEnv()), code);
  EXPECT_EQ(log(), firstPassLog(code) + verifyingPassLog(5));
  EXPECT_EQ(journal(), (Lines{"setup.exe|" + installerLine(false), kStorage, "setup.exe|" + verifyingDownloadLine(),
                              "setup.exe|" + installerLine(true), kStorage}));
  EXPECT_FALSE(folderExists(work()));
}

INSTANTIATE_TEST_SUITE_P(Codes, AppStartRejected, ::testing::Values(2u, 0x20000011u, 0x80000000u, 0xFFFFFFFFu));

TEST_F(AppStart, WhatAnEarlierRunLeftIsGoneBeforeTheCopyButASubFolderStays) {
  packDouble("setup_ko_u3-1.vpu");
  writeText(joinPath(box.folder("temp\\kou3_ins\\left"), "x"), "from an earlier run");
  writeText(joinPath(work(), "stale.txt"), "from an earlier run");
  writeText(joinPath(work(), "a.txt"), "older than the drive's");
  makeReadOnly(joinPath(work(), "a.txt"));
  script("setup.exe", {"0x20000001 list-storage"});

  EXPECT_EQ(run("/appStart", tempEnv()), 0x20000001u);
  EXPECT_EQ(log(), firstPassLog(0x20000001));
  EXPECT_EQ(journal(), (Lines{"setup.exe|" + installerLine(false), "setup.exe|storage: a.txt b.dat left\\ setup_ko_u3-1.vpu данные.dat"}));
  EXPECT_EQ(folderListing(work()), Lines{"left\\"});
  EXPECT_EQ(readText(joinPath(work(), "left\\x")), "from an earlier run");
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
