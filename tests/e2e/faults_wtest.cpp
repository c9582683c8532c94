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

constexpr char kPackage[] = "setup_ko_u3-1.vpu";
// A file held for good costs a job about 2 s of waiting, the start of the program included.
constexpr ULONGLONG kHeldForGoodMs = 4000;

class FileFaults : public E2E {
 protected:
  std::string setupExe() const { return joinPath(host, "setup.exe"); }
  std::string onDrive(const std::string& name) const { return joinPath(drive, name); }
  void forgetJournal() const { writeText(joinPath(control, "journal.txt"), ""); }
  std::string environment(const char* name) const {
    char value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return (length == 0 || length >= sizeof value) ? std::string() : std::string(value, length);
  }
};

// Opens path without letting others replace it, as a scanner or a running program does, and
// lets it go after holdMs, or when the object goes.
class Holder {
 public:
  Holder(const std::string& path, DWORD sharing, DWORD holdMs)
      : file_(CreateFileA(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr)) {
    EXPECT_TRUE(file_) << path;
    if (holdMs != kForGood) letGo_ = std::thread([this, holdMs] {
      Sleep(holdMs);
      file_.reset();
    });
  }
  ~Holder() {
    if (letGo_.joinable()) letGo_.join();
  }
  static constexpr DWORD kForGood = INFINITE;

 private:
  FileHandle file_;
  std::thread letGo_;
};

// A brief hold is waited out; one held for good costs at most about 2 s, and the old file stays.
TEST_F(FileFaults, ASetupExeHeldOpenIsWaitedForOrLeftWhole) {
  const Bytes image = sampleImage(1, 3000);
  const Bytes oldSetup = sampleImage(2, 5000);
  writeBytes(onDrive(kPackage), vpuPack(image));
  const struct {
    const char* what;
    DWORD sharing;
    DWORD holdMs;
    const Bytes& after;
  } table[] = {
      {"let go after 0.5 s", 0, 500, image},
      {"held without sharing", 0, Holder::kForGood, oldSetup},
      {"held for reading, others allowed to read", FILE_SHARE_READ, Holder::kForGood, oldSetup},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    writeBytes(setupExe(), oldSetup);
    {
      const Holder held(setupExe(), row.sharing, row.holdMs);
      const ULONGLONG start = GetTickCount64();
      EXPECT_EQ(run("/extractSetup"), 0u);
      EXPECT_LT(GetTickCount64() - start, kHeldForGoodMs);
    }
    EXPECT_EQ(readBytes(setupExe()), row.after);
    EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});
  }
}

// A running program cannot be replaced: the job starts the one that stands there. Without any,
// the write's error says so.
TEST_F(FileFaults, ARunningProgramIsLeftWholeAndStartedAgain) {
  const struct {
    const char* job;
    const char* program;
    const char* package;
    std::vector<std::string> startedLines;
  } table[] = {
      {"/extractSetup", "setup.exe", kPackage, {}},
      {"/hostConfigure", "KoU3Launcher.exe", "kou3lnch-1.vpu", {"KoU3Launcher.exe|" + hostShort() + "\\KoU3Launcher.exe"}},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.job);
    const std::string path = joinPath(host, row.program);
    writeBytes(onDrive(row.package), vpuPack(sampleImage(1, 3000)));
    placeDouble(row.program);
    forgetJournal();
    const std::string release =
        "kou3-release-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64());
    const KernelHandle event(CreateEventA(nullptr, TRUE, FALSE, release.c_str()));
    ASSERT_TRUE(event);
    script(row.program, {"5 hold:" + release, "0"});
    uint32_t runningCode = 0;
    std::thread running([&] { runningCode = runProcess(path, {{"KOU3_DOUBLE_DIR", control}}, cwd); });
    // Once it has written its journal line, it runs from the file.
    for (int wait = 0; wait < 1000 && journal().empty(); ++wait) Sleep(10);
    const std::string trace = joinPath(box.root(), std::string(row.program) + ".trace");
    EXPECT_EQ(run(row.job, {{"KOU3UPD_TRACE", trace}}), 0u);
    SetEvent(event.get());
    running.join();
    // Windows refuses to replace a running program (5): traced as a refusal, not as a file in use.
    const std::vector<std::string> waits = traceSteps(trace, {"busy", "refused"});
    ASSERT_EQ(waits.size(), 12u);
    EXPECT_EQ(waits.front(), "refused " + hostShort() + "\\" + row.program + ": error 5, trying again in 10 ms");
    EXPECT_EQ(waits.back(), "refused " + hostShort() + "\\" + row.program + ": error 5, given up");
    EXPECT_EQ(runningCode, 5u);
    EXPECT_EQ(readBytes(path), doubleImage());
    std::vector<std::string> journalLines = {std::string(row.program) + "|" + path};
    journalLines.insert(journalLines.end(), row.startedLines.begin(), row.startedLines.end());
    EXPECT_EQ(journal(), journalLines);
    EXPECT_EQ(folderListing(host), std::vector<std::string>{row.program});
    DeleteFileA(path.c_str());
    DeleteFileA(onDrive(row.package).c_str());
  }
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

  // Let go while the job waits: put back as if it had never been held.
  reset();
  {
    const Holder held(onDrive("prod-ko_u3.vpu"), 0, 500);
    EXPECT_EQ(run("/hostConfigure"), 0u);
  }
  EXPECT_EQ(state(), "prod saved |  | fern saved | ");

  reset();
  {
    const Holder held(onDrive("prod-ko_u3.vpu"), 0, Holder::kForGood);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(run("/hostConfigure"), 0u);
    EXPECT_LT(GetTickCount64() - start, kHeldForGoodMs);
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
  EXPECT_EQ(journal(), std::vector<std::string>(4, launcherLine));
}

