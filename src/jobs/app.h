// The two logging jobs: /hostConfigure runs the launcher, /appStart installs from the drive.
#pragma once
#include <cstdint>

uint32_t u3HostConfigure();
// A failed first pass makes one repair attempt; the result is always that of this pass.
uint32_t u3AppStart(bool verifyPass);
