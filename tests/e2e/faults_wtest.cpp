// End to end: files that cannot be written, replaced or deleted, a full host folder, and many
// runs at the same time. Nothing is lost, no executable is left half written, and a run that
// could not do its work says so in its exit code.
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"
#include "host/win.h"
#include "images.h"

namespace {

constexpr uint32_t kFailed = 0xFFFFFFFF;
constexpr char kPackage[] = "setup_ko_u3-1.vpu";

class FileFaults : public E2E {
 protected:
  std::string setupExe() const { return joinPath(host, "setup.exe"); }
  std::string onDrive(const std::string& name) const { return joinPath(drive, name); }
  std::string environment(const char* name) const {
    char value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return (length == 0 || length >= sizeof value) ? std::string() : std::string(value, length);
  }
};

TEST_F(FileFaults, ASetupExeHeldOpenIsLeftWhole) {
  const Bytes image = sampleImage(1, 3000);
  const Bytes oldSetup = sampleImage(2, 5000);
  writeBytes(onDrive(kPackage), vpuPack(image));
  const struct {
    const char* what;
    DWORD sharing;
  } table[] = {
      {"held open without sharing", 0},
      {"held open for reading, others allowed to read", FILE_SHARE_READ},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    writeBytes(setupExe(), oldSetup);
    {
      const FileHandle held(
          CreateFileA(setupExe().c_str(), GENERIC_READ, row.sharing, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held);
      EXPECT_EQ(run("/extractSetup"), kFailed);
    }
    EXPECT_EQ(readBytes(setupExe()), oldSetup);
    EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});
  }
  // Let go, the same package replaces it.
  EXPECT_EQ(run("/extractSetup"), 0u);
  EXPECT_EQ(readBytes(setupExe()), image);
}

TEST_F(FileFaults, ARunningSetupExeIsLeftWhole) {
  const Bytes image = sampleImage(1, 3000);
  writeBytes(onDrive(kPackage), vpuPack(image));
  placeDouble("setup.exe");
  const std::string release =
      "kou3-release-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64());
  const KernelHandle event(CreateEventA(nullptr, TRUE, FALSE, release.c_str()));
  ASSERT_TRUE(event);
  script("setup.exe", {"5 hold:" + release});
  uint32_t runningCode = 0;
  std::thread running([&] { runningCode = runProcess(setupExe(), {{"KOU3_DOUBLE_DIR", control}}, cwd); });
  // Once it has written its journal line, it runs from the file.
  for (int wait = 0; wait < 1000 && journal().empty(); ++wait) Sleep(10);
  EXPECT_EQ(run("/extractSetup"), kFailed);
  SetEvent(event.get());
  running.join();
  EXPECT_EQ(runningCode, 5u);
  EXPECT_EQ(readBytes(setupExe()), doubleImage());
  EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});

  EXPECT_EQ(run("/extractSetup"), 0u);
  EXPECT_EQ(readBytes(setupExe()), image);
}

