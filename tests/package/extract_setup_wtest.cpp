// End to end: kou3upd.exe /extractSetup unpacks the newest installer package into the host folder.
#include <string>
#include <vector>

#include "e2e.h"

namespace {

constexpr uint32_t kNotFound = 0xFFFFFFFF;

Bytes image(const std::string& tag, std::size_t length = 20000) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(tag[i % tag.size()] ^ (i >> 8));
  return bytes;
}

class ExtractSetup : public E2E {
 protected:
  void package(const std::string& name, const Bytes& content) { writeBytes(joinPath(drive, name), vpuPack(content)); }
  std::string setupExe() const { return joinPath(host, "setup.exe"); }
};

TEST_F(ExtractSetup, WritesTheHighestVersionByteForByte) {
  package("setup_ko_u3-9.vpu", image("nine"));
  package("setup_ko_u3-a.vpu", image("ten"));
  package("setup_ko_u3-10.vpu", image("sixteen"));
  EXPECT_EQ(run("/extractSetup"), 0u);
  EXPECT_EQ(readBytes(setupExe()), image("sixteen"));
  EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});
  EXPECT_TRUE(journal().empty());
}

TEST_F(ExtractSetup, AVersionWithoutDigitsIsChosenWhenAlone) {
  package("setup_ko_u3-zz.vpu", image("zz"));
  EXPECT_EQ(run("/extractSetup /silent"), 0u);
  EXPECT_EQ(readBytes(setupExe()), image("zz"));
}

TEST_F(ExtractSetup, NoUsablePackageNameExitsWithAllBitsSet) {
  for (const std::string& name : {"setup_ko_u3--1.vpu", "setup_ko_u3.vpu"}) {
    Sandbox other;
    drive = other.folder("drive");
    package(name, image("unused"));
    EXPECT_EQ(run("/extractSetup"), kNotFound) << name;
    EXPECT_TRUE(folderListing(host).empty()) << name;
  }
}

TEST_F(ExtractSetup, ADamagedNewestPackageFailsWithoutTryingAnOlderOne) {
  writeBytes(setupExe(), image("old"));
  package("setup_ko_u3-1.vpu", image("older but valid"));
  Bytes damaged = vpuPack(image("newest"));
  damaged[30] ^= 0x55;
  writeBytes(joinPath(drive, "setup_ko_u3-2.vpu"), damaged);
  EXPECT_EQ(run("/extractSetup"), kNotFound);
  EXPECT_EQ(readBytes(setupExe()), image("old"));
  EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});
}

TEST_F(ExtractSetup, ALongerExistingSetupEndsUpExactlyTheNewLength) {
  writeBytes(setupExe(), image("old", 300000));
  package("setup_ko_u3-1.vpu", image("new", 4321));
  EXPECT_EQ(run("/extractSetup"), 0u);
  EXPECT_EQ(readBytes(setupExe()), image("new", 4321));
}

TEST_F(ExtractSetup, WithoutTheU3VariablesTheCurrentFolderIsUsed) {
  writeBytes(joinPath(cwd, "setup_ko_u3-1.vpu"), vpuPack(image("here")));
  EXPECT_EQ(run("/extractSetup", {{"U3_APP_DATA_PATH", std::nullopt}, {"U3_HOST_EXEC_PATH", std::nullopt}}), 0u);
  EXPECT_EQ(readBytes(joinPath(cwd, "setup.exe")), image("here"));
  EXPECT_TRUE(folderListing(host).empty());
}

}  // namespace
