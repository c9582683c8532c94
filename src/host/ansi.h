// Paths that Windows hands over in UTF-16 (environment values, folders, the program's own path),
// brought into the ANSI code page that the rest of the program works in. A path with a letter the
// code page lacks keeps working through its short (8.3) form, which is plain ASCII where the
// volume makes short names; a path with no exact ANSI form at all is refused, never
// approximated with '?' or a look-alike letter, which would name another file or none.
#pragma once
#include <cstddef>

#include "host/wide.h"

// Room for an ANSI path, the terminating zero included.
constexpr std::size_t kAnsiPathSize = 260;

// path as it stands where its ANSI form is exact and fits, else its short form on the same terms.
// False when neither has one (the short form exists only for an existing path).
bool sysAnsiPath(const wchar_t* path, char (&ansi)[kAnsiPathSize]);

// The short form of an existing path, in exact ANSI; false when it has none, or none that fits.
bool sysAnsiShortPath(const wchar_t* path, char (&ansi)[kAnsiPathSize]);

// text of the ANSI code page in UTF-16, which every ANSI text has exactly.
WideString sysWide(const char* text);
