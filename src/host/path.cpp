// Portable: no platform calls here.
#include "host/path.h"

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
