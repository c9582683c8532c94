// How the program sets up the process at start: where Windows looks for DLLs, no error boxes,
// and no box after a crash.
#pragma once
#include "host/win.h"

// Restricts DLL loading to the system folder where Windows offers that (SetDefaultDllDirectories:
// Windows 8 on, Vista and 7 with KB2533623); elsewhere takes the current folder out of the search
// (SetDllDirectoryW), since the program runs from a removable drive beside files it does not
// control.
void sysHardenDllSearch();

// Fails critical errors and files that cannot be opened (a card reader without its card) at once
// instead of with a box that nobody clicks. For this thread alone where Windows offers that
// (SetThreadErrorMode, Windows 7 on); elsewhere for the whole process, and each start hands the
// child the mode the program started with (ChildErrorMode).
void sysNoErrorBoxes();

// The process's error mode when the program started, the one the suite's programs get.
UINT sysStartErrorMode();

// While one lives, the process has the error mode mode, so that a child created meanwhile
// inherits it; the one before comes back after.
class ChildErrorMode {
 public:
  explicit ChildErrorMode(UINT mode = sysStartErrorMode()) : saved_(SetErrorMode(mode)) {}
  ~ChildErrorMode() { SetErrorMode(saved_); }
  ChildErrorMode(const ChildErrorMode&) = delete;
  ChildErrorMode& operator=(const ChildErrorMode&) = delete;

 private:
  UINT saved_;
};

// A crash (an access violation and the like) ends the process at once with the exception code as
// its exit code, before Windows' error reporting can show a box that waits for a click. The filter
// is the process's own: the programs it starts do not inherit it.
void sysEndOnCrash();

// SetThreadErrorMode where kernel32 has it, else null. Tests set it to null, as on XP and Vista.
using ThreadErrorModeSetter = BOOL(WINAPI*)(DWORD, LPDWORD);
extern ThreadErrorModeSetter gSetThreadErrorMode;
