// Stands in for src/host/win.h where vpupack's plan is built for Linux, which has no windows.h:
// the jobs' headers name the owners that a turn and a held work folder keep, and the plan, which
// opens nothing, keeps them empty. Every other Windows type stays unknown here, so a job that
// came to need one would not build for Linux rather than plan by guesswork.
#pragma once

using HANDLE = void*;
template <class Traits>
struct UniqueHandle {
  void reset() {}
};
using KernelHandle = UniqueHandle<struct KernelHandleTraits>;
using FileHandle = UniqueHandle<struct FileHandleTraits>;
