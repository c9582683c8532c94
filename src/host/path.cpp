// Portable: no platform calls here.
#include "host/path.h"

#include <algorithm>
#include <cstring>

namespace {

template <class Text, class Char>
void joinPath(Text& result, const Char* folder, const Char* name) {
  if (folder[0] == Char('\0')) {
    // An absent name has no text to copy: the join of nothing with nothing is empty.
    result.clear();
    if (name != nullptr) result = name;
    return;
  }
  result = folder;
  if (name == nullptr || name[0] == Char('\0')) return;
  if (result.back() != Char('\\') && name[0] != Char('\\')) result += Char('\\');
  result += name;
}

// Whether text starts with ascii (whole, when whole is true), in either width.
template <class Char>
bool startsWith(const Char* text, const char* ascii, bool whole) {
  for (; *ascii != '\0'; ++ascii, ++text) {
    if (*text != static_cast<Char>(static_cast<unsigned char>(*ascii))) return false;
  }
  return !whole || *text == Char('\0');
}

template <class Char>
bool temporaryTail(const Char* text, uint32_t& processId) {
  if (*text < Char('0') || *text > Char('9')) return false;
  uint64_t id = 0;
  for (; *text >= Char('0') && *text <= Char('9'); ++text) {
    // Past the 32 bits of a process id the number stays at their largest, as strtoul keeps it.
    id = std::min<uint64_t>(id * 10 + static_cast<uint64_t>(*text - Char('0')), UINT32_MAX);
  }
  if (!startsWith(text, kTemporaryEnd, true)) return false;
  processId = static_cast<uint32_t>(id);
  return true;
}

template <class Char>
bool temporaryName(const Char* name) {
  const Char* tail = nullptr;
  for (const Char* at = name; *at != Char('\0'); ++at) {
    if (startsWith(at, kTemporaryMark, false)) tail = at + std::strlen(kTemporaryMark);
  }
  uint32_t processId = 0;
  return tail != nullptr && temporaryTail(tail, processId);
}

}  // namespace

void filJoinPath(std::string& result, const char* folder, const char* name) { joinPath(result, folder, name); }

void filJoinPath(WideString& result, const wchar_t* folder, const wchar_t* name) { joinPath(result, folder, name); }

bool filIsTemporaryTail(const char* text, uint32_t& processId) { return temporaryTail(text, processId); }

bool filIsTemporaryName(const char* name) { return temporaryName(name); }

bool filIsTemporaryName(const wchar_t* name) { return temporaryName(name); }
