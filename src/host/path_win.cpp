// Windows only: the run-time's multibyte search reads the path in the ANSI code page.
#include "host/path.h"

#include <mbstring.h>

std::size_t filFolderLength(const char* path) {
  const auto* text = reinterpret_cast<const unsigned char*>(path);
  const unsigned char* separator = _mbsrchr(text, '\\');
  return separator == nullptr ? 0 : static_cast<std::size_t>(separator - text) + 1;
}
