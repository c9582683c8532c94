// In-process: the newest package of a name, and the executable written from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "front/settings.h"
#include "host/win.h"
#include "package/unpack.h"
#include "sandbox.h"
#include "hook.h"

namespace {

void setFolder(char (&field)[kPathBufferSize], const std::string& value) {
  std::snprintf(field, sizeof field, "%s", value.c_str());
}

Bytes image(const std::string& tag, std::size_t length = 3000) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(tag[i % tag.size()] + i / 97);
  return bytes;
}

constexpr int32_t kFileNotFound = 2;
constexpr int32_t kDiskFull = 112;

int32_t diskFull(int, const void*, uint32_t) {
  errno = ENOSPC;
  return -1;
}

int commitFails(int) {
  errno = ENOSPC;
  return -1;
}

// Writes half of what it is given, as a disk that fills up during the write does.
int32_t halfWritten(int fd, const void* buffer, uint32_t count) { return WriteHook::original()(fd, buffer, count / 2); }

class Unpack : public ::testing::Test {
 protected:
  Unpack() : saved(gSettings), drive(box.folder("drive")), host(box.folder("host")) {
    setFolder(gSettings.appDataPath, drive);
    setFolder(gSettings.hostExecPath, host);
  }
  ~Unpack() override { gSettings = saved; }

  void package(const std::string& name, const Bytes& content) { writeBytes(joinPath(drive, name), vpuPack(content)); }
  void touch(const std::string& name) { writeText(joinPath(drive, name), "x"); }
  std::string setupExe() const { return joinPath(host, "setup.exe"); }

  RunSettings saved;
  Sandbox box;
  std::string drive;
  std::string host;
};

using FindNewest = Unpack;

TEST_F(FindNewest, TakesTheHighestHexadecimalVersion) {
  const struct {
    std::vector<std::string> files;
    int32_t version;
    std::string chosen;
  } table[] = {
      {{"setup_ko_u3-9.vpu", "setup_ko_u3-a.vpu", "setup_ko_u3-10.vpu"}, 16, "setup_ko_u3-10.vpu"},
      {{"setup_ko_u3-1.vpu", "setup_ko_u3-2.vpu"}, 2, "setup_ko_u3-2.vpu"},
      {{"setup_ko_u3-zz.vpu"}, 0, "setup_ko_u3-zz.vpu"},
      {{"setup_ko_u3-1.2.vpu", "setup_ko_u3-0.vpu"}, 1, "setup_ko_u3-1.2.vpu"},
      {{"setup_ko_u3-0x1F.vpu", "setup_ko_u3-1e.vpu"}, 31, "setup_ko_u3-0x1F.vpu"},
      {{"setup_ko_u3- 7.vpu", "setup_ko_u3-+c.vpu", "setup_ko_u3-b.vpu"}, 12, "setup_ko_u3-+c.vpu"},
      {{"setup_ko_u3-ffffffffff.vpu", "setup_ko_u3-7ffffffe.vpu"}, 0x7FFFFFFF, "setup_ko_u3-ffffffffff.vpu"},
      {{"SETUP_KO_U3-B.VPU", "setup_ko_u3-3.vpu", "kou3lnch-ff.vpu", "setup_ko_u3-ff.bak"}, 11, "SETUP_KO_U3-B.VPU"},
      {{"setup_ko_u3--1.vpu", "setup_ko_u3--ff.vpu", "setup_ko_u3-zz.vpu"}, 0, "setup_ko_u3-zz.vpu"},
  };
  for (const auto& row : table) {
    Sandbox folder;
    for (const std::string& file : row.files) writeText(joinPath(folder.root(), file), "x");
    std::string chosen = "before";
    EXPECT_EQ(filFindNewestVpu(chosen, folder.root().c_str(), "setup_ko_u3"), row.version) << row.chosen;
    EXPECT_EQ(chosen, row.chosen);
  }
}

TEST_F(FindNewest, ChoosesNothingWithoutAVersionedPackage) {
  const std::vector<std::vector<std::string>> table = {
      {},
      {"setup_ko_u3--1.vpu"},
      {"setup_ko_u3.vpu"},
      {"setup_ko_u3-1.bak", "kou3lnch-1.vpu", "setup_ko_u3_1.vpu"},
  };
  for (const auto& files : table) {
    Sandbox folder;
    for (const std::string& file : files) writeText(joinPath(folder.root(), file), "x");
    std::string chosen = "before";
    EXPECT_EQ(filFindNewestVpu(chosen, folder.root().c_str(), "setup_ko_u3"), -1) << files.size();
    EXPECT_EQ(chosen, "before");
  }
  std::string chosen = "before";
  EXPECT_EQ(filFindNewestVpu(chosen, joinPath(drive, "missing").c_str(), "setup_ko_u3"), -1);
  EXPECT_EQ(chosen, "before");
}

