// End to end: damaged packages and U3 variables holding anything. kou3upd.exe never crashes,
// never loses or half-writes a file, and ends with a code that says what happened.
#include <optional>
#include <string>
#include <vector>

#include "e2e.h"
#include "host/win.h"
#include "images.h"

namespace {

constexpr uint32_t kFailed = 0xFFFFFFFF;
constexpr uint32_t kFileNotFound = 2;
constexpr std::size_t kHeaderSize = 24;
constexpr uint64_t kMemoryBound = 64ull << 20;
constexpr char kPackage[] = "setup_ko_u3-1.vpu";
constexpr char kAppData[] = "U3_APP_DATA_PATH";
constexpr char kHostExec[] = "U3_HOST_EXEC_PATH";

struct PackageCase {
  std::string what;
  Bytes package;
};

Bytes withSizes(Bytes package, uint32_t imageSize, uint32_t bodySize) {
  putUInt32LE(package, 16, imageSize);
  putUInt32LE(package, 20, bodySize);
  return package;
}

Bytes withTail(Bytes package) {
  package.insert(package.end(), 100, 0xA5);
  return package;
}

// Packages of image that must not unpack, made from valid.
std::vector<PackageCase> damagedPackages(const Bytes& image, const Bytes& valid) {
  const std::size_t size = valid.size();
  const std::size_t body = size - kHeaderSize;
  const auto imageSize = static_cast<uint32_t>(image.size());
  const auto bodySize = static_cast<uint32_t>(body);
  const auto cut = [&](std::size_t length) { return Bytes(valid.begin(), valid.begin() + length); };
  const auto flip = [&](std::size_t at, uint8_t bits) {
    Bytes package = valid;
    package[at] ^= bits;
    return package;
  };
  return {
      {"0-byte package", cut(0)},
      {"cut to 1 byte", cut(1)},
      {"cut to 15 bytes, inside the magic", cut(15)},
      {"cut to 16 bytes, the magic alone", cut(16)},
      {"cut to 23 bytes, inside the body size", cut(23)},
      {"cut to 24 bytes, the header alone", cut(24)},
      {"cut to 25 bytes, one body byte", cut(25)},
      {"cut in the middle of the body", cut(kHeaderSize + body / 2)},
      {"last byte missing", cut(size - 1)},
      {"magic: one letter in the other case", flip(0, 0x20)},
      {"magic: a bit flipped in its last byte", flip(15, 0x01)},
      {"zlib header: a bit flipped", flip(kHeaderSize, 0x01)},
      {"deflate data: a bit flipped in the middle", flip(kHeaderSize + body / 2, 0x10)},
      {"Adler-32: a bit flipped in its first byte", flip(size - 4, 0x01)},
      {"Adler-32: a bit flipped in its last byte", flip(size - 1, 0x80)},
      {"image size 0", withSizes(valid, 0, bodySize)},
      {"image size one byte too small", withSizes(valid, imageSize - 1, bodySize)},
      {"body size 0", withSizes(valid, imageSize, 0)},
      {"body size one byte too small", withSizes(valid, imageSize, bodySize - 1)},
  };
}

// Packages of image whose header claims more than the truth. The reader takes only the bytes
// that the file holds and reserves only what they can inflate to, and inflating stops at the end
// of the zlib stream: each still gives exactly the image.
std::vector<PackageCase> overstatedPackages(const Bytes& image, const Bytes& valid) {
  const auto imageSize = static_cast<uint32_t>(image.size());
  const auto bodySize = static_cast<uint32_t>(valid.size() - kHeaderSize);
  return {
      {"valid", valid},
      {"image size one byte too large", withSizes(valid, imageSize + 1, bodySize)},
      // Room is reserved for what the body can inflate to, not for 4 GiB.
      {"image size 0xFFFFFFFF", withSizes(valid, 0xFFFFFFFF, bodySize)},
      // Only the bytes after the header are read, and they hold the whole zlib stream.
      {"body size 0xFFFFFFFF, the file ending right after the body", withSizes(valid, imageSize, 0xFFFFFFFF)},
      {"both sizes 0xFFFFFFFF, the file ending right after the body", withSizes(valid, 0xFFFFFFFF, 0xFFFFFFFF)},
      {"body size 100 beyond the zlib stream, 100 other bytes following",
       withTail(withSizes(valid, imageSize, bodySize + 100))},
      {"other bytes after the body", withTail(valid)},
  };
}

class DamagedPackages : public E2E {
 protected:
  std::string setupExe() const { return joinPath(host, "setup.exe"); }

  // /extractSetup with package as the drive's only package, which must stay as it was.
  uint32_t extractFrom(const Bytes& package) {
    const std::string path = joinPath(drive, kPackage);
    writeBytes(path, package);
    const uint32_t code = run("/extractSetup");
    EXPECT_EQ(readBytes(path), package);
    EXPECT_EQ(folderListing(drive), std::vector<std::string>{kPackage});
    return code;
  }