TEST_F(FileFaults, ABackupThatCannotBePutBackIsKept) {
  packDouble("kou3lnch-1.vpu");
  const auto reset = [this] {
    for (const char* name : {"prod-ko_u3.vpu", "silverfern.vpu"}) makeReadOnly(onDrive(name), false);
    writeText(onDrive("prod-ko_u3.vpu"), "prod changed");
    writeText(onDrive("prod-ko_u3.bak"), "prod saved");
    writeText(onDrive("silverfern.vpu"), "fern changed");
    writeText(onDrive("silverfern.bak"), "fern saved");
  };
  const auto state = [this] {
    return readText(onDrive("prod-ko_u3.vpu")) + " | " + readText(onDrive("prod-ko_u3.bak")) + " | " +
           readText(onDrive("silverfern.vpu")) + " | " + readText(onDrive("silverfern.bak"));
  };
  const std::string launcherLine = "KoU3Launcher.exe|" + hostShort() + "\\KoU3Launcher.exe";

  reset();
  {
    const FileHandle held(
        CreateFileA(onDrive("prod-ko_u3.vpu").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(run("/hostConfigure"), 0u);
  }
  EXPECT_EQ(state(), "prod changed | prod saved | fern saved | ");
  // The next job that restores puts it back.
  EXPECT_EQ(run("/hostConfigure"), 0u);
  EXPECT_EQ(state(), "prod saved |  | fern saved | ");

  reset();
  makeReadOnly(onDrive("prod-ko_u3.vpu"));
  EXPECT_EQ(run("/hostConfigure"), 0u);
  if (readOnlyIsHonoured()) {
    EXPECT_EQ(state(), "prod changed | prod saved | fern saved | ");
  } else {
    // Wine run by root writes read-only files: the copy back succeeds, so the backup is done with.
    EXPECT_EQ(state(), "prod saved |  | fern saved | ");
  }
  makeReadOnly(onDrive("prod-ko_u3.vpu"), false);
  EXPECT_EQ(journal(), std::vector<std::string>(3, launcherLine));
}

TEST_F(FileFaults, AReadOnlyFileInTheWorkFolderStaysWithTheFolder) {
  const std::string temp = box.folder("temp");
  const std::string work = joinPath(temp, "kou3_ins");
  packDouble(kPackage);
  writeText(onDrive("notes.txt"), "read-only on the drive");
  makeReadOnly(onDrive("notes.txt"));
  script("setup.exe", {"0 list-storage", "0 list-storage"});
  const std::vector<std::string> drivePackages = folderListing(drive);
  const std::vector<std::string> runJournal = {
      "setup.exe|" + hostShort() + "\\setup.exe /forceinstall /sfx /sfxstorage \"" + work + "\" /savelog \"" +
          hostShort() + "\\u3upd_appStart.log\"",
      "setup.exe|storage: notes.txt " + std::string(kPackage),
  };
  std::vector<std::string> expectedJournal;
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE("run " + std::to_string(pass));
    EXPECT_EQ(run("/appStart", {{"TEMP", temp}}), 0u);
    expectedJournal.insert(expectedJournal.end(), runJournal.begin(), runJournal.end());
    EXPECT_EQ(journal(), expectedJournal);
    // The copy keeps the read-only mark, so it cannot be deleted and its folder cannot go.
    EXPECT_EQ(folderListing(work), std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(folderListing(drive), drivePackages);
  }
}

TEST_F(FileFaults, AFullHostFolderKeepsTheOldSetupExe) {
  const std::string full = environment("KOU3_FULL_FOLDER");
  if (full.empty()) {
    GTEST_SKIP() << "needs a 64 KiB tmpfs as the host folder, which tests/e2e/full_host_folder.sh mounts "
                    "when run as root (KOU3_FULL_FOLDER names it)";
  }
  host = full;
  const Bytes oldSetup = sampleImage(5, 8 << 10);
  const Bytes tooLarge = sampleImage(6, 256 << 10);
  writeBytes(onDrive(kPackage), vpuPack(tooLarge));

  writeBytes(setupExe(), oldSetup);
  EXPECT_EQ(run("/extractSetup"), kFailed);
  EXPECT_EQ(readBytes(setupExe()), oldSetup);
  EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});

  DeleteFileA(setupExe().c_str());
  EXPECT_EQ(run("/extractSetup"), kFailed);
  EXPECT_TRUE(folderListing(host).empty());

  // An image that fits goes in: the folder itself is usable.
  const Bytes fits = sampleImage(7, 16 << 10);
  writeBytes(onDrive(kPackage), vpuPack(fits));
  EXPECT_EQ(run("/extractSetup"), 0u);
  EXPECT_EQ(readBytes(setupExe()), fits);
  DeleteFileA(setupExe().c_str());
}

TEST_F(FileFaults, AWorkFolderThatRunsOutOfRoomReachesNoInstaller) {
  const std::string full = environment("KOU3_FULL_FOLDER");
  if (full.empty()) {
    GTEST_SKIP() << "needs a 64 KiB tmpfs as the temporary folder, which tests/e2e/full_host_folder.sh mounts "
                    "when run as root (KOU3_FULL_FOLDER names it)";
  }
  packDouble(kPackage);
  placeDouble("KernoU3.exe");
  writeBytes(onDrive("large.bin"), sampleImage(8, 256 << 10));
  script("setup.exe", {"0 list-storage"});

  EXPECT_NE(run("/installScan", {{"TEMP", full}}), 0u);
  EXPECT_TRUE(journal().empty());
  EXPECT_TRUE(folderListing(full).empty());
}

using Concurrency = E2E;

// Each run takes its own drive with its own image of the same length, all into one host folder:
// a setup.exe mixed from two runs, or one that a run left half written, cannot go unseen.
TEST_F(Concurrency, RunsAtTheSameTimeLeaveOneWholeSetupExe) {
  constexpr int kRuns = 8;
  constexpr int kRounds = 3;
  std::vector<Bytes> images;
  std::vector<EnvChanges> envs;
  for (int i = 0; i < kRuns; ++i) {
    const std::string ownDrive = box.folder("drive" + std::to_string(i));
    images.push_back(sampleImage(10 + i, 1 << 20));
    writeBytes(joinPath(ownDrive, kPackage), vpuPack(images.back()));
    envs.push_back({{"U3_APP_DATA_PATH", ownDrive}});
  }
  for (int round = 1; round <= kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::vector<uint32_t> codes = runAtOnce("/extractSetup", envs);
    const Bytes written = readBytes(joinPath(host, "setup.exe"));
    bool writtenByASuccessfulRun = false;
    for (int i = 0; i < kRuns; ++i) {
      EXPECT_TRUE(codes[i] == 0 || codes[i] == kFailed) << "run " << i << " ended with " << codes[i];
      if (codes[i] == 0 && written == images[i]) writtenByASuccessfulRun = true;
    }
    EXPECT_TRUE(writtenByASuccessfulRun) << "setup.exe is not the whole image of a run that ended with 0";
    EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});
  }
}

}  // namespace
