// The command line from any bytes: split, parsed, the program name cut off and the /runSetup
// tail taken, checking what must hold for every line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "front/cmdline.h"
#include "front/dispatch.h"
#include "front/settings.h"
#include "jobs/suite.h"

namespace {

void require(bool holds) {
  if (!holds) std::abort();
}

bool isJobCode(uint32_t code) {
  switch (code) {
    case job::kNone: case job::kHostConfigure: case job::kAppStart: case job::kAppStop:
    case job::kHostCleanup: case job::kCheckUpdate: case job::kUpdatePkgs: case job::kUpdateFiles:
    case job::kExtractSetup: case job::kInstallScan: case job::kSetProxy: case job::kRunSetup:
      return true;
    default:
      return false;
  }
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool hasSwitch(const StringList& words, const char* name) {
  for (const std::string& word : words) {
    if (cmdIsSwitch(word, name)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // The command line ends at its first zero byte.
  const char* bytes = reinterpret_cast<const char*>(data);
  const std::string text(bytes, strnlen(bytes, size));
  const char* line = text.c_str();

  StringList words;
  cmdSplitLine(line, words);
  // Every word is taken from the text, in order, and each uses up at least one byte of it.
  std::size_t at = 0;
  for (const std::string& word : words) {
    const std::size_t found = text.find(word, at);
    require(found != std::string::npos);
    at = found + word.size();
  }
  require(words.size() <= text.size());

  RunSettings settings{};
  cmdParseSwitches(words, settings);
  require(isJobCode(settings.jobCode));
  require(!settings.silent || hasSwitch(words, "/silent"));
  require(!settings.progress || hasSwitch(words, "/progress"));
  require(!settings.updateVps || hasSwitch(words, "/updateVps"));
  require(settings.hwnd == 0 || hasSwitch(words, "/hwnd"));

  RunSettings again{};
  again.jobCode = 99;
  again.silent = again.progress = again.updateVps = true;
  again.hwnd = -7;
  u3ResetCommandFields(again);
  cmdParseSwitches(words, again);
  require(again.jobCode == settings.jobCode && again.silent == settings.silent &&
          again.progress == settings.progress && again.updateVps == settings.updateVps &&
          again.hwnd == settings.hwnd);

  // The tail is the end of the same text and starts at no blank or control byte.
  const char* tail = cmdTail(line);
  require(tail >= line && tail <= line + text.size());
  require(*tail == '\0' || static_cast<unsigned char>(*tail) > 0x20);

  const std::string runSetupTail = u3RunSetupTail(line);
  require(endsWith(text, runSetupTail));
  require(runSetupTail.empty() || hasSwitch(words, "/runSetup"));
  return 0;
}
