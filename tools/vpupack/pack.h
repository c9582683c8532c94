// Making and inspecting ".vpu" packages, for the vpupack tool, the tests and the benchmarks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
  int zlibStatus = 0;             // uncompress's result; Z_OK (0) when it inflates and checks
  uint64_t inflatedLength = 0;
  bool ok() const { return magicOk && headerComplete && zlibStatus == 0; }
};
VpuInfo vpuInspect(const Bytes& package);

bool readWholeFile(const std::string& path, Bytes& content);
bool writeWholeFile(const std::string& path, const Bytes& content);
