// In-process: the two fixed packages copied to ".bak" and put back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "front/settings.h"
#include "hook.h"
#include "host/files.h"
#include "host/win.h"
#include "package/backup.h"
#include "sandbox.h"

namespace {

using CopyHook = Hook<LowLevelCopy, &gFileCopy>;
using FlushHook = Hook<LowLevelFlush, &gFileFlush>;

// A copy that stops after this many bytes, as one does when the drive is pulled or fills up.
std::size_t copyLimit = 0;
bool copyStopsShort(const char* from, const char* to) {
  Bytes content = readBytes(from);
  content.resize(std::min(content.size(), copyLimit));
  writeBytes(to, content);
  SetLastError(ERROR_DISK_FULL);
  return false;
}

class Backup : public ::testing::Test {
 protected:
  Backup() : saved(gSettings), drive(box.folder("drive")) {
    std::snprintf(gSettings.appDataPath, sizeof gSettings.appDataPath, "%s", drive.c_str());
  }
  ~Backup() override { gSettings = saved; }

  std::string at(const std::string& name) const { return joinPath(drive, name); }
  void put(const std::string& name, const std::string& content) { writeText(at(name), content); }
  std::string content(const std::string& name) const { return fileExists(at(name)) ? readText(at(name)) : "(none)"; }
  // The content of the four files, in a fixed order, so one comparison shows every one of them.
  std::string state() const {
    return content("prod-ko_u3.vpu") + " | " + content("prod-ko_u3.bak") + " | " + content("silverfern.vpu") + " | " +
           content("silverfern.bak");
  }

