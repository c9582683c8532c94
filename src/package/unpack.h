// Turning the newest package of a name on the drive into an executable in the host folder.
#pragma once
#include <cstdint>
#include <string>

// Searches folder for "<packageName>-*.vpu" and takes the highest hexadecimal version (the first
// of equal versions). Returns that version and sets fileName (name only), or -1 leaving it as it was.
int32_t filFindNewestVpu(std::string& fileName, const char* folder, const char* packageName);

// Unpacks the newest package of packageName from the app-data folder to exeName in the host
// folder. 0 when the executable now holds the whole image; -1 when the package was missing or
// unreadable, or the executable could not be replaced (the old one is then left as it was).
int32_t u3UnVpuToHostExe(const char* packageName, const char* exeName);