  const Bytes image = sampleImage(1, 3000);
  const Bytes valid = vpuPack(image);
  const Bytes oldSetup = sampleImage(2, 5000);
};

TEST_F(DamagedPackages, EachFailsWithAllBitsSetAndTouchesNoHostFile) {
  for (const PackageCase& c : damagedPackages(image, valid)) {
    SCOPED_TRACE(c.what);
    writeBytes(setupExe(), oldSetup);
    EXPECT_EQ(extractFrom(c.package), kFailed);
    EXPECT_EQ(readBytes(setupExe()), oldSetup);
    EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});

    DeleteFileA(setupExe().c_str());
    EXPECT_EQ(extractFrom(c.package), kFailed);
    EXPECT_TRUE(folderListing(host).empty());
  }
  // A body cut short is traced in vpupack's words.
  const std::string trace = joinPath(box.root(), "trace.txt");
  writeBytes(joinPath(drive, kPackage), Bytes(valid.begin(), valid.end() - 1));
  EXPECT_EQ(run("/extractSetup", {{"KOU3UPD_TRACE", trace}}), kFailed);
  EXPECT_EQ(traceSteps(trace, {"read "}), std::vector<std::string>{"read " + driveShort() + "\\" + kPackage +
                                                                   ": refused, body ends before its zlib stream does (code -5)"});
}

TEST_F(DamagedPackages, OverstatedSizesStillGiveExactlyTheImage) {
  for (const PackageCase& c : overstatedPackages(image, valid)) {
    SCOPED_TRACE(c.what);
    writeBytes(setupExe(), oldSetup);
    EXPECT_EQ(extractFrom(c.package), 0u);
    EXPECT_EQ(readBytes(setupExe()), image);
    EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});
  }
}

TEST_F(DamagedPackages, AFolderNamedLikeTheNewestPackageFails) {
  writeBytes(joinPath(drive, kPackage), valid);
  box.folder("drive\\setup_ko_u3-5.vpu");
  writeBytes(setupExe(), oldSetup);
  EXPECT_EQ(run("/extractSetup"), kFailed);
  EXPECT_EQ(readBytes(setupExe()), oldSetup);
  EXPECT_EQ(folderListing(host), std::vector<std::string>{"setup.exe"});

  // Alone, with no executable in the host folder yet.
  DeleteFileA(joinPath(drive, kPackage).c_str());
  DeleteFileA(setupExe().c_str());
  EXPECT_EQ(run("/extractSetup"), kFailed);
  EXPECT_TRUE(folderListing(host).empty());
  EXPECT_EQ(folderListing(drive), std::vector<std::string>{"setup_ko_u3-5.vpu\\"});
}

// Sizes that a 32-bit process cannot hold, on either exe: an image near 4 GiB, or a body and an
// image that together pass 2 GiB. The body is a hole of zeros: it takes no room on the disk, and
// it does not inflate.
TEST_F(DamagedPackages, SizesPastWhatA32BitProcessHoldsFailWithoutACrash) {
  const Bytes header(valid.begin(), valid.begin() + kHeaderSize);
  const std::string path = joinPath(drive, kPackage);
  for (const auto& [imageSize, bodySize] : {std::pair{0xFFFFFFF0u, 5u << 20}, std::pair{0x60000000u, 0x28000000u}}) {
    SCOPED_TRACE(imageSize);
    writeBytes(path, withSizes(header, imageSize, bodySize));
    {
      const FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      LARGE_INTEGER end;
      end.QuadPart = kHeaderSize + bodySize;
      ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.get()));
    }
    writeBytes(setupExe(), oldSetup);
    EXPECT_EQ(run("/extractSetup"), kFailed);
    EXPECT_EQ(readBytes(setupExe()), oldSetup);
  }
}

TEST_F(DamagedPackages, HugeSizeClaimsKeepMemorySmall) {
  Bytes header(valid.begin(), valid.begin() + kHeaderSize);
  const struct {
    const char* what;
    Bytes package;
    uint32_t code;
  } table[] = {
      {"24 bytes claiming a 4 GiB image and a 4 GiB body", withSizes(header, 0xFFFFFFFF, 0xFFFFFFFF), kFailed},
      {"the same claims, the whole body following", withSizes(valid, 0xFFFFFFFF, 0xFFFFFFFF), 0},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    writeBytes(joinPath(drive, kPackage), row.package);
    MemoryPeak peak;
    EXPECT_EQ(run("/extractSetup", {}, &peak), row.code);
    if (peak.workingSet == 0) GTEST_SKIP() << "this system does not report a child's peak working set";
    EXPECT_LT(peak.workingSet, kMemoryBound);
    EXPECT_LT(peak.commit, kMemoryBound);
  }
}

// What a U3 variable may hold. folder is the folder that the value names in a usable way; empty
// when the program must take the value for no folder at all.
struct FolderValue {
  std::string what;
  std::optional<EnvValue> value;
  std::string folder;
};

