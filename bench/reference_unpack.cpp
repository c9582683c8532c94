// The least a program can do to unpack a package: read it, inflate it with one uncompress call,
// write the image with one write. The unpacking benchmark measures kou3upd against this.
// Usage: reference_unpack PACKAGE OUTPUT
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) return 1;
  std::vector<unsigned char> package;
  unsigned char buffer[1 << 16];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) != 0) package.insert(package.end(), buffer, buffer + got);
  std::fclose(in);
  if (package.size() < 24) return 1;
  auto field = [&](size_t at) {
    return static_cast<uLong>(package[at]) | static_cast<uLong>(package[at + 1]) << 8 |
           static_cast<uLong>(package[at + 2]) << 16 | static_cast<uLong>(package[at + 3]) << 24;
  };
  uLongf imageLength = field(16);
  std::vector<unsigned char> image(imageLength);
  if (uncompress(image.data(), &imageLength, package.data() + 24, field(20)) != Z_OK) return 1;
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) return 1;
  const bool written = std::fwrite(image.data(), 1, imageLength, out) == imageLength;
  return (std::fclose(out) == 0 && written) ? 0 : 1;
}
