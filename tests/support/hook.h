// Swaps FileStream's low-level write for the length of a test, to make writes fail or stop short.
#pragma once
#include "package/stream.h"

class WriteHook {
 public:
  explicit WriteHook(LowLevelWrite replacement) : saved_(gFileStreamWrite) {
    original() = saved_;
    gFileStreamWrite = replacement;
  }
  ~WriteHook() { gFileStreamWrite = saved_; }
  WriteHook(const WriteHook&) = delete;
  WriteHook& operator=(const WriteHook&) = delete;

  // The write that was in place before, for replacements that write part of the bytes.
  static LowLevelWrite& original() {
    static LowLevelWrite write = gFileStreamWrite;
    return write;
  }

 private:
  LowLevelWrite saved_;
};
