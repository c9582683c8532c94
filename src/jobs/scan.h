// /installScan installs from a copy of the drive folder; /setProxy hands over the proxy file.
#pragma once
#include <cstdint>

uint32_t u3InstallScan();
uint32_t u3SetProxy();