// A read-only mark does not go away, so it is not waited for: the job takes no longer than with
// a writable file.
TEST_F(FileFaults, AReadOnlyFileInTheWorkFolderStaysWithTheFolder) {
  const std::string temp = box.folder("temp");
  const std::string work = joinPath(temp, "kou3_ins");
  packDouble(kPackage);
  writeText(onDrive("notes.txt"), "writable on the drive");
  script("setup.exe", {"0", "0 list-storage", "0 list-storage"});
  ULONGLONG started = GetTickCount64();
  EXPECT_EQ(run("/appStart", {{"TEMP", box.folder("temp-writable")}}), 0u);
  const ULONGLONG writableMs = GetTickCount64() - started;
  forgetJournal();

  writeText(onDrive("notes.txt"), "read-only on the drive");
  makeReadOnly(onDrive("notes.txt"));
  const std::vector<std::string> drivePackages = folderListing(drive);
  const std::vector<std::string> runJournal = {
      "setup.exe|" + hostShort() + "\\setup.exe /forceinstall /sfx /sfxstorage \"" + work + "\" /savelog \"" +
          hostShort() + "\\u3upd_appStart.log\"",
      "setup.exe|storage: notes.txt " + std::string(kPackage),
  };
  std::vector<std::string> expectedJournal;
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE("run " + std::to_string(pass));
    started = GetTickCount64();
    EXPECT_EQ(run("/appStart", {{"TEMP", temp}}), 0u);
    EXPECT_LT(GetTickCount64() - started, writableMs + 1500);
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

  // The old one stays and is what a job would start.
  writeBytes(setupExe(), oldSetup);
  EXPECT_EQ(run("/extractSetup"), 0u);
  EXPECT_EQ(readBytes(setupExe()), oldSetup);
  EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});

  // Nothing to start: the write's own error code, never success nor "no package" (Wine's run-time
  // reports a write cut short by a full disk as an invalid argument, 87).
  DeleteFileA(setupExe().c_str());
  const uint32_t code = run("/extractSetup");
  EXPECT_NE(code, 0u);
  EXPECT_NE(code, 0xFFFFFFFFu);
  EXPECT_TRUE(folderListing(host).empty());

  // An image that fits goes in: the folder itself is usable.
  const Bytes fits = sampleImage(7, 16 << 10);
  writeBytes(onDrive(kPackage), vpuPack(fits));
  EXPECT_EQ(run("/extractSetup"), 0u);
  EXPECT_EQ(readBytes(setupExe()), fits);
  DeleteFileA(setupExe().c_str());
}