  RunSettings saved;
  Sandbox box;
  std::string drive;
};

TEST_F(Backup, BackupThenChangeThenRestoreGivesTheOldContentAndNoBackups) {
  put("prod-ko_u3.vpu", "prod 1");
  put("silverfern.vpu", "fern 1");
  put("setup_ko_u3-1.vpu", "setup");
  EXPECT_EQ(u3BackupVpuFiles(), 0u);
  EXPECT_EQ(state(), "prod 1 | prod 1 | fern 1 | fern 1");

  put("prod-ko_u3.vpu", "prod changed by the installer");
  DeleteFileA(at("silverfern.vpu").c_str());
  EXPECT_EQ(u3RestoreVpuFiles(), 0u);
  EXPECT_EQ(state(), "prod 1 | (none) | fern 1 | (none)");
  EXPECT_EQ(content("setup_ko_u3-1.vpu"), "setup");
}

TEST_F(Backup, ASecondBackupReplacesTheFirst) {
  put("prod-ko_u3.vpu", "prod 1");
  put("silverfern.vpu", "fern 1");
  u3BackupVpuFiles();
  put("prod-ko_u3.vpu", "prod 2");
  put("silverfern.vpu", "fern 2");
  u3BackupVpuFiles();
  EXPECT_EQ(state(), "prod 2 | prod 2 | fern 2 | fern 2");
}

TEST_F(Backup, ASecondRestoreChangesNothing) {
  put("prod-ko_u3.vpu", "prod 1");
  put("silverfern.vpu", "fern 1");
  u3BackupVpuFiles();
  put("prod-ko_u3.vpu", "prod 2");
  u3RestoreVpuFiles();
  put("silverfern.vpu", "fern after the restore");
  EXPECT_EQ(u3RestoreVpuFiles(), 0u);
  EXPECT_EQ(state(), "prod 1 | (none) | fern after the restore | (none)");
}

TEST_F(Backup, WithOnlyOnePackageOnlyItIsBackedUpAndPutBack) {
  put("silverfern.vpu", "fern 1");
  u3BackupVpuFiles();
  EXPECT_EQ(state(), "(none) | (none) | fern 1 | fern 1");
  put("silverfern.vpu", "fern 2");
  u3RestoreVpuFiles();
  EXPECT_EQ(state(), "(none) | (none) | fern 1 | (none)");
}

TEST_F(Backup, AMissingPackageLeavesItsOlderBackupAsItWas) {
  put("prod-ko_u3.bak", "prod from an earlier run");
  put("silverfern.vpu", "fern 1");
  u3BackupVpuFiles();
  EXPECT_EQ(state(), "(none) | prod from an earlier run | fern 1 | fern 1");
  // The leftover backup is what the next restore puts back.
  u3RestoreVpuFiles();
  EXPECT_EQ(state(), "prod from an earlier run | (none) | fern 1 | (none)");
}

TEST_F(Backup, APackageHeldOpenKeepsItsBackupForTheNextRestore) {
  put("prod-ko_u3.vpu", "prod 1");
  put("silverfern.vpu", "fern 1");
  u3BackupVpuFiles();
  put("prod-ko_u3.vpu", "prod 2");
  put("silverfern.vpu", "fern 2");
  {
    // Held open by another program that allows no sharing.
    FileHandle held(CreateFileA(at("prod-ko_u3.vpu").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(u3RestoreVpuFiles(), 0u);
  }
  EXPECT_EQ(state(), "prod 2 | prod 1 | fern 1 | (none)");
  EXPECT_EQ(u3RestoreVpuFiles(), 0u);
  EXPECT_EQ(state(), "prod 1 | (none) | fern 1 | (none)");
}

TEST_F(Backup, AReadOnlyPackageKeepsItsContentAndItsBackup) {
  if (!readOnlyIsHonoured()) GTEST_SKIP() << "read-only files can be overwritten here (Wine run by root)";
  put("prod-ko_u3.vpu", "prod 1");
  put("silverfern.vpu", "fern 1");
  u3BackupVpuFiles();
  put("prod-ko_u3.vpu", "prod 2");
  put("silverfern.vpu", "fern 2");
  makeReadOnly(at("prod-ko_u3.vpu"));
  EXPECT_EQ(u3RestoreVpuFiles(), 0u);
  makeReadOnly(at("prod-ko_u3.vpu"), false);
  EXPECT_EQ(state(), "prod 2 | prod 1 | fern 1 | (none)");
  EXPECT_EQ(u3RestoreVpuFiles(), 0u);
  EXPECT_EQ(state(), "prod 1 | (none) | fern 1 | (none)");
}

// The restore copies nothing: with every copy failing, the backups still become the packages.
TEST_F(Backup, ACopyThatStopsPartWayLeavesEveryFileAsItWasAndTheRestoreNeedsNone) {
  const std::string prod(4000, 'p');
  const std::string fern(3000, 'f');
  for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{1500}, std::size_t{2999}}) {
    SCOPED_TRACE(limit);
    put("prod-ko_u3.vpu", prod);
    put("prod-ko_u3.bak", "prod backed up before");
    put("silverfern.vpu", fern);
    put("silverfern.bak", "fern backed up before");
    const std::string before = state();
    const CopyHook hook(copyStopsShort);
    copyLimit = limit;
    EXPECT_EQ(u3BackupVpuFiles(), 0u);
    EXPECT_EQ(state(), before);
    EXPECT_EQ(folderListing(drive),
              (std::vector<std::string>{"prod-ko_u3.bak", "prod-ko_u3.vpu", "silverfern.bak", "silverfern.vpu"}));
    EXPECT_EQ(u3RestoreVpuFiles(), 0u);
    EXPECT_EQ(state(), "prod backed up before | (none) | fern backed up before | (none)");
    EXPECT_EQ(folderListing(drive), (std::vector<std::string>{"prod-ko_u3.vpu", "silverfern.vpu"}));
  }
}

TEST_F(Backup, AFlushThatFailsKeepsTheOlderBackupAndLeavesNoTemporaryFile) {
  put("prod-ko_u3.vpu", "prod 2");
  put("prod-ko_u3.bak", "prod backed up before");
  const FlushHook hook([](const char*) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  });
  EXPECT_EQ(filReplaceWithCopy(at("prod-ko_u3.vpu"), at("prod-ko_u3.bak")), uint32_t{ERROR_DISK_FULL});
  EXPECT_EQ(state(), "prod 2 | prod backed up before | (none) | (none)");
  EXPECT_EQ(folderListing(drive), (std::vector<std::string>{"prod-ko_u3.bak", "prod-ko_u3.vpu"}));
}

TEST_F(Backup, WithoutAnyFilesNothingHappens) {
  EXPECT_EQ(u3BackupVpuFiles(), 0u);
  EXPECT_EQ(u3RestoreVpuFiles(), 0u);
  EXPECT_EQ(state(), "(none) | (none) | (none) | (none)");
}

}  // namespace
