// The two logging jobs: /hostConfigure runs the launcher, /appStart installs from the drive.
#pragma once
#include <cstdint>

class Turn;

// The turn is given back before the launcher starts: it may run as long as the device is in use.
uint32_t u3HostConfigure(Turn& turn);
// A failed first pass makes one repair attempt; the result is always that of this pass.
uint32_t u3AppStart(bool verifyPass);
