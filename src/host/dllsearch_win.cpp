#include "host/dllsearch.h"

#include "host/win.h"

namespace {

// Looked up rather than imported: older systems lack these entries.
template <class Function>
Function kernelEntry(const char* name) {
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, name)));
}

}  // namespace

void sysHardenDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto setDefault = kernelEntry<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
  if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void sysNoErrorBoxes() {
  using SetThreadErrorModeFn = BOOL(WINAPI*)(DWORD, LPDWORD);
  const auto setMode = kernelEntry<SetThreadErrorModeFn>("SetThreadErrorMode");
  if (setMode != nullptr) setMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, nullptr);
}
