// The one header that includes <windows.h>, and the owners of Win32 handles.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <utility>

// Owns one handle and closes it on every way out; Traits names the invalid value and the closer,
// since find handles and files use INVALID_HANDLE_VALUE while processes use null.
template <class Traits, class Handle = HANDLE>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Traits::invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, Traits::invalid());
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::invalid(); }
  void reset(Handle handle = Traits::invalid()) {
    if (handle_ != Traits::invalid()) Traits::close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Traits::invalid();
};

struct KernelHandleTraits {
  static HANDLE invalid() { return nullptr; }
  static void close(HANDLE handle) { CloseHandle(handle); }
};
struct FileHandleTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE handle) { CloseHandle(handle); }
};
struct FindHandleTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE handle) { FindClose(handle); }
};

struct ModuleTraits {
  static HMODULE invalid() { return nullptr; }
  static void close(HMODULE module) { FreeLibrary(module); }
};
// What the security functions hand back from LocalAlloc: descriptors and SID strings.
struct LocalMemoryTraits {
  static HLOCAL invalid() { return nullptr; }
  static void close(HLOCAL memory) { LocalFree(memory); }
};

// error, or otherwise where a failed call left none: a failure is never reported as 0.
inline uint32_t sysNonZero(DWORD error, DWORD otherwise) { return error != 0 ? error : otherwise; }

// The entry name of module as a Function: looked up rather than imported, since older systems or
// a module not loaded lack it. Null where module is null or lacks it.
template <class Function>
Function sysEntry(HMODULE module, const char* name) {
  return module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                           : nullptr;
}

using KernelHandle = UniqueHandle<KernelHandleTraits>;  // processes, threads, events
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using ModuleHandle = UniqueHandle<ModuleTraits, HMODULE>;
using LocalMemory = UniqueHandle<LocalMemoryTraits, HLOCAL>;
