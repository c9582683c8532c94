// Keeps the exe loadable on Windows XP, which lacks GetTickCount64 (Vista on); linked into the exe
// only.
//
// winpthreads, the run-time of the posix thread model that libstdc++ brings in, calls
// GetTickCount64 through its import slot. An import of it makes the loader refuse the exe on XP
// before WinMain runs. The slot is defined here, so the linker takes no import for it: it holds
// a function that looks GetTickCount64 up at the first call and keeps what it finds, or, where
// kernel32 lacks it, a 64-bit count made from GetTickCount.
#include "host/win.h"

namespace {

using TickCount64 = ULONGLONG(WINAPI*)();

// GetTickCount wraps after 49.7 days: each wrap seen adds 2^32.
ULONGLONG WINAPI widenedTickCount() {
  static DWORD last = 0;
  static ULONGLONG wraps = 0;
  const DWORD now = GetTickCount();
  if (now < last) wraps += ULONGLONG{1} << 32;
  last = now;
  return wraps + now;
}

ULONGLONG WINAPI firstTickCount();

}  // namespace

// The name the import slot has on each machine (stdcall decoration on i686).
#if defined(__x86_64__)
extern "C" TickCount64 gTickCount64Slot __asm__("__imp_GetTickCount64");
#else
extern "C" TickCount64 gTickCount64Slot __asm__("__imp__GetTickCount64@0");
#endif
TickCount64 gTickCount64Slot = firstTickCount;

namespace {

ULONGLONG WINAPI firstTickCount() {
  const auto found = sysEntry<TickCount64>(GetModuleHandleA("kernel32.dll"), "GetTickCount64");
  gTickCount64Slot = found != nullptr ? found : widenedTickCount;
  return gTickCount64Slot();
}

}  // namespace