TEST_F(FindNewest, OfEqualVersionsTheFirstDeliveredWins) {
  for (const std::string& file : {"setup_ko_u3-0a.vpu", "setup_ko_u3-A.vpu", "setup_ko_u3-00a.vpu", "setup_ko_u3-9.vpu"}) {
    touch(file);
  }
  std::vector<std::string> order = folderListing(drive, false);
  order.erase(std::remove(order.begin(), order.end(), "setup_ko_u3-9.vpu"), order.end());
  std::string chosen;
  EXPECT_EQ(filFindNewestVpu(chosen, drive.c_str(), "setup_ko_u3"), 10);
  EXPECT_EQ(chosen, order.front());
}

TEST_F(FindNewest, AFolderWithAMatchingNameTakesPart) {
  touch("setup_ko_u3-1f.vpu");
  box.folder("drive\\setup_ko_u3-20.vpu");
  std::string chosen;
  EXPECT_EQ(filFindNewestVpu(chosen, drive.c_str(), "setup_ko_u3"), 0x20);
  EXPECT_EQ(chosen, "setup_ko_u3-20.vpu");
}

TEST_F(FindNewest, APackageNameTooLongForThePatternFindsNothing) {
  // "%s-*.vpu" of 254 characters needs 261 bytes with its terminator.
  const std::string name(254, 'p');
  std::string chosen = "before";
  EXPECT_EQ(filFindNewestVpu(chosen, drive.c_str(), name.c_str()), -1);
  EXPECT_EQ(filFindNewestVpu(chosen, "", std::string(5000, 'p').c_str()), -1);
  EXPECT_EQ(chosen, "before");
}

TEST_F(Unpack, TheNewestPackageBecomesTheExecutableByteForByte) {
  package("setup_ko_u3-9.vpu", image("nine"));
  package("setup_ko_u3-a.vpu", image("ten"));
  package("setup_ko_u3-10.vpu", image("sixteen"));
  package("kou3lnch-ff.vpu", image("launcher"));
  const std::vector<std::string> driveBefore = folderListing(drive);
  const Bytes newest = readBytes(joinPath(drive, "setup_ko_u3-10.vpu"));

  EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), 0);
  EXPECT_EQ(readBytes(setupExe()), image("sixteen"));
  EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});
  EXPECT_EQ(folderListing(drive), driveBefore);
  EXPECT_EQ(readBytes(joinPath(drive, "setup_ko_u3-10.vpu")), newest);

  EXPECT_EQ(u3UnVpuToHostExe("kou3lnch", "KoU3Launcher.exe"), 0);
  EXPECT_EQ(readBytes(joinPath(host, "KoU3Launcher.exe")), image("launcher"));
}

TEST_F(Unpack, AnExistingLongerExecutableEndsUpExactlyAsLongAsTheNewImage) {
  writeBytes(setupExe(), image("old", 50000));
  package("setup_ko_u3-1.vpu", image("new", 1234));
  EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), 0);
  EXPECT_EQ(readBytes(setupExe()), image("new", 1234));

  package("setup_ko_u3-2.vpu", {});
  EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), 0);
  EXPECT_TRUE(fileExists(setupExe()));
  EXPECT_TRUE(readBytes(setupExe()).empty());
}

TEST_F(Unpack, NoPackageOrAnUnreadableNewestOneLeavesTheExecutableAlone) {
  writeBytes(setupExe(), image("old"));
  const Bytes newer = vpuPack(image("newer"));
  const struct {
    const char* what;
    std::vector<std::pair<std::string, Bytes>> files;
  } table[] = {
      {"no package", {}},
      {"only --1", {{"setup_ko_u3--1.vpu", vpuPack(image("minus"))}}},
      {"no version", {{"setup_ko_u3.vpu", vpuPack(image("bare"))}}},
      {"newest with a wrong magic",
       {{"setup_ko_u3-1.vpu", vpuPack(image("older"))}, {"setup_ko_u3-2.vpu", Bytes(40, 'Z')}}},
      {"newest truncated",
       {{"setup_ko_u3-1.vpu", vpuPack(image("older"))},
        {"setup_ko_u3-2.vpu", Bytes(newer.begin(), newer.begin() + 60)}}},
      {"newest a folder", {{"setup_ko_u3-1.vpu", vpuPack(image("older"))}, {"setup_ko_u3-2.vpu\\", {}}}},
  };
  for (const auto& row : table) {
    Sandbox folder;
    for (const auto& [name, content] : row.files) {
      if (name.back() == '\\') {
        folder.folder(name.substr(0, name.size() - 1));
      } else {
        writeBytes(joinPath(folder.root(), name), content);
      }
    }
    setFolder(gSettings.appDataPath, folder.root());
    EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), -1) << row.what;
    EXPECT_EQ(readBytes(setupExe()), image("old")) << row.what;
    EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"}) << row.what;
  }
}

