// Turning the newest package of a name on the drive into an executable in the host folder.
#pragma once
#include <cstdint>
#include <string>

// Searches folder for "<packageName>-*.vpu" and takes the highest hexadecimal version (the first
// of equal versions). Returns that version and sets fileName (name only), or -1 leaving it as it was.
int32_t filFindNewestVpu(std::string& fileName, const char* folder, const char* packageName);

// Unpacks the newest package of packageName from the app-data folder to exeName in the host
// folder, through a flushed temporary file renamed over it. -1 when the package was missing or
// unreadable. When it was read but the executable could not be replaced, the old one stays whole:
// the result is then 0 if a file stands there, else the Windows error code of the failed step.
int32_t u3UnVpuToHostExe(const char* packageName, const char* exeName);
