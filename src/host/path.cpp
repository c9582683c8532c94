// Portable: no platform calls here.
#include "host/path.h"

#include <cstdlib>
#include <cstring>

void filJoinPath(std::string& result, const char* folder, const char* name) {
  if (folder[0] == '\0') {
    // An absent name has no text to copy: the join of nothing with nothing is empty.
    result = name == nullptr ? "" : name;
    return;
  }
  result = folder;
  if (name == nullptr || name[0] == '\0') return;
  if (result.back() != '\\' && name[0] != '\\') result += '\\';
  result += name;
}

bool filIsTemporaryTail(const char* text, uint32_t& processId) {
  char* end = nullptr;
  const unsigned long id = std::strtoul(text, &end, 10);
  if (end == text || *text < '0' || *text > '9' || std::strcmp(end, kTemporaryEnd) != 0) return false;
  processId = static_cast<uint32_t>(id);
  return true;
}