// The old executable stays whole and is what the caller starts; with none there, the failed
// step's error code says that nothing can be started.
TEST_F(Unpack, AFailedWriteOrFlushKeepsTheOldExecutableAndLeavesNoTemporaryFile) {
  package("setup_ko_u3-1.vpu", image("new"));
  const struct {
    const char* what;
    LowLevelWrite write;
    LowLevelCommit commit;
  } table[] = {{"disk full", diskFull, gFileStreamCommit},
               {"half written", halfWritten, gFileStreamCommit},
               {"flush fails", gFileStreamWrite, commitFails}};
  for (const auto& row : table) {
    writeBytes(setupExe(), image("old", 5000));
    {
      WriteHook hook(row.write);
      CommitHook commit(row.commit);
      EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), 0) << row.what;
    }
    EXPECT_EQ(readBytes(setupExe()), image("old", 5000)) << row.what;
    EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"}) << row.what;

    DeleteFileA(setupExe().c_str());
    {
      WriteHook hook(row.write);
      CommitHook commit(row.commit);
      EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), kDiskFull) << row.what;
    }
    EXPECT_TRUE(folderListing(host).empty()) << row.what;
  }
}

TEST_F(Unpack, AnExecutableThatCannotBeReplacedStaysAsItWas) {
  package("setup_ko_u3-1.vpu", image("new"));
  writeBytes(setupExe(), image("old"));
  {
    // A running program holds its file without letting it be replaced.
    FileHandle held(CreateFileA(setupExe().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), 0);
  }
  EXPECT_EQ(readBytes(setupExe()), image("old"));
  EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});

  // A folder is nothing to start.
  box.folder("host\\KoU3Launcher.exe");
  package("kou3lnch-1.vpu", image("launcher"));
  const int32_t result = u3UnVpuToHostExe("kou3lnch", "KoU3Launcher.exe");
  EXPECT_NE(result, 0);
  EXPECT_NE(result, -1);
  EXPECT_TRUE(folderExists(joinPath(host, "KoU3Launcher.exe")));
  EXPECT_EQ(folderListing(host), (std::vector<std::string>{"KoU3Launcher.exe\\", "setup.exe"}));
}

// Leftovers of runs that were stopped go before a write; only files of the exact pattern whose
// run is over, and that nobody holds, are deleted.
TEST_F(Unpack, LeftoverTemporaryFilesOfEndedRunsAreDeleted) {
  package("setup_ko_u3-1.vpu", image("new"));
  writeBytes(setupExe(), image("old"));
  // A run that is still going, by its process id.
  PROCESS_INFORMATION live{};
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string line = "\"" + joinPath(binFolder(), "suite_double.exe") + "\"";
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                             &startup, &live));
  const KernelHandle process(live.hProcess);
  const KernelHandle thread(live.hThread);
  const std::string ofEndedRuns[] = {"setup.exe.kou3upd-1.tmp", "setup.exe.kou3upd-4000000000.tmp",
                                     "setup.exe.kou3upd-" + std::to_string(GetCurrentProcessId()) + ".tmp"};
  const std::string kept[] = {"setup.exe.kou3upd-" + std::to_string(live.dwProcessId) + ".tmp",
                              "setup.exe.kou3upd-5.tmp.bak", "setup.exe.kou3upd-.tmp", "setup.exe.kou3upd-5x.tmp",
                              "setup.exe.1234.tmp", "KoU3Launcher.exe.kou3upd-5.tmp", "setup.exe.kou3upd-9.tmp"};
  for (const std::string& name : ofEndedRuns) writeText(joinPath(host, name), "left");
  for (const std::string& name : kept) writeText(joinPath(host, name), "kept");
  makeReadOnly(joinPath(host, ofEndedRuns[0]));
  box.folder("host\\setup.exe.kou3upd-10.tmp");
  // Still held by a run that is writing it.
  const FileHandle held(
      CreateFileA(joinPath(host, "setup.exe.kou3upd-9.tmp").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);

  EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), 0);
  TerminateProcess(process.get(), 0);
  EXPECT_EQ(readBytes(setupExe()), image("new"));
  std::vector<std::string> expected(std::begin(kept), std::end(kept));
  expected.push_back("setup.exe");
  expected.push_back("setup.exe.kou3upd-10.tmp\\");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(folderListing(host), expected);
}

TEST_F(Unpack, AMissingHostFolderGivesTheWriteError) {
  package("setup_ko_u3-1.vpu", image("new"));
  setFolder(gSettings.hostExecPath, joinPath(host, "missing"));
  EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), kFileNotFound);
  EXPECT_FALSE(folderExists(joinPath(host, "missing")));
}

TEST_F(Unpack, EmptyFoldersMeanTheCurrentFolder) {
  char before[MAX_PATH];
  GetCurrentDirectoryA(sizeof before, before);
  ASSERT_TRUE(SetCurrentDirectoryA(drive.c_str()));
  package("setup_ko_u3-3.vpu", image("here"));
  gSettings.appDataPath[0] = '\0';
  gSettings.hostExecPath[0] = '\0';
  const int32_t result = u3UnVpuToHostExe("setup_ko_u3", "setup.exe");
  SetCurrentDirectoryA(before);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(readBytes(joinPath(drive, "setup.exe")), image("here"));
}

}  // namespace
