// Portable: no platform calls here.
#include "host/path.h"

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
