#include "pack.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "package/reader.h"

namespace {

void putUInt32LE(Bytes& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t getUInt32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

Bytes vpuPack(const uint8_t* image, std::size_t length) {
  uLongf bodyLength = compressBound(static_cast<uLong>(length));
  Bytes body(bodyLength);
  const uint8_t empty = 0;
  compress2(body.data(), &bodyLength, length == 0 ? &empty : image, static_cast<uLong>(length), Z_BEST_COMPRESSION);
  body.resize(bodyLength);

  Bytes package(kPackageMagic, kPackageMagic + 16);
  putUInt32LE(package, static_cast<uint32_t>(length));
  putUInt32LE(package, static_cast<uint32_t>(body.size()));
  package.insert(package.end(), body.begin(), body.end());
  return package;
}

VpuInfo vpuInspect(const Bytes& package) {
  VpuInfo info;
  info.magicOk = package.size() >= 16 && std::memcmp(package.data(), kPackageMagic, 16) == 0;
  if (package.size() < kPackageHeaderSize) return info;
  info.headerComplete = true;
  info.imageSize = getUInt32LE(package.data() + 16);
  info.bodySize = getUInt32LE(package.data() + 20);
  info.bodyBytesPresent = std::min<uint64_t>(info.bodySize, package.size() - kPackageHeaderSize);

  // Inflate in pieces, counted here rather than by zlib (whose counter is 32 bits on Windows),
  // so that neither a header claiming 4 GiB nor a highly compressed body costs that much memory.
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    info.body = PkgBody::kNoMemory;
    return info;
  }
  stream.next_in = const_cast<Bytef*>(package.data() + kPackageHeaderSize);
  stream.avail_in = static_cast<uInt>(info.bodyBytesPresent);
  Bytes window(1 << 16);
  int status = Z_OK;
  do {
    stream.next_out = window.data();
    stream.avail_out = static_cast<uInt>(window.size());
    status = inflate(&stream, Z_NO_FLUSH);
    if (info.inflatedLength == 0) info.head.assign(window.begin(), window.end() - stream.avail_out);
    info.inflatedLength += window.size() - stream.avail_out;
  } while (status == Z_OK && info.inflatedLength <= info.imageSize);
  inflateEnd(&stream);

  if (info.inflatedLength > info.imageSize) {
    info.body = PkgBody::kTooLarge;
    return info;
  }
  switch (status) {
    case Z_STREAM_END: info.body = PkgBody::kOk; break;
    case Z_BUF_ERROR: info.body = PkgBody::kTruncated; break;  // no input left to go on with
    case Z_NEED_DICT: info.body = PkgBody::kNeedsDictionary; break;
    case Z_MEM_ERROR: info.body = PkgBody::kNoMemory; break;
    default: info.body = PkgBody::kDamaged; break;
  }
  return info;
}

bool vpuIsWindowsProgram(const Bytes& image) {
  constexpr std::size_t kPeOffsetAt = 0x3C;
  if (image.size() < kPeOffsetAt + 4 || image[0] != 'M' || image[1] != 'Z') return false;
  const uint64_t peAt = getUInt32LE(image.data() + kPeOffsetAt);
  return peAt + 4 <= image.size() && std::memcmp(image.data() + peAt, "PE\0\0", 4) == 0;
}

bool readWholeFile(const std::string& path, Bytes& content) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  content.clear();
  uint8_t buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) != 0) content.insert(content.end(), buffer, buffer + got);
  const int error = errno;
  const bool read = std::ferror(file.get()) == 0;
  file.reset();
  errno = error;
  return read;
}

bool writeWholeFile(const std::string& path, const Bytes& content) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  const bool written = content.empty() || std::fwrite(content.data(), 1, content.size(), file.get()) == content.size();
  const int error = errno;
  const bool closed = std::fclose(file.release()) == 0;
  if (written) return closed;
  errno = error;
  return false;
}
