#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../support/temp_folder.h"
#include "../support/hook.h"
#include "pack.h"
#include "package/stream.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

Bytes sequence(std::size_t length) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return bytes;
}

// The descriptor the run-time would hand out next: it always gives the lowest free one.
int nextFreeDescriptor(const std::string& path) {
#ifdef _WIN32
  const int probe = _open(path.c_str(), O_RDONLY);
  _close(probe);
#else
  const int probe = ::open(path.c_str(), O_RDONLY);
  ::close(probe);
#endif
  return probe;
}

int32_t diskFull(int, const void*, uint32_t) {
  errno = ENOSPC;
  return -1;
}

class FileStreamTest : public ::testing::Test {
 protected:
  std::string tenBytes() {
    const std::string path = folder.file("ten.bin");
    writeWholeFile(path, sequence(10));
    return path;
  }
  TempFolder folder;
};

TEST(SysErrorFromErrno, MapsTheKnownValuesAndEveryOtherTo120) {
  const struct {
    int errnoValue;
    uint32_t code;
  } table[] = {
      {ENOENT, 2},   {E2BIG, 10},  {ENOEXEC, 11}, {EBADF, 6},      {ECHILD, 128}, {EAGAIN, 89},
      {ENOMEM, 8},   {EACCES, 5},  {EEXIST, 183}, {EXDEV, 17},     {ENODEV, 15},  {ENOTDIR, 3},
      {EINVAL, 87},  {EMFILE, 4},  {ENOSPC, 112}, {EPIPE, 109},    {ENOTEMPTY, 145},
      {0, 120},      {EISDIR, 120}, {ERANGE, 120}, {EDOM, 120},    {-1, 120},     {100000, 120},
  };
  for (const auto& row : table) EXPECT_EQ(sysErrorFromErrno(row.errnoValue), row.code) << "errno " << row.errnoValue;
}

TEST_F(FileStreamTest, OpenOfAMissingFileOrFolderFailsWithFileNotFound) {
  for (const std::string& path : {folder.file("missing.vpu"), folder.file("missing/x.vpu")}) {
    FileStream stream;
    EXPECT_FALSE(stream.open(path.c_str())) << path;
    EXPECT_EQ(stream.getLastError(), 2u) << path;
    EXPECT_FALSE(stream.isOpened());
  }
}

TEST_F(FileStreamTest, OpenOfAFolderFails) {
  FileStream stream;
#ifdef _WIN32
  EXPECT_FALSE(stream.open(folder.path().c_str()));
  EXPECT_EQ(stream.getLastError(), 5u);
#else
  // POSIX opens a folder for reading; the first read is what fails.
  uint8_t byte = 0;
  EXPECT_FALSE(stream.open(folder.path().c_str()) && stream.read(&byte, 1));
#endif
}

TEST_F(FileStreamTest, OpenMeasuresTheFileAndStartsAtItsBeginning) {
  FileStream stream;
  ASSERT_TRUE(stream.open(tenBytes().c_str()));
  EXPECT_EQ(stream.getSize(), 10);
  EXPECT_EQ(stream.getPosition(), 0);
  EXPECT_EQ(stream.getLastError(), 0u);
  uint8_t first[3] = {};
  int32_t got = -7;
  ASSERT_TRUE(stream.read(first, 3, &got));
  EXPECT_EQ(got, 3);
  EXPECT_EQ(Bytes(first, first + 3), Bytes({0, 7, 14}));
  EXPECT_EQ(stream.getPosition(), 3);
}

TEST_F(FileStreamTest, ASecondOpenOrCreateFailsWithInvalidHandleAndTheFirstDescriptorStillWorks) {
  const std::string path = tenBytes();
  FileStream stream;
  ASSERT_TRUE(stream.open(path.c_str()));
  EXPECT_FALSE(stream.open(path.c_str()));
  EXPECT_EQ(stream.getLastError(), 6u);
  EXPECT_FALSE(stream.create(folder.file("other.bin").c_str()));
  EXPECT_EQ(stream.getLastError(), 6u);
  EXPECT_FALSE(std::filesystem::exists(folder.file("other.bin")));

  uint8_t buffer[10] = {};
  int32_t got = 0;
  ASSERT_TRUE(stream.read(buffer, sizeof buffer, &got));
  EXPECT_EQ(Bytes(buffer, buffer + got), sequence(10));
  EXPECT_EQ(stream.getSize(), 10);
}

