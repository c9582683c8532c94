// The installer jobs driven with a real installer, built by NSIS for 32-bit and 64-bit Windows:
// its stub checks its whole image against its own checksum before it runs, parses its own
// command line and sets its own exit code.
#include <algorithm>
#include <cstdlib>

#include "jobs_e2e.h"

namespace {

class RealInstaller : public JobsE2E, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    // Where 32-bit programs do not run, the 32-bit installer cannot: tools/wine-env says why.
    const char* no32 = std::getenv("KOU3_32BIT_NOT_RUN");
    if (no32 && std::string(GetParam()).find("x86") != std::string::npos)
      GTEST_SKIP() << "32-bit suite NOT RUN: " << no32;
    const Bytes image = readBytes(joinPath(binFolder(), GetParam()));
    ASSERT_FALSE(image.empty());
    writeBytes(joinPath(drive, "setup_ko_u3-1.vpu"), vpuPack(image));
  }
  std::string line(const std::string& switches) const { return "setup.exe|" + installer() + switches; }
  std::string savelog(const char* name) const { return " /savelog \"" + hostShort() + "\\" + name + "\""; }
};

// Renamed away, the first installer can only run again if the repeat unpacked it afresh.
TEST_P(RealInstaller, UpdatePkgsRepeatsUnpackedAfreshThenVerifies) {
  script("setup.exe", {"0x20000010 environment move-self:first.exe", "0x80000000", "0xFFFFFFFF"});
  EXPECT_EQ(run("/updatePkgs /silent /hwnd 77", tempEnv()), 0x80000000u);
  const std::string pkgs = line(" /downloadpkgs" + savelog("u3upd_pkgs.log"));
  EXPECT_EQ(journal(), (Lines{pkgs + " /silent /hwnd 77",
                              "setup.exe|U3_APP_DATA_PATH=" + drive + " U3_HOST_EXEC_PATH=" + host,
                              pkgs + " /silent /hwnd 77", pkgs + " /verifypkgs /silent /hwnd 77"}));
}

TEST_P(RealInstaller, OtherJobsPassTheirLinesAndResultsAndCheckUpdatePutsThePackagesBack) {
  writeText(joinPath(drive, "prod-ko_u3.vpu"), "prod");
  writeText(joinPath(drive, "silverfern.vpu"), "fern");
  script("setup.exe", {"0xFFFFFFFF touch-packages", "0x20000011", "0xFFFFFFFE"});
  EXPECT_EQ(run("/checkUpdate /silent", tempEnv()), 0xFFFFFFFFu);
  EXPECT_EQ(readText(joinPath(drive, "prod-ko_u3.vpu")) + "|" + readText(joinPath(drive, "silverfern.vpu")),
            "prod|fern");
  EXPECT_EQ(run("/updateFiles /progress", tempEnv()), 0x20000011u);
  EXPECT_EQ(run("/runSetup /q \"a b\"", tempEnv()), 0xFFFFFFFEu);
  EXPECT_EQ(journal(), (Lines{line(" /checkupdate"), line(" /refresh" + savelog("u3upd_files.log") + " /silent /progress"),
                              line(" /q \"a b\"")}));
  EXPECT_EQ(folderListing(drive), (Lines{"prod-ko_u3.vpu", "setup_ko_u3-1.vpu", "silverfern.vpu"}));
}

TEST_P(RealInstaller, AppStartHandsItACopyOfTheDrive) {
  writeText(joinPath(drive, "a.txt"), "first");
  script("setup.exe", {"0x20000012 list-storage"});
  EXPECT_EQ(run("/appStart", tempEnv()), 0x20000012u);
  Lines lines = journal();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], line(" /forceinstall /sfx /sfxstorage \"" + work() + "\"" + savelog("u3upd_appStart.log")));
  std::sort(lines.begin() + 1, lines.end());
  EXPECT_EQ(lines, (Lines{lines[0], "setup.exe|stored: a.txt", "setup.exe|stored: setup_ko_u3-1.vpu"}));
  EXPECT_FALSE(folderExists(work()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, RealInstaller, ::testing::Values("real_installer_x86.exe", "real_installer_amd64.exe"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).substr(15, info.param[15] == 'x' ? 3 : 5);
                         });

}  // namespace
