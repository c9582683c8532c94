// Reading a ".vpu" package: a 16-byte magic, the image and body sizes, a zlib body.
#pragma once
#include <cstdint>
#include <memory>

#include "package/stream.h"

constexpr char kPackageMagic[] = "ZEBsetupFPkgFile";  // 16 bytes, no terminator in the file
constexpr uint32_t kPackageHeaderSize = 24;

// The next four bytes as a little-endian value; false when the stream ends before them.
bool readUInt32LE(Stream& stream, uint32_t& value);

// What became of inflating a package's body, as far as the file holds it.
enum class PkgBody {
  kOk,               // a complete zlib stream with a good checksum, within the image size
  kTruncated,        // the body (or the file) ends before the zlib stream does
  kDamaged,          // a bad zlib header, bad deflate data or a wrong checksum
  kNeedsDictionary,  // the stream asks for a preset dictionary
  kTooLarge,         // it unpacks to more than the image size
  kNoMemory,         // zlib's working memory could not be had
};
// What the body does, in the words that follow "body " wherever a package is described: the
// reader's refusal, the trace and vpupack all say it the same way.
const char* pkgBodyText(PkgBody body);

// What a read found, for those who tell a maintainer about it: the header's sizes and, when the
// read failed, why (for a body, "body " and its pkgBodyText).
struct PkgReadNote {
  const char* refused = nullptr;  // null when the package was read
  int32_t code = 0;               // the open's Windows error code, or zlib's status; 0 for neither
  uint32_t imageSize = 0;
  uint32_t bodySize = 0;
};

// Reads the package at the stream's position. On success image holds the unpacked bytes and
// length their count; on failure image is left null (or untouched when the magic is wrong).
// note, when given, receives what the read found.
bool pkgReadFromStream(Stream& stream, std::unique_ptr<uint8_t[]>& image, uint32_t& length,
                       PkgReadNote* note = nullptr);

// Opens path and reads the package in it; the file is closed on every way out.
bool pkgReadFile(const char* path, std::unique_ptr<uint8_t[]>& image, uint32_t& length, PkgReadNote* note = nullptr);