TEST_F(FileStreamTest, ReadOrWriteOnAClosedStreamFailsWithInvalidHandle) {
  FileStream never;
  uint8_t byte = 0;
  int32_t count = -7;
  EXPECT_FALSE(never.read(&byte, 1, &count));
  EXPECT_EQ(never.getLastError(), 6u);
  EXPECT_EQ(count, -7);  // not written when nothing was tried

  FileStream closed;
  ASSERT_TRUE(closed.open(tenBytes().c_str()));
  closed.close();
  EXPECT_FALSE(closed.read(&byte, 1, &count));
  EXPECT_EQ(closed.getLastError(), 6u);
  EXPECT_FALSE(closed.write(&byte, 1, &count));
  EXPECT_EQ(closed.getLastError(), 6u);
  EXPECT_EQ(count, -7);
}

TEST_F(FileStreamTest, CloseIsRepeatableAndAClosedStreamOpensAgain) {
  const std::string path = tenBytes();
  FileStream stream;
  stream.close();
  ASSERT_TRUE(stream.open(path.c_str()));
  stream.close();
  stream.close();
  EXPECT_FALSE(stream.isOpened());
  ASSERT_TRUE(stream.open(path.c_str()));
  uint8_t byte = 0xAA;
  ASSERT_TRUE(stream.read(&byte, 1));
  EXPECT_EQ(byte, 0);
}

TEST_F(FileStreamTest, CloseAndDestructionGiveTheDescriptorBack) {
  const std::string path = tenBytes();
  const int lowest = nextFreeDescriptor(path);
  ASSERT_NE(lowest, -1);
  {
    FileStream stream;
    ASSERT_TRUE(stream.open(path.c_str()));
    EXPECT_EQ(nextFreeDescriptor(path), lowest + 1);
  }
  EXPECT_EQ(nextFreeDescriptor(path), lowest);
  FileStream reused;
  ASSERT_TRUE(reused.create(folder.file("new.bin").c_str()));
  reused.close();
  EXPECT_EQ(nextFreeDescriptor(path), lowest);
}

