#include <optional>
#include <ostream>

#include "host/win.h"
#include "inprocess.h"
#include "jobs/scan.h"
#include "jobs_e2e.h"

namespace {

struct ScanCase {
  uint32_t installerCode;
  std::optional<uint32_t> applicationCode;  // set when the installer's result lets it start
};

void PrintTo(const ScanCase& c, std::ostream* out) { *out << "installer " << hexCode(c.installerCode); }

}  // namespace

class InstallScan : public JobsE2E {
 protected:
  void SetUp() override {
    fillDrive();
    placeDouble("KernoU3.exe");
  }
  std::string installerLine(const std::string& workFolder) const {
    return installer() + " /sfx /sfxstorage \"" + workFolder + "\" /forceinstall";
  }
  std::string applicationLine() const { return joinPath(hostShort(), "KernoU3.exe") + " /install"; }

  // Runs /installScan with an installer ending with 3 (so nothing else starts) under env.
  Lines scanCommandLines(const EnvChanges& env) {
    packDouble("setup_ko_u3-1.vpu");
    script("setup.exe", {"3"});
    EXPECT_EQ(run("/installScan", env), 3u);
    return commandLines();
  }
};

class InstallScanCode : public InstallScan, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(InstallScanCode, InstallsFromACopyAndStartsTheApplicationOnlyAfterAnAcceptedResult) {
  const ScanCase& c = GetParam();
  packDouble("setup_ko_u3-1.vpu");
  script("setup.exe", {hexCode(c.installerCode) + " list-storage"});
  if (c.applicationCode) script("KernoU3.exe", {hexCode(*c.applicationCode)});

  Lines expected = {"setup.exe|" + installerLine(work()), "setup.exe|storage: a.txt b.dat setup_ko_u3-1.vpu данные.dat"};
  if (c.applicationCode) expected.push_back("KernoU3.exe|" + applicationLine());
  EXPECT_EQ(run("/installScan", tempEnv()), c.applicationCode.value_or(c.installerCode));
  EXPECT_EQ(journal(), expected);
  EXPECT_FALSE(folderExists(work()));
  EXPECT_EQ(log(), "");
}

INSTANTIATE_TEST_SUITE_P(Accepted, InstallScanCode,
                         ::testing::Values(ScanCase{145, 9}, ScanCase{0, 0}, ScanCase{0x20000000, 0x80000000},
                                           ScanCase{0x20000001, 0xFFFFFFFF}, ScanCase{0x20000010, 3},
                                           ScanCase{0x20000012, 0x20000011}));
INSTANTIATE_TEST_SUITE_P(Rejected, InstallScanCode,
                         ::testing::Values(ScanCase{3, std::nullopt}, ScanCase{1, std::nullopt},
                                           ScanCase{0x20000011, std::nullopt}, ScanCase{0x80000000, std::nullopt},
                                           ScanCase{0xFFFFFFFF, std::nullopt}));

TEST_F(InstallScan, MissingInstallerPackageRestoresAndStartsNothing) {
  leaveBackup();

  EXPECT_EQ(run("/installScan", tempEnv()), 0xFFFFFFFFu);
  EXPECT_TRUE(journal().empty());
  expectBackupRestored();
  EXPECT_TRUE(folderListing(temp).empty());
}

TEST_F(InstallScan, InstallerThatCannotStartDoesNotStartTheApplication) {
  packNonProgram("setup_ko_u3-1.vpu");

  EXPECT_EQ(run("/installScan", tempEnv()), kBadExeFormat);
  EXPECT_TRUE(journal().empty());
  EXPECT_FALSE(folderExists(work()));
}

TEST_F(InstallScan, WorkFolderThatCannotBeMadeCopiesAndStartsNothing) {
  packDouble("setup_ko_u3-1.vpu");
  fillLinkTarget();
  for (const BlockedTemp& blocked : blockedTemps()) {
    SCOPED_TRACE(blocked.label);
    EXPECT_EQ(run("/installScan", blocked.env), blocked.error);
    EXPECT_TRUE(journal().empty());
    EXPECT_TRUE(folderListing(cwd).empty());
    expectLinkTargetKept();
  }
}

// Where the work folder goes when TEMP does not name a usable folder.
using WorkFolderBase = InstallScan;

TEST_F(WorkFolderBase, TempEndingInABackslashGetsNoSecondOne) {
  EXPECT_EQ(scanCommandLines({{"TEMP", temp + "\\"}}), Lines{installerLine(work())});
  EXPECT_FALSE(folderExists(work()));
}

TEST_F(WorkFolderBase, TmpWhenTempIsUnset) {
  const std::string tmp = box.folder("tmp");
  EXPECT_EQ(scanCommandLines({{"TEMP", std::nullopt}, {"TMP", tmp}}), Lines{installerLine(joinPath(tmp, "kou3_ins"))});
  EXPECT_TRUE(folderListing(tmp).empty());
}

TEST_F(WorkFolderBase, ReferencesInTempAreExpanded) {
  const std::string base = box.folder("base");
  const std::string deeper = box.folder("base\\deeper");
  EXPECT_EQ(scanCommandLines({{"TEMP", "%KOU3_TEST_BASE%\\deeper"}, {"KOU3_TEST_BASE", base}}),
            Lines{installerLine(joinPath(deeper, "kou3_ins"))});
}

