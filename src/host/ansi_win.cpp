#include "host/ansi.h"

#include <string>

#include "host/trace.h"
#include "host/win.h"

namespace {

// The exact ANSI form of text; false when a letter has none or the result does not fit.
bool exactAnsi(const wchar_t* text, char (&ansi)[kAnsiPathSize]) {
  BOOL usedDefault = FALSE;
  // A system whose ANSI code page is UTF-8 has every letter: there only invalid UTF-16 fails,
  // refused by a flag documented for CP_UTF8 named as such, which takes no default-letter question.
  const bool utf8 = GetACP() == CP_UTF8;
  const int length =
      WideCharToMultiByte(utf8 ? CP_UTF8 : CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, text, -1, ansi,
                          static_cast<int>(sizeof ansi), nullptr, utf8 ? nullptr : &usedDefault);
  if (length == 0 || usedDefault) {
    ansi[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace

bool sysAnsiShortPath(const wchar_t* path, char (&ansi)[kAnsiPathSize]) {
  wchar_t shortPath[kAnsiPathSize];
  const DWORD length = GetShortPathNameW(path, shortPath, kAnsiPathSize);
  if (length == 0 || length >= kAnsiPathSize) {
    ansi[0] = '\0';
    return false;
  }
  return exactAnsi(shortPath, ansi);
}

bool sysAnsiPath(const wchar_t* path, char (&ansi)[kAnsiPathSize]) {
  return exactAnsi(path, ansi) || sysAnsiShortPath(path, ansi);
}

WideString sysWide(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 1) return WideString();
  WideString wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.pop_back();
  return wide;
}

std::string sysTraceText(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(size - 1));
  return utf8;
}