TEST_F(FileStreamTest, ReadPastTheEndGivesWhatRemainedAndSucceeds) {
  FileStream stream;
  ASSERT_TRUE(stream.open(tenBytes().c_str()));
  uint8_t buffer[100] = {};
  int32_t got = 0;
  ASSERT_TRUE(stream.read(buffer, 4, &got));
  ASSERT_TRUE(stream.read(buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 6);
  const Bytes all = sequence(10);
  EXPECT_EQ(Bytes(buffer, buffer + 6), Bytes(all.begin() + 4, all.end()));
  EXPECT_EQ(stream.getPosition(), 10);
  ASSERT_TRUE(stream.read(buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 0);
  EXPECT_EQ(stream.getPosition(), 10);
}

TEST_F(FileStreamTest, ReadOfZeroBytesSucceedsWithZero) {
  FileStream stream;
  ASSERT_TRUE(stream.open(tenBytes().c_str()));
  int32_t got = -7;
  uint8_t byte = 0;
  ASSERT_TRUE(stream.read(&byte, 0, &got));
  EXPECT_EQ(got, 0);
  EXPECT_EQ(stream.getPosition(), 0);
}

TEST_F(FileStreamTest, OneReadLargerThanAChunkArrivesWhole) {
  const Bytes content = sequence(0x800000 * 2 + 5);
  const std::string path = folder.file("large.bin");
  ASSERT_TRUE(writeWholeFile(path, content));
  FileStream stream;
  ASSERT_TRUE(stream.open(path.c_str()));
  Bytes buffer(content.size() + 100);
  int32_t got = 0;
  ASSERT_TRUE(stream.read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got));
  ASSERT_EQ(got, static_cast<int32_t>(content.size()));
  buffer.resize(content.size());
  EXPECT_TRUE(buffer == content);
  EXPECT_EQ(stream.getPosition(), static_cast<int32_t>(content.size()));
}

TEST_F(FileStreamTest, ReadAllocFillsWithZerosPastTheEnd) {
  FileStream stream;
  ASSERT_TRUE(stream.open(tenBytes().c_str()));
  uint8_t* block = stream.readAlloc(16);
  ASSERT_NE(block, nullptr);
  Bytes expected = sequence(10);
  expected.resize(16, 0);
  EXPECT_EQ(Bytes(block, block + 16), expected);
  stream.releaseBuffer(block);
  stream.releaseBuffer(nullptr);
}

TEST_F(FileStreamTest, CreateEmptiesAnExistingFileAndTheSizeFollowsTheWrites) {
  const std::string path = tenBytes();
  FileStream stream;
  ASSERT_TRUE(stream.create(path.c_str()));
  EXPECT_EQ(stream.getSize(), 0);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  const Bytes hundred = sequence(100);
  int32_t put = 0;
  ASSERT_TRUE(stream.write(hundred.data(), 100, &put));
  EXPECT_EQ(put, 100);
  EXPECT_EQ(stream.getPosition(), 100);
  EXPECT_EQ(stream.getSize(), 100);
  stream.close();
  Bytes onDisk;
  ASSERT_TRUE(readWholeFile(path, onDisk));
  EXPECT_EQ(onDisk, hundred);
}

TEST_F(FileStreamTest, CreateInAMissingFolderFailsAndLeavesTheStreamClosed) {
  FileStream stream;
  EXPECT_FALSE(stream.create(folder.file("missing/new.bin").c_str()));
  EXPECT_EQ(stream.getLastError(), 2u);
  uint8_t byte = 0;
  EXPECT_FALSE(stream.write(&byte, 1));
  EXPECT_EQ(stream.getLastError(), 6u);
}

TEST_F(FileStreamTest, GetSizeMeasuresOnlyAfterAWriteAndKeepsThePosition) {
  FileStream stream;
  ASSERT_TRUE(stream.create(folder.file("grow.bin").c_str()));
  const Bytes content = sequence(150);
  ASSERT_TRUE(stream.write(content.data(), 100));
  ASSERT_EQ(stream.seek(10, SEEK_SET), 10);
  EXPECT_EQ(stream.getSize(), 100);
  EXPECT_EQ(stream.getPosition(), 10);
  // The measurement put the file offset back where it was: this write lands at 10.
  ASSERT_TRUE(stream.write(content.data() + 100, 50));
  EXPECT_EQ(stream.getPosition(), 60);
  EXPECT_EQ(stream.getSize(), 100);

  ASSERT_EQ(stream.seek(0, SEEK_END), 100);
  ASSERT_TRUE(stream.write(content.data(), 20));
  ASSERT_EQ(stream.seek(0, SEEK_SET), 0);
  uint8_t byte = 0;
  ASSERT_TRUE(stream.read(&byte, 1));
  // A read ends the measuring: the length stays as last measured, not the 120 now on disk.
  EXPECT_EQ(stream.getSize(), 100);
}

TEST_F(FileStreamTest, AFailedWriteKeepsItsCodeAndTheStreamOpen) {
  FileStream stream;
  ASSERT_TRUE(stream.create(folder.file("full.bin").c_str()));
  const Bytes content = sequence(10);
  {
    WriteHook full(diskFull);
    int32_t put = 0;
    EXPECT_FALSE(stream.write(content.data(), 10, &put));
    EXPECT_EQ(put, -1);
    EXPECT_EQ(stream.getLastError(), 112u);
    EXPECT_EQ(stream.getPosition(), 0);
  }
  EXPECT_TRUE(stream.isOpened());
  ASSERT_TRUE(stream.write(content.data(), 10));
  EXPECT_EQ(stream.getLastError(), 112u);  // a success leaves the last failure's code
  EXPECT_EQ(stream.getSize(), 10);
}

TEST_F(FileStreamTest, AFailedSeekGivesMinusOneAndSetsNoCode) {
  FileStream stream;
  ASSERT_TRUE(stream.open(tenBytes().c_str()));
  EXPECT_EQ(stream.seek(-5, SEEK_SET), -1);
  EXPECT_EQ(stream.getPosition(), -1);
  EXPECT_EQ(stream.getLastError(), 0u);
  EXPECT_EQ(stream.seek(4, SEEK_SET), 4);
  EXPECT_EQ(stream.seek(2, SEEK_CUR), 6);
  EXPECT_EQ(stream.seek(-1, SEEK_END), 9);
}

}  // namespace
