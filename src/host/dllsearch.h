// Where the program lets Windows look for DLLs.
#pragma once

// Restricts DLL loading to the system folder where Windows offers that (SetDefaultDllDirectories),
// since the program runs from a removable drive beside files it does not control.
void sysHardenDllSearch();
