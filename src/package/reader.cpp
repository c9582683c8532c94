// Portable: reads through the Stream interface and zlib only.
#include "package/reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "package/stream.h"

namespace {

// Deflate cannot expand a byte of input to more than 1032 bytes of output, so a body of n
// bytes never needs more room than this, whatever the header claims.
constexpr uint64_t kMaxInflateRatio = 1032;

bool refuse(PkgReadNote* note, const char* why, int32_t code = 0) {
  if (note != nullptr) {
    note->refused = why;
    note->code = code;
  }
  return false;
}

}  // namespace

bool readUInt32LE(Stream& stream, uint32_t& value) {
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    uint8_t byte = 0;
    int32_t got = 0;
    if (!stream.read(&byte, 1, &got) || got != 1) return false;
    result |= static_cast<uint32_t>(byte) << shift;
  }
  value = result;
  return true;
}

bool pkgReadFromStream(Stream& stream, std::unique_ptr<uint8_t[]>& image, uint32_t& length, PkgReadNote* note) {
  char magic[16] = {};
  int32_t got = 0;
  if (!stream.read(magic, sizeof magic, &got) || got != static_cast<int32_t>(sizeof magic) ||
      std::memcmp(magic, kPackageMagic, sizeof magic) != 0) {
    return refuse(note, "no package magic");
  }
  image.reset();

  uint32_t imageSize = 0;
  uint32_t bodySize = 0;
  // A file that ends inside the size fields gives no sizes to trust.
  if (!readUInt32LE(stream, imageSize) || !readUInt32LE(stream, bodySize)) {
    return refuse(note, "the file ends inside the size fields");
  }
  if (note != nullptr) {
    note->imageSize = imageSize;
    note->bodySize = bodySize;
  }

  // Take no more than the file holds past the header: the missing tail would only be zeros.
  const int32_t fileSize = stream.getSize();
  const uint32_t available =
      fileSize > static_cast<int32_t>(kPackageHeaderSize) ? static_cast<uint32_t>(fileSize) - kPackageHeaderSize : 0;
  const uint32_t bodyLength = std::min(bodySize, available);
  const uint64_t inflateBound = static_cast<uint64_t>(bodyLength) * kMaxInflateRatio;
  const auto imageRoom = static_cast<uint32_t>(std::min<uint64_t>(imageSize, inflateBound));

  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[imageRoom == 0 ? 1 : imageRoom]);
  if (!block) return refuse(note, "no memory for the image");

  // A body of a gigabyte or two may find no room in a 32-bit process once the image has its own.
  uint8_t* body = stream.readAlloc(bodyLength);
  if (body == nullptr && bodyLength != 0) return refuse(note, "no memory for the body");
  uLongf produced = imageRoom;
  const int status = uncompress(block.get(), &produced, body, bodyLength);
  stream.releaseBuffer(body);
  if (status != Z_OK) return refuse(note, "the body does not inflate within the image size", status);

  length = static_cast<uint32_t>(produced);
  image = std::move(block);
  return true;
}

bool pkgReadFile(const char* path, std::unique_ptr<uint8_t[]>& image, uint32_t& length, PkgReadNote* note) {
  FileStream stream;
  if (!stream.open(path)) return refuse(note, "the file cannot be opened", static_cast<int32_t>(stream.getLastError()));
  const bool ok = pkgReadFromStream(stream, image, length, note);
  stream.close();
  return ok;
}
