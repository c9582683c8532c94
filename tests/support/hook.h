// Swaps a low-level call that the program reaches through a pointer for the length of a test, to
// make a write or a copy fail or stop short.
#pragma once
#include "package/stream.h"

template <class Call, Call* slot>
class Hook {
 public:
  explicit Hook(Call replacement) : saved_(*slot) {
    original() = saved_;
    *slot = replacement;
  }
  ~Hook() { *slot = saved_; }
  Hook(const Hook&) = delete;
  Hook& operator=(const Hook&) = delete;

  // The call that was in place before, for replacements that do part of the work.
  static Call& original() {
    static Call call = *slot;
    return call;
  }

 private:
  Call saved_;
};

using WriteHook = Hook<LowLevelWrite, &gFileStreamWrite>;
using CommitHook = Hook<LowLevelCommit, &gFileStreamCommit>;
