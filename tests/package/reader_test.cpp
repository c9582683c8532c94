#include <gtest/gtest.h>
#include <zlib.h>

#include <cctype>
#include <cstring>
#include <string>

#include "../support/memory_stream.h"
#include "../support/temp_folder.h"
#include "pack.h"
#include "package/reader.h"

namespace {

Bytes text(const std::string& value) { return Bytes(value.begin(), value.end()); }

// Bytes that deflate poorly, so that a package of them has a long body.
Bytes noise(std::size_t length) {
  Bytes bytes(length);
  uint32_t state = 12345;
  for (uint8_t& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

void putUInt32LE(Bytes& package, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) package[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes withSizes(Bytes package, uint32_t imageSize, uint32_t bodySize) {
  putUInt32LE(package, 16, imageSize);
  putUInt32LE(package, 20, bodySize);
  return package;
}

uint32_t bodySizeOf(const Bytes& package) {
  return static_cast<uint32_t>(package[20] | package[21] << 8 | package[22] << 16 | package[23] << 24);
}

// A zlib stream that asks for a preset dictionary before it can be inflated.
Bytes dictionaryBody(const Bytes& image) {
  static const char dictionary[] = "package dictionary";
  z_stream stream{};
  deflateInit(&stream, Z_BEST_COMPRESSION);
  deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary), sizeof dictionary);
  Bytes body(deflateBound(&stream, static_cast<uLong>(image.size())));
  stream.next_in = const_cast<Bytef*>(image.data());
  stream.avail_in = static_cast<uInt>(image.size());
  stream.next_out = body.data();
  stream.avail_out = static_cast<uInt>(body.size());
  deflate(&stream, Z_FINISH);
  body.resize(stream.total_out);
  deflateEnd(&stream);
  return body;
}

struct Read {
  bool ok = false;
  Bytes image;
  std::vector<uint32_t> allocations;
};

Read readFromMemory(const Bytes& package) {
  MemoryStream stream(package);
  std::unique_ptr<uint8_t[]> image;
  uint32_t length = 0xDEAD;
  Read result;
  result.ok = pkgReadFromStream(stream, image, length);
  if (result.ok) result.image.assign(image.get(), image.get() + length);
  result.allocations = stream.allocations;
  return result;
}

class PackageReadTest : public ::testing::Test {
 protected:
  Read readFromFile(const Bytes& package) {
    const std::string path = folder.file("setup_ko_u3-1.vpu");
    writeWholeFile(path, package);
    std::unique_ptr<uint8_t[]> image;
    uint32_t length = 0xDEAD;
    Read result;
    result.ok = pkgReadFile(path.c_str(), image, length);
    if (result.ok) result.image.assign(image.get(), image.get() + length);
    Bytes after;
    readWholeFile(path, after);
    EXPECT_EQ(after, package) << "the package file was changed";
    return result;
  }
  TempFolder folder;
};

TEST(ReadUInt32LE, TakesTheLeastSignificantByteFirst) {
  const struct {
    Bytes bytes;
    uint32_t value;
  } table[] = {
      {{0x01, 0x02, 0x00, 0x00}, 513},
      {{0x00, 0x10, 0x00, 0x00}, 4096},
      {{0x78, 0x56, 0x34, 0x12, 0xFF}, 0x12345678},
      {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF},
  };
  for (const auto& row : table) {
    MemoryStream stream(row.bytes);
    uint32_t value = 0;
    ASSERT_TRUE(readUInt32LE(stream, value));
    EXPECT_EQ(value, row.value);
  }
}

TEST(ReadUInt32LE, FailsWhenTheStreamEndsInsideTheValue) {
  for (std::size_t length = 0; length < 4; ++length) {
    MemoryStream stream(Bytes(length, 0xAB));
    uint32_t value = 77;
    EXPECT_FALSE(readUInt32LE(stream, value)) << length;
    EXPECT_EQ(value, 77u);
  }
}

TEST_F(PackageReadTest, ImagesReadBackExactly) {
  Bytes zeros(1 << 22, 0);  // deflate's best ratio, close to the bound the reader allows for
  const Bytes images[] = {{}, {0x42}, text("MZ a small program\r\n"), noise(70000), zeros};
  for (const Bytes& image : images) {
    const Bytes package = vpuPack(image);
    const Read fromFile = readFromFile(package);
    ASSERT_TRUE(fromFile.ok) << image.size();
    EXPECT_TRUE(fromFile.image == image) << image.size();
    const Read fromMemory = readFromMemory(package);
    ASSERT_TRUE(fromMemory.ok) << image.size();
    EXPECT_TRUE(fromMemory.image == image) << image.size();
  }
}

TEST_F(PackageReadTest, AMissingFileOrAFolderDoesNotRead) {
  std::unique_ptr<uint8_t[]> image;
  uint32_t length = 0;
  EXPECT_FALSE(pkgReadFile(folder.file("missing.vpu").c_str(), image, length));
  EXPECT_FALSE(pkgReadFile(folder.path().c_str(), image, length));
  EXPECT_EQ(image, nullptr);
}

TEST(PackageRead, ALargerImageSizeStillReadsAndGivesTheTrueLength) {
  const Bytes image = text("the installer");
  const Bytes package = vpuPack(image);
  for (const uint32_t imageSize : {14u, 15u, 4096u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    const Read read = readFromMemory(withSizes(package, imageSize, bodySizeOf(package)));
    ASSERT_TRUE(read.ok) << imageSize;
    EXPECT_EQ(read.image, image) << imageSize;
  }
}

TEST(PackageRead, AnImageSizeBelowTheUnpackedLengthFails) {
  const Bytes image = text("the installer");
  const Bytes package = vpuPack(image);
  for (const uint32_t imageSize : {0u, 1u, 12u}) {
    EXPECT_FALSE(readFromMemory(withSizes(package, imageSize, bodySizeOf(package))).ok) << imageSize;
  }
}

TEST(PackageRead, TheImageSizeIsLittleEndian) {
  // 00 10 00 00 is 4096: enough for 4096 bytes and not for one more.
  const Bytes header = {0x00, 0x10, 0x00, 0x00};
  Bytes fits = vpuPack(noise(4096));
  std::copy(header.begin(), header.end(), fits.begin() + 16);
  const Read read = readFromMemory(fits);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.image, noise(4096));

  Bytes tooLong = vpuPack(noise(4097));
  std::copy(header.begin(), header.end(), tooLong.begin() + 16);
  EXPECT_FALSE(readFromMemory(tooLong).ok);
}

TEST(PackageRead, TheBodyReadsWhateverFollowsItsZlibStream) {
  const Bytes image = text("setup.exe image");
  const Bytes package = vpuPack(image);
  const uint32_t body = bodySizeOf(package);
  Bytes trailing = package;
  const Bytes junk = text("\x78\x9c garbage after the stream");
  trailing.insert(trailing.end(), junk.begin(), junk.end());

  const struct {
    const char* what;
    Bytes package;
  } table[] = {
      {"extra bytes inside the body size", withSizes(trailing, 15, body + static_cast<uint32_t>(junk.size()))},
      {"a body size past the end of the file", withSizes(package, 15, body + 1000)},
      {"a body size of 4 GiB - 1", withSizes(package, 15, 0xFFFFFFFF)},
      {"data after the body", withSizes(trailing, 15, body)},
  };
  for (const auto& row : table) {
    const Read read = readFromMemory(row.package);
    ASSERT_TRUE(read.ok) << row.what;
    EXPECT_EQ(read.image, image) << row.what;
  }
}

TEST(PackageRead, ABodyThatDoesNotHoldAWholeGoodStreamFails) {
  const Bytes image = text("setup.exe image");
  const Bytes package = vpuPack(image);
  const uint32_t body = bodySizeOf(package);
  Bytes badChecksum = package;
  badChecksum.back() ^= 0x01;
  Bytes badHeader = package;
  badHeader[24] = 0x79;
  Bytes withDictionary = withSizes(package, 15, 0);
  withDictionary.resize(24);
  const Bytes dictionary = dictionaryBody(image);
  withDictionary.insert(withDictionary.end(), dictionary.begin(), dictionary.end());
  putUInt32LE(withDictionary, 20, static_cast<uint32_t>(dictionary.size()));

  const struct {
    const char* what;
    Bytes package;
  } table[] = {
      {"a body size of 0", withSizes(package, 15, 0)},
      {"a body size one short", withSizes(package, 15, body - 1)},
      {"a wrong checksum", badChecksum},
      {"a wrong zlib header", badHeader},
      {"a preset dictionary", withDictionary},
  };
  for (const auto& row : table) EXPECT_FALSE(readFromMemory(row.package).ok) << row.what;
}

TEST(PackageRead, AWrongMagicFailsAndLeavesTheOutputsAlone) {
  const Bytes package = vpuPack(text("image"));
  std::vector<Bytes> wrong;
  Bytes otherKind = package;
  std::memcpy(otherKind.data(), "ZEBsetupDPkgFile", 16);
  wrong.push_back(otherKind);
  for (std::size_t at = 0; at < 16; ++at) {
    Bytes flipped = package;
    if (std::isalpha(flipped[at])) {
      flipped[at] ^= 0x20;  // the same letter in the other case
      wrong.push_back(flipped);
    }
  }
  ASSERT_EQ(wrong.size(), 17u);
  for (const Bytes& bad : wrong) {
    MemoryStream stream(bad);
    std::unique_ptr<uint8_t[]> image(new uint8_t[1]{9});
    const uint8_t* before = image.get();
    uint32_t length = 3;
    EXPECT_FALSE(pkgReadFromStream(stream, image, length)) << std::string(bad.begin(), bad.begin() + 16);
    EXPECT_EQ(image.get(), before);
    EXPECT_EQ(length, 3u);
  }
}

TEST(PackageRead, AFailurePastTheMagicLeavesTheImageNull) {
  MemoryStream stream(withSizes(vpuPack(text("image")), 4, 100));
  std::unique_ptr<uint8_t[]> image(new uint8_t[1]{9});
  uint32_t length = 3;
  EXPECT_FALSE(pkgReadFromStream(stream, image, length));
  EXPECT_EQ(image, nullptr);
  EXPECT_EQ(length, 3u);
}

TEST(PackageRead, AFileEndingInsideTheSizeFieldsFails) {
  const Bytes package = vpuPack(text("image"));
  for (std::size_t length = 16; length < 24; ++length) {
    const Read read = readFromMemory(Bytes(package.begin(), package.begin() + length));
    EXPECT_FALSE(read.ok) << length;
    EXPECT_TRUE(read.allocations.empty()) << length;
  }
}

TEST(PackageRead, AHeaderClaimingFourGibibytesTakesNoMoreThanTheFileHolds) {
  Bytes headerOnly = withSizes(vpuPack(text("image")), 0xFFFFFFFF, 0xFFFFFFFF);
  headerOnly.resize(24);
  const Read bare = readFromMemory(headerOnly);
  EXPECT_FALSE(bare.ok);
  for (const uint32_t asked : bare.allocations) EXPECT_EQ(asked, 0u);

  // The same claims in front of a real body: the body is taken at its true length and reads.
  const Bytes image = noise(3000);
  const Bytes package = vpuPack(image);
  const Read claimed = readFromMemory(withSizes(package, 0xFFFFFFFF, 0xFFFFFFFF));
  ASSERT_TRUE(claimed.ok);
  EXPECT_EQ(claimed.image, image);
  EXPECT_EQ(claimed.allocations, std::vector<uint32_t>{bodySizeOf(package)});
}

// Every prefix of a valid package: only the whole file reads, and no prefix makes the reader
// take a body block longer than the bytes it holds past the header.
TEST_F(PackageReadTest, EveryTruncationOfAValidPackageFailsAndOnlyTheWholeFileReads) {
  const Bytes image = noise(300);
  const Bytes package = vpuPack(image);
  for (std::size_t length = 0; length <= package.size(); ++length) {
    const Bytes prefix(package.begin(), package.begin() + length);
    const bool whole = length == package.size();
    const Read fromMemory = readFromMemory(prefix);
    EXPECT_EQ(fromMemory.ok, whole) << length;
    for (const uint32_t asked : fromMemory.allocations) EXPECT_LE(asked, length - 24) << length;
    const Read fromFile = readFromFile(prefix);
    EXPECT_EQ(fromFile.ok, whole) << length;
    if (whole) {
      EXPECT_EQ(fromMemory.image, image);
      EXPECT_EQ(fromFile.image, image);
    }
  }
}

}  // namespace
