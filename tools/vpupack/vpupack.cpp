// vpupack create IN OUT: packs a file as a ".vpu" package.
// vpupack info FILE: tells what a package holds; exits 1 when it would not unpack.
#include <cstdio>
#include <cstring>

#include "pack.h"

namespace {

int usage() {
  std::fputs("usage: vpupack create IN OUT\n       vpupack info FILE\n", stderr);
  return 2;
}

int create(const char* in, const char* out) {
  Bytes image;
  if (!readWholeFile(in, image)) {
    std::fprintf(stderr, "vpupack: cannot read %s\n", in);
    return 1;
  }
  if (image.size() > 0xFFFFFFFFu) {
    std::fprintf(stderr, "vpupack: %s is larger than a package can hold\n", in);
    return 1;
  }
  if (!writeWholeFile(out, vpuPack(image))) {
    std::fprintf(stderr, "vpupack: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

int info(const char* path) {
  Bytes package;
  if (!readWholeFile(path, package)) {
    std::fprintf(stderr, "vpupack: cannot read %s\n", path);
    return 1;
  }
  const VpuInfo found = vpuInspect(package);
  std::printf("file: %s (%zu bytes)\n", path, package.size());
  std::printf("magic: %s\n", found.magicOk ? "ok" : "wrong");
  if (!found.headerComplete) {
    std::printf("header: ends inside the size fields\n");
  } else {
    std::printf("image size: %u\n", found.imageSize);
    std::printf("body size: %u (%llu present)\n", found.bodySize,
                static_cast<unsigned long long>(found.bodyBytesPresent));
    if (found.zlibStatus == 0) {
      std::printf("body: inflates to %llu bytes, checksum ok\n", static_cast<unsigned long long>(found.inflatedLength));
    } else {
      std::printf("body: does not unpack (zlib status %d)\n", found.zlibStatus);
    }
  }
  std::printf("package: %s\n", found.ok() ? "ok" : "bad");
  return found.ok() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "create") == 0) return create(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "info") == 0) return info(argv[2]);
  return usage();
}
