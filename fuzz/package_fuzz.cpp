// libFuzzer target: any bytes as a package file, read from memory. Besides the sanitizers'
// findings, a read must never take a body block larger than the input past its header, a
// successful one never hands back more than the header's image size, and only a failed one says
// why it failed.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "../tests/support/memory_stream.h"
#include "package/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryStream stream(std::vector<uint8_t>(data, data + size));
  std::unique_ptr<uint8_t[]> image;
  uint32_t length = 0;
  PkgReadNote note;
  const bool ok = pkgReadFromStream(stream, image, length, &note);
  if (ok != (note.refused == nullptr)) std::abort();

  const size_t pastHeader = size > kPackageHeaderSize ? size - kPackageHeaderSize : 0;
  for (const uint32_t asked : stream.allocations) {
    if (asked > pastHeader) std::abort();
  }
  if (ok) {
    const uint32_t imageSize = static_cast<uint32_t>(data[16]) | static_cast<uint32_t>(data[17]) << 8 |
                               static_cast<uint32_t>(data[18]) << 16 | static_cast<uint32_t>(data[19]) << 24;
    if (!image || length > imageSize) std::abort();
    // The whole length lies inside the block handed back.
    volatile uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + image[i]);
  }
  return 0;
}
