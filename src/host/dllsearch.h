// How the program sets up the process at start: where Windows looks for DLLs, and no error boxes.
#pragma once

// Restricts DLL loading to the system folder where Windows offers that (SetDefaultDllDirectories),
// since the program runs from a removable drive beside files it does not control.
void sysHardenDllSearch();

// Fails critical errors and files that cannot be opened (a card reader without its card) at once
// instead of with a box that nobody clicks, for this thread alone: the suite's programs started
// from here keep the error mode they inherit today (SetThreadErrorMode, where Windows has it).
void sysNoErrorBoxes();
