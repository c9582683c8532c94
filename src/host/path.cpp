// Portable: no platform calls here.
#include "host/path.h"

#include <cstdlib>
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

}  // namespace

void filJoinPath(std::string& result, const char* folder, const char* name) { joinPath(result, folder, name); }

void filJoinPath(WideString& result, const wchar_t* folder, const wchar_t* name) { joinPath(result, folder, name); }

bool filIsTemporaryTail(const char* text, uint32_t& processId) {
  char* end = nullptr;
  const unsigned long id = std::strtoul(text, &end, 10);
  if (end == text || *text < '0' || *text > '9' || std::strcmp(end, kTemporaryEnd) != 0) return false;
  processId = static_cast<uint32_t>(id);
  return true;
}
