// Portable: the run-time's descriptor calls, which exist on Windows and POSIX alike.
#include "package/stream.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0  // no text translation to turn off here
#endif

// The run-time's descriptor calls under one set of names for Windows and POSIX.
namespace crt {
#ifdef _WIN32
constexpr int kOwnerReadWrite = _S_IREAD | _S_IWRITE;
inline int open(const char* path, int flags) { return ::_open(path, flags); }
inline int open(const char* path, int flags, int mode) { return ::_open(path, flags, mode); }
inline long read(int fd, void* buffer, uint32_t count) { return ::_read(fd, buffer, count); }
inline int32_t write(int fd, const void* buffer, uint32_t count) { return ::_write(fd, buffer, count); }
inline long lseek(int fd, long offset, int origin) { return ::_lseek(fd, offset, origin); }
inline void close(int fd) { ::_close(fd); }
inline void unlink(const char* path) { ::_unlink(path); }
inline int commit(int fd) { return ::_commit(fd); }
#else
constexpr int kOwnerReadWrite = S_IRUSR | S_IWUSR;
inline int open(const char* path, int flags) { return ::open(path, flags); }
inline int open(const char* path, int flags, int mode) { return ::open(path, flags, mode); }
inline long read(int fd, void* buffer, uint32_t count) { return ::read(fd, buffer, count); }
// Linux writes at most 0x7ffff000 bytes in one call, so the count always fits.
inline int32_t write(int fd, const void* buffer, uint32_t count) { return static_cast<int32_t>(::write(fd, buffer, count)); }
inline long lseek(int fd, long offset, int origin) { return static_cast<long>(::lseek(fd, offset, origin)); }
inline void close(int fd) { ::close(fd); }
inline void unlink(const char* path) { ::unlink(path); }
inline int commit(int fd) { return ::fsync(fd); }
#endif
}  // namespace crt

LowLevelWrite gFileStreamWrite = crt::write;
LowLevelCommit gFileStreamCommit = crt::commit;

namespace {
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kReadChunk = 0x800000;  // bounds each single low-level read
}  // namespace

uint32_t sysErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case ENOENT: return 2;
    case E2BIG: return 10;
    case ENOEXEC: return 11;
    case EBADF: return 6;
    case ECHILD: return 128;
    case EAGAIN: return 89;
    case ENOMEM: return 8;
    case EACCES: return 5;
    case EEXIST: return 183;
    case EXDEV: return 17;
    case ENODEV: return 15;
    case ENOTDIR: return 3;
    case EINVAL: return 87;
    case EMFILE: return 4;
    case ENOSPC: return 112;
    case EPIPE: return 109;
    case ENOTEMPTY: return 145;
    default: return 120;
  }
}

bool Stream::read(void*, uint32_t, int32_t*) { return false; }

int32_t Stream::getSize() { return size; }

FileStream::~FileStream() { close(); }

bool FileStream::open(const char* path) {
  if (isOpen) {
    lastError = kErrorInvalidHandle;
    return false;
  }
  return takeDescriptor(crt::open(path, O_RDONLY | O_BINARY));
}

bool FileStream::create(const char* path) {
  if (isOpen) {
    lastError = kErrorInvalidHandle;
    return false;
  }
  written = false;
  deleteOnClose = false;
  return takeDescriptor(crt::open(path, O_RDWR | O_CREAT | O_TRUNC | O_BINARY, crt::kOwnerReadWrite));
}

bool FileStream::takeDescriptor(int opened) {
  if (opened == -1) {
    lastError = sysErrorFromErrno(errno);
    return false;
  }
  fd = opened;
  isOpen = true;
  size = static_cast<int32_t>(crt::lseek(fd, 0, SEEK_END));
  position = static_cast<int32_t>(crt::lseek(fd, 0, SEEK_SET));
  return true;
}

bool FileStream::read(void* buffer, uint32_t count, int32_t* bytesRead) {
  if (!isOpen) {
    lastError = kErrorInvalidHandle;
    return false;
  }
  written = false;
  uint32_t total = 0;
  uint32_t remaining = count;
  bool failed = false;
  do {
    const uint32_t chunk = remaining < kReadChunk ? remaining : kReadChunk;
    const auto got = crt::read(fd, static_cast<char*>(buffer) + total, chunk);
    if (got == -1) {
      failed = true;
      break;
    }
    if (got == 0) break;
    total += static_cast<uint32_t>(got);
    remaining -= static_cast<uint32_t>(got);
  } while (remaining != 0);
  if (bytesRead != nullptr) *bytesRead = static_cast<int32_t>(total);
  if (failed) {
    lastError = sysErrorFromErrno(errno);
    return false;
  }
  position = static_cast<int32_t>(crt::lseek(fd, 0, SEEK_CUR));
  return true;
}

bool FileStream::write(const void* buffer, uint32_t count, int32_t* bytesWritten) {
  if (!isOpen) {
    lastError = kErrorInvalidHandle;
    return false;
  }
  const int32_t result = gFileStreamWrite(fd, buffer, count);
  if (bytesWritten != nullptr) *bytesWritten = result;
  if (result == -1) {
    lastError = sysErrorFromErrno(errno);
    return false;
  }
  position = static_cast<int32_t>(crt::lseek(fd, 0, SEEK_CUR));
  written = true;
  return true;
}

bool FileStream::flush() {
  if (!isOpen) {
    lastError = kErrorInvalidHandle;
    return false;
  }
  if (gFileStreamCommit(fd) == -1) {
    lastError = sysErrorFromErrno(errno);
    return false;
  }
  return true;
}

uint8_t* FileStream::readAlloc(uint32_t count) {
  auto* block = static_cast<uint8_t*>(std::malloc(count));
  if (block == nullptr) return nullptr;
  std::memset(block, 0, count);
  read(block, count);
  return block;
}

void FileStream::releaseBuffer(uint8_t* block) { std::free(block); }

int32_t FileStream::seek(int32_t offset, int origin) {
  position = static_cast<int32_t>(crt::lseek(fd, offset, origin));
  return position;
}

void FileStream::close() {
  if (fd != -1) crt::close(fd);
  if (deleteOnClose && deletePath != nullptr) crt::unlink(deletePath);
  std::free(deletePath);
  written = false;
  isOpen = false;
  fd = -1;
  deletePath = nullptr;
}

int32_t FileStream::getSize() {
  if (written) {
    size = static_cast<int32_t>(crt::lseek(fd, 0, SEEK_END));
    crt::lseek(fd, position, SEEK_SET);
  }
  return size;
}
