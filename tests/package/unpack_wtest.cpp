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
#include "write_hook.h"

namespace {

void setFolder(char (&field)[kPathBufferSize], const std::string& value) {
  std::snprintf(field, sizeof field, "%s", value.c_str());
}

Bytes image(const std::string& tag, std::size_t length = 3000) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(tag[i % tag.size()] + i / 97);
  return bytes;
}

int32_t diskFull(int, const void*, uint32_t) {
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
  std::string ownTemporary() const { return setupExe() + "." + std::to_string(GetCurrentProcessId()) + ".tmp"; }

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

TEST_F(Unpack, AFailedWriteKeepsTheOldExecutableAndLeavesNoTemporaryFile) {
  package("setup_ko_u3-1.vpu", image("new"));
  const struct {
    const char* what;
    LowLevelWrite write;
  } table[] = {{"disk full", diskFull}, {"half written", halfWritten}};
  for (const auto& row : table) {
    writeBytes(setupExe(), image("old", 5000));
    {
      WriteHook hook(row.write);
      EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), -1) << row.what;
    }
    EXPECT_EQ(readBytes(setupExe()), image("old", 5000)) << row.what;
    EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"}) << row.what;
  }
  // Nothing written yet either: a failed write never leaves a half executable behind.
  DeleteFileA(setupExe().c_str());
  {
    WriteHook hook(halfWritten);
    EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), -1);
  }
  EXPECT_TRUE(folderListing(host).empty());
}

TEST_F(Unpack, AnExecutableThatCannotBeReplacedStaysAsItWas) {
  package("setup_ko_u3-1.vpu", image("new"));
  writeBytes(setupExe(), image("old"));
  {
    // A running program holds its file without letting it be replaced.
    FileHandle held(CreateFileA(setupExe().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), -1);
  }
  EXPECT_EQ(readBytes(setupExe()), image("old"));
  EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});

  box.folder("host\\KoU3Launcher.exe");
  package("kou3lnch-1.vpu", image("launcher"));
  EXPECT_EQ(u3UnVpuToHostExe("kou3lnch", "KoU3Launcher.exe"), -1);
  EXPECT_TRUE(folderExists(joinPath(host, "KoU3Launcher.exe")));
}

TEST_F(Unpack, TheTemporaryFileIsThisRunsOwn) {
  package("setup_ko_u3-1.vpu", image("new"));
  writeBytes(setupExe(), image("old"));
  // Another run's file is no concern of this one.
  const std::string other = setupExe() + "." + std::to_string(GetCurrentProcessId() + 4) + ".tmp";
  writeText(other, "another run");
  // This run's own name taken by a folder: the image cannot be written at all.
  box.folder("host\\" + ownTemporary().substr(host.size() + 1));
  EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), -1);
  EXPECT_EQ(readBytes(setupExe()), image("old"));
  EXPECT_EQ(readText(other), "another run");

  removeTree(ownTemporary());
  EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), 0);
  EXPECT_EQ(readBytes(setupExe()), image("new"));
  EXPECT_EQ(readText(other), "another run");
  EXPECT_FALSE(fileExists(ownTemporary()));
}

TEST_F(Unpack, AMissingHostFolderGivesMinusOne) {
  package("setup_ko_u3-1.vpu", image("new"));
  setFolder(gSettings.hostExecPath, joinPath(host, "missing"));
  EXPECT_EQ(u3UnVpuToHostExe("setup_ko_u3", "setup.exe"), -1);
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
