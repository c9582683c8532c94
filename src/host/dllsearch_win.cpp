#include "host/dllsearch.h"

#include "host/win.h"

void sysHardenDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  // Looked up rather than imported: older systems without the update lack the entry.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
