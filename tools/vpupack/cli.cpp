#include <cstring>

#include "pack.h"

namespace {

int usage(std::FILE* err) {
  std::fputs("usage: vpupack create IN OUT\n       vpupack info FILE\n", err);
  return 2;
}

int create(const char* in, const char* out, std::FILE* err) {
  Bytes image;
  if (!readWholeFile(in, image)) {
    std::fprintf(err, "vpupack: cannot read %s\n", in);
    return 1;
  }
  if (image.size() > 0xFFFFFFFFu) {
    std::fprintf(err, "vpupack: %s is larger than a package can hold\n", in);
    return 1;
  }
  if (!writeWholeFile(out, vpuPack(image))) {
    std::fprintf(err, "vpupack: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

int info(const char* path, std::FILE* out, std::FILE* err) {
  Bytes package;
  if (!readWholeFile(path, package)) {
    std::fprintf(err, "vpupack: cannot read %s\n", path);
    return 1;
  }
  const VpuInfo found = vpuInspect(package);
  std::fprintf(out, "file: %s (%llu bytes)\n", path, static_cast<unsigned long long>(package.size()));
  std::fprintf(out, "magic: %s\n", found.magicOk ? "ok" : "wrong");
  if (!found.headerComplete) {
    std::fprintf(out, "header: ends inside the size fields\n");
  } else {
    std::fprintf(out, "image size: %u\n", found.imageSize);
    std::fprintf(out, "body size: %u (%llu present)\n", found.bodySize,
                 static_cast<unsigned long long>(found.bodyBytesPresent));
    if (found.body == VpuBody::kOk) {
      std::fprintf(out, "body: inflates to %llu bytes, checksum ok\n",
                   static_cast<unsigned long long>(found.inflatedLength));
    } else {
      std::fprintf(out, "body: %s\n", vpuBodyText(found.body));
    }
  }
  std::fprintf(out, "package: %s\n", found.ok() ? "ok" : "bad");
  return found.ok() ? 0 : 1;
}

}  // namespace

int vpupackMain(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  if (argc == 4 && std::strcmp(argv[1], "create") == 0) return create(argv[2], argv[3], err);
  if (argc == 3 && std::strcmp(argv[1], "info") == 0) return info(argv[2], out, err);
  return usage(err);
}