TEST_F(WorkFolderBase, TempNamedOutsideTheCodePageIsTakenInItsShortForm) {
  const std::wstring named = box.folder(std::wstring(L"\x0432\x0440\x0435\x043C\x044F"));  // "время"
  const std::string shortForm = shortPath(named);
  ASSERT_FALSE(shortForm.empty());
  EXPECT_EQ(scanCommandLines({{"TEMP", named}}), Lines{installerLine(joinPath(shortForm, "kou3_ins"))});
  EXPECT_TRUE(folderListing(shortForm).empty());
}

TEST_F(WorkFolderBase, CTempWhenTempIsMissing) {
  const std::string fallBack = "C:\\TEMP\\kou3_ins";
  const bool hadTemp = folderExists("C:\\TEMP");
  const bool hadFallBack = folderExists(fallBack);
  EXPECT_EQ(scanCommandLines({{"TEMP", joinPath(box.root(), "missing")}}), Lines{installerLine(fallBack)});
  EXPECT_FALSE(folderExists(joinPath(box.root(), "missing")));
  // Only what this test made goes; C:\TEMP only when it is empty again.
  if (!hadFallBack) removeTree(fallBack);
  if (!hadTemp) RemoveDirectoryA("C:\\TEMP");
}

// Wine hands every new process SYSTEMDRIVE=C: whatever its parent asks for, so this fall-back is
// seen with the job run inside the test program.
using InProcessWorkFolderBase = InProcess;

TEST_F(InProcessWorkFolderBase, SystemDriveTempWhenTempAndTmpAreUnset) {
  const std::string systemDrive = box.folder("sysdrive");
  const std::string systemTemp = box.folder("sysdrive\\TEMP");
  setEnvironment("TEMP", std::nullopt);
  setEnvironment("TMP", std::nullopt);
  setEnvironment("SYSTEMDRIVE", systemDrive);
  packDouble("setup_ko_u3-1.vpu");
  script("setup.exe", {"3"});

  EXPECT_EQ(u3InstallScan(), 3u);
  EXPECT_EQ(commandLines(), Lines{joinPath(hostShort(), "setup.exe") + " /sfx /sfxstorage \"" +
                                  joinPath(systemTemp, "kou3_ins") + "\" /forceinstall"});
  EXPECT_TRUE(folderListing(systemTemp).empty());
}

class SetProxy : public JobsE2E {
 protected:
  void SetUp() override { packDouble("setup_ko_u3-1.vpu"); }
  // The temporary folder comes from TEMP alone (TMP would come first).
  static EnvChanges tempIs(const EnvValue& folder) { return {{"TMP", std::nullopt}, {"TEMP", folder}}; }
  std::string proxyLine(const std::string& proxyFile) const {
    return "setup.exe|" + installer() + " /setproxy \"" + proxyFile + "\"";
  }
  // A folder path of exactly length bytes; it need not exist.
  static std::string folderOfLength(std::size_t length) {
    std::string path = "C:\\kou3-proxy";
    while (path.size() < length) path += (path.size() % 100 == 0) ? '\\' : 'p';
    return path;
  }
};

TEST_F(SetProxy, HandsTheProxyFileWithOneBackslashBeforeIt) {
  script("setup.exe", {"0x80000000", "0xFFFFFFFE"});

  EXPECT_EQ(run("/setProxy", tempIs(temp)), 0x80000000u);
  EXPECT_EQ(run("/setProxy", tempIs(temp + "\\")), 0xFFFFFFFEu);
  const std::string line = proxyLine(joinPath(temp, "zebpxycf.ini"));
  EXPECT_EQ(journal(), (Lines{line, line}));
  EXPECT_TRUE(folderListing(temp).empty());
  EXPECT_EQ(log(), "");
}

TEST_F(SetProxy, TemporaryFolderNamedOutsideTheCodePageIsHandedInItsShortForm) {
  const std::wstring named = box.folder(std::wstring(L"\x0432\x0440\x0435\x043C\x044F"));  // "время"
  const std::string shortForm = shortPath(named);
  ASSERT_FALSE(shortForm.empty());
  script("setup.exe", {"0"});

  EXPECT_EQ(run("/setProxy", tempIs(named)), 0u);
  EXPECT_EQ(journal(), Lines{proxyLine(joinPath(shortForm, "zebpxycf.ini"))});
}

TEST_F(SetProxy, ProxyPathMustFitTheWindowsPathLimit) {
  // 246 bytes, the backslash GetTempPathA adds and "zebpxycf.ini" make 259: the most that fits.
  const std::string fits = folderOfLength(246);
  const std::string tooLong = folderOfLength(247);
  script("setup.exe", {"5"});

  EXPECT_EQ(run("/setProxy", tempIs(fits)), 5u);
  EXPECT_EQ(run("/setProxy", tempIs(tooLong)), 206u);  // ERROR_FILENAME_EXCED_RANGE
  EXPECT_EQ(journal(), Lines{proxyLine(fits + "\\zebpxycf.ini")});
}

TEST_F(SetProxy, TemporaryFolderThatCannotBeReadStartsNothing) {
  EXPECT_NE(run("/setProxy", tempIs(folderOfLength(300))), 0u);
  EXPECT_TRUE(journal().empty());
}