// Any instant of a job may be its last: killed, drive pulled, power cut. Each row kills a run once
// the temporary file of one of its copies or writes holds a share of its bytes, or while its
// installer runs (a restore renames, so it has no part-way). Then every file must be whole, and
// after the next job that puts back backups and the same job again, each package is the one the
// job meant to keep and no temporary file is left.
TEST_F(FileFaults, ARunKilledMidCopyOrWriteLeavesEveryFileWhole) {
  enum class Stage { Backup, Installer, Unpack };
  constexpr std::size_t kLarge = 64 << 20;
  const Bytes prod = largeImage(1, kLarge);
  const std::string touched = "rewritten by the installer";
  const Bytes prodTouched(touched.begin(), touched.end());
  const Bytes fern = sampleImage(3, 5000);
  const Bytes oldSetup = sampleImage(4, 4000);
  const Bytes newSetup = largeImage(5, kLarge);
  const Bytes newSetupPackage = vpuPack(newSetup);
  const Bytes installerPackage = vpuPack(doubleImage());
  const std::string release = "kou3-killed-" + std::to_string(GetCurrentProcessId());
  const KernelHandle released(CreateEventA(nullptr, TRUE, FALSE, release.c_str()));

  const auto prepare = [&](Stage stage) {
    for (const std::string& name : folderListing(drive)) DeleteFileA(onDrive(name).c_str());
    writeBytes(onDrive("prod-ko_u3.vpu"), prod);
    writeBytes(onDrive("silverfern.vpu"), fern);
    writeBytes(onDrive(kPackage), stage == Stage::Unpack ? newSetupPackage : installerPackage);
    writeBytes(setupExe(), oldSetup);
    script("setup.exe", {stage == Stage::Installer ? "0 touch-packages hold:" + release : "0 touch-packages",
                         "0 touch-packages"});
  };
  const struct {
    Stage stage;
    const char* job;
    std::string watched;  // the file whose temporary copy is watched; none: the installer's run
  } stages[] = {
      {Stage::Backup, "/checkUpdate", onDrive("prod-ko_u3.bak")},
      {Stage::Installer, "/checkUpdate", ""},
      {Stage::Unpack, "/extractSetup", setupExe()},
  };
  const auto temporaries = [this] {
    std::vector<std::string> found;
    for (const std::string& folder : {drive, host}) {
      for (const std::string& name : folderListing(folder)) {
        if (name.find(".kou3upd-") != std::string::npos) found.push_back(name);
      }
    }
    return found;
  };

  for (const auto& row : stages) {
    for (const double share : row.watched.empty() ? std::vector<double>{0} : std::vector<double>{0.1, 0.4, 0.7}) {
      SCOPED_TRACE(std::string(row.job) + " watching " + row.watched + " at " + std::to_string(share));
      bool killedMidway = false;
      // A loaded machine may let the write outrun the watching: then the run is made again.
      for (int attempt = 0; attempt < 5 && !killedMidway; ++attempt) {
        prepare(row.stage);
        ResetEvent(released.get());
        const Started started = start(row.job);
        ASSERT_TRUE(started.process);
        const std::string temporary = row.watched + ".kou3upd-" + std::to_string(started.id) + ".tmp";
        while (WaitForSingleObject(started.process.get(), 0) == WAIT_TIMEOUT) {
          WIN32_FILE_ATTRIBUTE_DATA data;
          const bool seen = GetFileAttributesExA(
              row.watched.empty() ? onDrive("prod-ko_u3.vpu").c_str() : temporary.c_str(), GetFileExInfoStandard, &data);
          if (seen && (row.watched.empty() ? data.nFileSizeLow == prodTouched.size()
                                           : data.nFileSizeLow >= static_cast<DWORD>(share * kLarge))) {
            TerminateProcess(started.process.get(), 1);
            killedMidway = row.watched.empty() || data.nFileSizeLow < kLarge;
            break;
          }
        }
        WaitForSingleObject(started.process.get(), INFINITE);
        SetEvent(released.get());
      }
      ASSERT_TRUE(killedMidway) << "the run was not stopped part-way";

      // Whole files only, whichever they are.
      const Bytes prodNow = readBytes(onDrive("prod-ko_u3.vpu"));
      EXPECT_TRUE(prodNow == prod || prodNow == prodTouched);
      if (fileExists(onDrive("prod-ko_u3.bak"))) EXPECT_TRUE(readBytes(onDrive("prod-ko_u3.bak")) == prod);
      if (fileExists(onDrive("silverfern.bak"))) EXPECT_TRUE(readBytes(onDrive("silverfern.bak")) == fern);
      const Bytes setupNow = readBytes(setupExe());
      EXPECT_TRUE(setupNow == oldSetup || setupNow == newSetup || setupNow == doubleImage());

      if (row.stage != Stage::Unpack) run("/hostConfigure");
      run(row.job);
      if (row.stage == Stage::Unpack) {
        EXPECT_TRUE(readBytes(setupExe()) == newSetup);
      } else {
        EXPECT_TRUE(readBytes(onDrive("prod-ko_u3.vpu")) == prod);
        EXPECT_EQ(readBytes(onDrive("silverfern.vpu")), fern);
        EXPECT_FALSE(fileExists(onDrive("prod-ko_u3.bak")));
        EXPECT_FALSE(fileExists(onDrive("silverfern.bak")));
      }
      EXPECT_EQ(temporaries(), std::vector<std::string>());
    }
  }
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
      // setup.exe stands from the first rename on, so a run that could not replace it starts that one.
      EXPECT_EQ(codes[i], 0u) << "run " << i;
      if (codes[i] == 0 && written == images[i]) writtenByASuccessfulRun = true;
    }
    EXPECT_TRUE(writtenByASuccessfulRun) << "setup.exe is not the whole image of a run that ended with 0";
    EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});
  }
}

}  // namespace