// path followed by "\." until it is length characters long (and a last "\" if one is missing):
// still that folder, but too long for the program's 260-byte fields.
std::string padded(std::string path, std::size_t length) {
  while (path.size() + 2 <= length) path += "\\.";
  if (path.size() < length) path += '\\';
  return path;
}

std::vector<FolderValue> folderValues(const Sandbox& box, const std::string& realFolder) {
  const std::string blanks = box.folder("folder with blanks");
  const std::string accented = box.folder("donn\xE9" "es");  // "données" in code page 1252
  // "хост", outside code page 1252: usable through its short form alone, which is plain ASCII.
  const std::wstring cyrillic = box.folder(std::wstring(L"\x0445\x043E\x0441\x0442"));
  return {
      {"unset", std::nullopt, ""},
      {"empty", std::string(), ""},
      {"a missing folder", joinPath(box.root(), "missing"), ""},
      {"300 characters naming a real folder", padded(realFolder, 300), ""},
      {"4000 characters naming a real folder", padded(realFolder, 4000), ""},
      {"a folder with blanks", blanks, blanks},
      {"a folder with a non-ASCII character", accented, accented},
      {"a folder named outside the ANSI code page", cyrillic, shortPath(cyrillic)},
  };
}

class Environment : public E2E {
 protected:
  Environment() {
    if (GetACP() != 1252) ADD_FAILURE() << "the non-ASCII names are written for code page 1252, not " << GetACP();
  }
  void forgetJournal() const { DeleteFileA(joinPath(control, "journal.txt").c_str()); }
};

TEST_F(Environment, AppStopStartsFromTheHostFolderOrByTheBareName) {
  placeDouble("KernoU3.exe");
  for (const FolderValue& v : folderValues(box, host)) {
    SCOPED_TRACE(v.what);
    forgetJournal();
    if (!v.folder.empty()) {
      writeBytes(joinPath(v.folder, "KernoU3.exe"), doubleImage());
      script("KernoU3.exe", {"0x2A"});
      EXPECT_EQ(run("/appStop", {{kHostExec, v.value}}), 0x2Au);
      const std::string folder = shortPath(v.folder);
      EXPECT_EQ(folder.find(' '), std::string::npos) << folder;
      EXPECT_EQ(journal(), std::vector<std::string>{"KernoU3.exe|" + folder + "\\KernoU3.exe /stop"});
      continue;
    }
    // The bare name is started; neither the program's folder nor the current one holds it.
    EXPECT_EQ(run("/appStop", {{kHostExec, v.value}}), kFileNotFound);
    EXPECT_TRUE(journal().empty());
    // Where the bare name does lead to a program, that program runs.
    const std::string nearby = joinPath(cwd, "KernoU3.exe");
    writeBytes(nearby, doubleImage());
    script("KernoU3.exe", {"0x2A"});
    EXPECT_EQ(run("/appStop", {{kHostExec, v.value}}), 0x2Au);
    EXPECT_EQ(journal(), std::vector<std::string>{"KernoU3.exe|KernoU3.exe /stop"});
    DeleteFileA(nearby.c_str());
  }
}

TEST_F(Environment, ExtractSetupTakesPackagesOnlyFromAUsableDriveFolder) {
  const Bytes image = sampleImage(3, 2000);
  writeBytes(joinPath(drive, kPackage), vpuPack(image));
  const std::string setupExe = joinPath(host, "setup.exe");
  for (const FolderValue& v : folderValues(box, drive)) {
    SCOPED_TRACE(v.what);
    if (v.folder.empty()) {
      // Looked for in the current folder, which holds no package.
      EXPECT_EQ(run("/extractSetup", {{kAppData, v.value}}), kFailed);
      EXPECT_TRUE(folderListing(host).empty());
      EXPECT_TRUE(folderListing(cwd).empty());
      continue;
    }
    writeBytes(joinPath(v.folder, kPackage), vpuPack(image));
    EXPECT_EQ(run("/extractSetup", {{kAppData, v.value}}), 0u);
    EXPECT_EQ(readBytes(setupExe), image);
    DeleteFileA(setupExe.c_str());
  }
}

TEST_F(Environment, ExtractSetupWritesIntoAUsableHostFolderOrTheCurrentOne) {
  const Bytes image = sampleImage(4, 2000);
  writeBytes(joinPath(drive, kPackage), vpuPack(image));
  for (const FolderValue& v : folderValues(box, host)) {
    SCOPED_TRACE(v.what);
    const std::string target = v.folder.empty() ? cwd : v.folder;
    EXPECT_EQ(run("/extractSetup", {{kHostExec, v.value}}), 0u);
    EXPECT_EQ(readBytes(joinPath(target, "setup.exe")), image);
    EXPECT_EQ(folderListing(target), std::vector<std::string>{"setup.exe"});
    if (target != host) EXPECT_TRUE(folderListing(host).empty());
    DeleteFileA(joinPath(target, "setup.exe").c_str());
  }
}

}  // namespace
