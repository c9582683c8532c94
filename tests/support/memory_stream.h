// A Stream over bytes in memory, for reading packages without files. It remembers the size of
// every readAlloc, so a test can see how much a package made the reader take.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "package/stream.h"

class MemoryStream : public Stream {
 public:
  explicit MemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {
    size = static_cast<int32_t>(data_.size());
  }

  bool read(void* buffer, uint32_t count, int32_t* bytesRead = nullptr) override {
    const std::size_t from = static_cast<std::size_t>(position);
    const std::size_t got = std::min<std::size_t>(count, from < data_.size() ? data_.size() - from : 0);
    if (got != 0) std::memcpy(buffer, data_.data() + from, got);
    position += static_cast<int32_t>(got);
    if (bytesRead != nullptr) *bytesRead = static_cast<int32_t>(got);
    return true;
  }
  bool write(const void* buffer, uint32_t count, int32_t* bytesWritten = nullptr) override {
    const std::size_t from = static_cast<std::size_t>(position);
    if (data_.size() < from + count) data_.resize(from + count);
    if (count != 0) std::memcpy(data_.data() + from, buffer, count);
    position += static_cast<int32_t>(count);
    size = static_cast<int32_t>(data_.size());
    if (bytesWritten != nullptr) *bytesWritten = static_cast<int32_t>(count);
    return true;
  }
  uint8_t* readAlloc(uint32_t count) override {
    allocations.push_back(count);
    auto* block = static_cast<uint8_t*>(std::calloc(count == 0 ? 1 : count, 1));
    if (block != nullptr) read(block, count);
    return block;
  }
  void releaseBuffer(uint8_t* block) override { std::free(block); }
  int32_t seek(int32_t offset, int origin) override {
    const int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? position : size;
    const int64_t target = base + offset;
    if (target < 0 || target > INT32_MAX) return -1;
    position = static_cast<int32_t>(target);
    return position;
  }
  void close() override {}

  std::vector<uint32_t> allocations;  // the count of every readAlloc, in order

 private:
  std::vector<uint8_t> data_;
};
