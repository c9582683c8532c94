// Jobs that unpack the installer and run it: /checkUpdate, /updatePkgs, /updateFiles, /runSetup.
#pragma once
#include <cstdint>

// Writes setup.exe into the host folder from the newest installer package: 0 (also when the old
// setup.exe had to stay), 0xFFFFFFFF when the package is missing or unreadable, or the Windows
// error code of the write when no setup.exe could be put there.
uint32_t u3UnpackInstaller();

uint32_t u3CheckUpdate();
// A first pass (verifyPass false) may start one verifying pass; its result is that of this pass.
uint32_t u3UpdatePkgs(bool verifyPass);
uint32_t u3UpdateFiles();
// cmdText is the program's command-line text as WinMain received it.
uint32_t u3RunSetup(const char* cmdText);
