#include "host/dllsearch.h"

namespace {

constexpr UINT kNoBoxes = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

template <class Function>
Function kernelEntry(const char* name) {
  return sysEntry<Function>(GetModuleHandleA("kernel32.dll"), name);
}

bool gStartModeKnown = false;
UINT gStartMode = 0;

LONG WINAPI endOnCrash(EXCEPTION_POINTERS* exception) {
  TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

ThreadErrorModeSetter gSetThreadErrorMode = kernelEntry<ThreadErrorModeSetter>("SetThreadErrorMode");

void sysHardenDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto setDefault = kernelEntry<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // The empty string, not null: null would put the current folder back.
  SetDllDirectoryW(L"");
}

UINT sysStartErrorMode() {
  if (!gStartModeKnown) {
    // GetErrorMode is missing before Vista; SetErrorMode hands back the mode it replaces.
    gStartMode = SetErrorMode(0);
    SetErrorMode(gStartMode);
    gStartModeKnown = true;
  }
  return gStartMode;
}

void sysNoErrorBoxes() {
  const UINT startMode = sysStartErrorMode();
  if (gSetThreadErrorMode != nullptr && gSetThreadErrorMode(kNoBoxes, nullptr)) return;
  SetErrorMode(startMode | kNoBoxes);
}

void sysEndOnCrash() { SetUnhandledExceptionFilter(endOnCrash); }
