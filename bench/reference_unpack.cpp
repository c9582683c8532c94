// The least a program can do to unpack a package: one read of the whole file at its exact size,
// one uncompress call into a block of the image size, one write of the image. No copies, no
// zero-filled buffers, straight Win32 file calls. The unpacking benchmark measures kou3upd
// against this.
// Usage: reference_unpack PACKAGE OUTPUT
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <zlib.h>

#include <cstdlib>

namespace {

constexpr DWORD kHeaderSize = 24;

uLong field(const unsigned char* at) {
  return static_cast<uLong>(at[0]) | static_cast<uLong>(at[1]) << 8 | static_cast<uLong>(at[2]) << 16 |
         static_cast<uLong>(at[3]) << 24;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  HANDLE in = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return 1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(in, &size) || size.QuadPart < kHeaderSize || size.QuadPart > MAXDWORD) return 1;
  const auto packageLength = static_cast<DWORD>(size.QuadPart);
  auto* package = static_cast<unsigned char*>(std::malloc(packageLength));
  DWORD got = 0;
  if (package == nullptr || !ReadFile(in, package, packageLength, &got, nullptr) || got != packageLength) return 1;
  CloseHandle(in);

  uLongf imageLength = field(package + 16);
  auto* image = static_cast<unsigned char*>(std::malloc(imageLength == 0 ? 1 : imageLength));
  if (image == nullptr ||
      uncompress(image, &imageLength, package + kHeaderSize, packageLength - kHeaderSize) != Z_OK) {
    return 1;
  }

  HANDLE out = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const bool whole = WriteFile(out, image, static_cast<DWORD>(imageLength), &written, nullptr) && written == imageLength;
  return CloseHandle(out) && whole ? 0 : 1;
}
