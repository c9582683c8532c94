#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "plan.h"

const char kPlanUsage[] =
    "usage: vpupack plan [--drive FOLDER] [--host FOLDER] [--temp FOLDER] [--result CODE]... [--json]\n"
    "                    [-- KOU3UPD-COMMAND-LINE]\n"
    "Says what kou3upd.exe would do, started with that command line (for example -- /updatePkgs\n"
    "/silent /hwnd 5): the package it takes, each file it writes, backs up or puts back, each\n"
    "program it starts with its exact command line, each line it appends to kou3_upd.log and the\n"
    "exit code it ends with. It starts nothing and writes nothing.\n"
    "  --drive FOLDER  the drive folder (default: %U3_APP_DATA_PATH%); on Linux a Linux path\n"
    "  --host FOLDER   the host folder (default: %U3_HOST_EXEC_PATH%); on Linux in Windows form, as\n"
    "                  kou3upd would see it (its short 8.3 form)\n"
    "  --temp FOLDER   the temporary folder, TEMP and TMP (default: theirs); on Linux in Windows form\n"
    "  --result CODE   the exit code of the next program kou3upd starts, decimal or 0x hex; the last\n"
    "                  one given stands for every later start (default 0)\n"
    "  --json          one JSON object: \"command\", \"job\", \"folders\", \"starts\", \"log\", \"exit\",\n"
    "                  \"result\", \"steps\"\n";

bool planParseCode(const char* text, uint32_t& code) {
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const bool negative = !hex && text[0] == '-';
  const char* digits = hex ? text + 2 : negative ? text + 1 : text;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (*digits == '\0' || std::strspn(digits, allowed) != std::strlen(digits)) return false;
  errno = 0;
  const unsigned long long value = std::strtoull(digits, nullptr, hex ? 16 : 10);
  if (errno != 0 || value > (negative ? 0x80000000ull : 0xFFFFFFFFull)) return false;
  code = static_cast<uint32_t>(negative ? 0 - value : value);
  return true;
}

bool planParseOptions(int argc, const char* const* argv, PlanOptions& options, std::string& why) {
  int at = 1;
  for (; at < argc; ++at) {
    const std::string option = argv[at];
    if (option == "--") {
      ++at;
      break;
    }
    if (option == "--json") {
      options.json = true;
      continue;
    }
    if (option == "--help" || option == "-h") {
      options.help = true;
      continue;
    }
    const char** folder = option == "--drive" ? &options.drive
                          : option == "--host" ? &options.host
                          : option == "--temp" ? &options.temp
                                               : nullptr;
    if (folder == nullptr && option != "--result") {
      why = "unknown option " + option;
      return false;
    }
    if (at + 1 >= argc) {
      why = option + " needs a value";
      return false;
    }
    const char* value = argv[++at];
    if (folder != nullptr) {
      *folder = value;
      continue;
    }
    uint32_t code = 0;
    if (!planParseCode(value, code)) {
      why = std::string("--result ") + value + ": not a 32-bit code in decimal or 0x hex";
      return false;
    }
    options.results.push_back(code);
  }
  for (const char* separator = ""; at < argc; ++at, separator = " ") {
    const std::string word = argv[at];
    const bool quoted = word.empty() || word.find_first_of(" \t") != std::string::npos;
    options.commandLine += separator + (quoted ? "\"" + word + "\"" : word);
  }
  return true;
}
