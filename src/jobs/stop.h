// /appStop and /hostCleanup: start one suite program from the host folder and pass on its code.
#pragma once
#include <cstdint>

uint32_t u3AppStop();
uint32_t u3HostCleanup();
