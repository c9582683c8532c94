// Portable: the naming rule of package files alone, no file access.
#include "package/newest.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

int32_t pkgFileVersion(const char* fileName, const char* packageName) {
  // A name found through its short form may be shorter than the package's name and its dash;
  // its version text is then empty.
  const std::size_t versionAt = std::strlen(packageName) + 1;
  const std::size_t nameLength = std::strlen(fileName);
  const char* versionText = fileName + (nameLength > versionAt ? versionAt : nameLength);
  // long is 32 bits on Windows, where strtol clamps by itself; elsewhere it is wider.
  const long value = std::strtol(versionText, nullptr, 16);
  return static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

bool pkgSameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

bool pkgIsFileOf(const std::string& fileName, const std::string& packageName) {
  const std::string head = packageName + "-";
  const std::string tail = ".vpu";
  return fileName.size() >= head.size() + tail.size() && pkgSameName(fileName.substr(0, head.size()), head) &&
         pkgSameName(fileName.substr(fileName.size() - tail.size()), tail);
}

int32_t NewestVpu::offer(const char* fileName) {
  const int32_t version = pkgFileVersion(fileName, packageName_);
  if (version > version_) {
    version_ = version;
    fileName_ = fileName;
  }
  return version;
}
