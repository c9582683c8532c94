// Making and inspecting ".vpu" packages, for the vpupack tool, the tests and the benchmarks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/reader.h"

using Bytes = std::vector<uint8_t>;

// A valid package of image: the magic, the image size (equal to its length), the body size
// and the zlib body at the best compression.
Bytes vpuPack(const uint8_t* image, std::size_t length);
inline Bytes vpuPack(const Bytes& image) { return vpuPack(image.data(), image.size()); }


// What a package's header says and whether its body inflates with a good checksum.
struct VpuInfo {
  bool magicOk = false;
  bool headerComplete = false;  // both size fields are in the file
  uint32_t imageSize = 0;
  uint32_t bodySize = 0;
  uint64_t bodyBytesPresent = 0;  // how much of the body the file really holds
  PkgBody body = PkgBody::kTruncated;
  uint64_t inflatedLength = 0;    // meaningful when body is kOk
  Bytes head;                     // the first bytes the body inflates to, up to 64 KiB
  bool ok() const { return magicOk && headerComplete && body == PkgBody::kOk; }
};
VpuInfo vpuInspect(const Bytes& package);

// Whether image begins as a Windows program does: "MZ", and "PE\0\0" where the DOS header points.
// Without it, Windows refuses to start the file with error 193.
bool vpuIsWindowsProgram(const Bytes& image);

// Each leaves errno as the failing call set it.
bool readWholeFile(const std::string& path, Bytes& content);
bool writeWholeFile(const std::string& path, const Bytes& content);

// The vpupack command: "create IN OUT", "info FILE", "extract PKG OUT", "check FOLDER" or
// "--help" (argv[0] is the program). Reports go to out, complaints and warnings to err. 0 on
// success, 1 for a failure or a bad package, 2 for a bad command.
int vpupackMain(int argc, const char* const* argv, std::FILE* out, std::FILE* err);
