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

// Each begins with "body ": the refusal is the phrase whole, pkgBodyText what follows it.
constexpr const char* kBodyPhrases[] = {
    "body inflates, checksum ok",
    "body ends before its zlib stream does",
    "body damaged (zlib header, deflate data or checksum)",
    "body asks for a preset dictionary",
    "body unpacks to more than the image size",
    "body not inflated: out of memory",
};
constexpr std::size_t kSubjectLength = sizeof "body " - 1;

// Inflates bodyLength bytes of body into room bytes of image; produced receives how many it gave.
// Done with inflate rather than uncompress, whose status cannot tell a body cut short from a
// damaged one.
PkgBody inflateBody(uint8_t* image, uint32_t room, uint8_t* body, uint32_t bodyLength, uint32_t& produced,
                    int& status) {
  z_stream stream{};
  stream.next_in = body;
  stream.avail_in = bodyLength;
  stream.next_out = image;
  stream.avail_out = room;
  status = inflateInit(&stream);
  if (status != Z_OK) return PkgBody::kNoMemory;
  status = inflate(&stream, Z_FINISH);
  produced = static_cast<uint32_t>(stream.total_out);
  bool tooLarge = false;
  if (status == Z_BUF_ERROR && stream.avail_out == 0) {
    // Out of room: whether another byte would come, or the stream would fail first, tells a body
    // too large for its image from a damaged one or one cut short.
    uint8_t more = 0;
    stream.next_out = &more;
    stream.avail_out = 1;
    const int next = inflate(&stream, Z_FINISH);
    tooLarge = stream.avail_out == 0;
    if (!tooLarge) status = next;
  }
  inflateEnd(&stream);
  if (tooLarge) return PkgBody::kTooLarge;
  switch (status) {
    case Z_STREAM_END: return PkgBody::kOk;
    case Z_BUF_ERROR: return PkgBody::kTruncated;
    case Z_NEED_DICT: return PkgBody::kNeedsDictionary;
    case Z_DATA_ERROR: return PkgBody::kDamaged;
    default: return PkgBody::kNoMemory;  // zlib's working memory
  }
}

bool refuse(PkgReadNote* note, const char* why, int32_t code = 0) {
  if (note != nullptr) {
    note->refused = why;
    note->code = code;
  }
  return false;
}

}  // namespace

const char* pkgBodyText(PkgBody body) { return kBodyPhrases[static_cast<int>(body)] + kSubjectLength; }

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
  uint32_t produced = 0;
  int status = Z_OK;
  const PkgBody inflated = inflateBody(block.get(), imageRoom, body, bodyLength, produced, status);
  stream.releaseBuffer(body);
  if (inflated != PkgBody::kOk) return refuse(note, kBodyPhrases[static_cast<int>(inflated)], status);

  length = produced;
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
