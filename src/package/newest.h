// Which of a package's files kou3upd takes: "<name>-<hex version>.vpu", the highest version.
// Shared by the program and vpupack, so that the tool tells what the program will do.
#pragma once
#include <cstdint>
#include <string>

// The version a file of packageName carries: the text after "<packageName>-" read as the
// Windows run-time's base-16 strtol reads it (blanks, a sign and "0x" accepted, stopping at the
// first other character, no digits giving 0), clamped to the 32 bits of its long.
int32_t pkgFileVersion(const char* fileName, const char* packageName);

// Whether two file names are the same, letters compared without regard to case as the drive's
// file systems compare them.
bool pkgSameName(const std::string& a, const std::string& b);

// Whether fileName matches "<packageName>-*.vpu", letters compared without regard to case as the
// drive's file systems compare them.
bool pkgIsFileOf(const std::string& fileName, const std::string& packageName);

// Keeps the newest of the files offered in the order the folder lists them: a higher version
// replaces, an equal one does not, and no negative version is ever taken.
class NewestVpu {
 public:
  explicit NewestVpu(const char* packageName) : packageName_(packageName) {}
  // The file's version; it becomes the newest when it is higher than every one before.
  int32_t offer(const char* fileName);
  int32_t version() const { return version_; }  // -1 while nothing was taken
  const std::string& fileName() const { return fileName_; }

 private:
  const char* packageName_;
  int32_t version_ = -1;
  std::string fileName_;
};
