// A small unbuffered byte stream, and its implementation over a run-time file descriptor.
#pragma once
#include <cstdint>

// Windows system error code for a run-time errno value (120 for values it does not know).
uint32_t sysErrorFromErrno(int errnoValue);

// The run-time's low-level write as FileStream calls it: the bytes written, or -1 with errno set.
// Tests point it elsewhere to make a write fail or stop short, as a full disk would.
using LowLevelWrite = int32_t (*)(int fd, const void* buffer, uint32_t count);
extern LowLevelWrite gFileStreamWrite;
// The run-time's commit of a descriptor's writes to the disk: 0, or -1 with errno set. Tests
// point it elsewhere to make a flush fail, which no disk here ever does.
using LowLevelCommit = int (*)(int fd);
extern LowLevelCommit gFileStreamCommit;

class Stream {
 public:
  virtual ~Stream() = default;
  // Reads up to count bytes; bytesRead (if given) receives what arrived. End of file is success.
  virtual bool read(void* buffer, uint32_t count, int32_t* bytesRead = nullptr);
  virtual bool write(const void* buffer, uint32_t count, int32_t* bytesWritten = nullptr) = 0;
  // A zero-filled malloc block of count bytes with the next count bytes read into it, or null.
  virtual uint8_t* readAlloc(uint32_t count) = 0;
  virtual void releaseBuffer(uint8_t* block) = 0;
  // origin is SEEK_SET, SEEK_CUR or SEEK_END; the new offset, or -1.
  virtual int32_t seek(int32_t offset, int origin) = 0;
  virtual void close() = 0;
  virtual int32_t getSize();

 protected:
  int32_t position = 0;
  int32_t size = 0;
};

class FileStream : public Stream {
 public:
  FileStream() = default;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  ~FileStream() override;

  bool open(const char* path);    // read only, binary, no sharing restrictions
  bool create(const char* path);  // read and write, created or truncated

  bool read(void* buffer, uint32_t count, int32_t* bytesRead = nullptr) override;
  bool write(const void* buffer, uint32_t count, int32_t* bytesWritten = nullptr) override;
  // Hands what was written to the disk itself, so that it outlasts a power cut.
  bool flush();
  uint8_t* readAlloc(uint32_t count) override;
  void releaseBuffer(uint8_t* block) override;
  int32_t seek(int32_t offset, int origin) override;
  void close() override;
  int32_t getSize() override;

  uint32_t getLastError() const { return lastError; }
  int32_t getPosition() const { return position; }
  bool isOpened() const { return isOpen; }

 private:
  // Takes over a descriptor just opened, or fails with errno's code when it is -1; measures the
  // file and starts at its beginning.
  bool takeDescriptor(int opened);

  bool isOpen = false;
  bool written = false;
  bool deleteOnClose = false;
  char* deletePath = nullptr;
  int fd = -1;
  uint32_t lastError = 0;
};
