// Portable: no platform calls here.
#include "front/cmdline.h"

#include <cstdint>

#include "front/dispatch.h"

namespace {

using Byte = unsigned char;

const Byte* bytes(const char* text) { return reinterpret_cast<const Byte*>(text); }

enum class Effect { Job, UpdateVps, Progress, Silent, Hwnd };

struct Switch {
  const char* name;
  Effect effect;
  uint32_t jobCode;
};

// In the order a word is compared with them.
constexpr Switch kSwitches[] = {
    {"/hostConfigure", Effect::Job, job::kHostConfigure},
    {"/appStart", Effect::Job, job::kAppStart},
    {"/updatePkgs", Effect::Job, job::kUpdatePkgs},
    {"/updateFiles", Effect::Job, job::kUpdateFiles},
    {"/extractSetup", Effect::Job, job::kExtractSetup},
    {"/checkUpdate", Effect::Job, job::kCheckUpdate},
    {"/updateVps", Effect::UpdateVps, 0},
    {"/progress", Effect::Progress, 0},
    {"/silent", Effect::Silent, 0},
    {"/installScan", Effect::Job, job::kInstallScan},
    {"/setProxy", Effect::Job, job::kSetProxy},
    {"/hwnd", Effect::Hwnd, 0},
    {"/appStop", Effect::Job, job::kAppStop},
    {"/hostCleanup", Effect::Job, job::kHostCleanup},
    {"/runSetup", Effect::Job, job::kRunSetup},
};

Byte lowerAscii(Byte c) { return (c >= 'A' && c <= 'Z') ? static_cast<Byte>(c - 'A' + 'a') : c; }

bool isCSpace(Byte c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The leading decimal number of text, read like the run-time's 64-bit conversion: blanks, one
// sign, digits; the sum wraps in 64 bits. Only its low 32 bits are kept, as a signed number.
int32_t parseWindowNumber(const std::string& text) {
  const Byte* p = bytes(text.c_str());
  while (isCSpace(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint64_t>(*p - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

}  // namespace

const char* cmdTail(const char* commandLine) {
  const Byte* p = bytes(commandLine);
  bool inQuotes = false;
  for (; *p != 0 && (inQuotes || *p > 0x20); ++p) {
    if (*p == '"') inQuotes = !inQuotes;
  }
  while (*p != 0 && *p <= 0x20) ++p;
  return reinterpret_cast<const char*>(p);
}

const char* cmdNextWord(const char* text, std::string& word) {
  const Byte* p = bytes(text);
  // Between words: control bytes, blanks and bytes of 0x80 and above cannot begin a word.
  while (*p != 0 && (*p <= 0x20 || *p >= 0x80)) ++p;
  if (*p == 0) return nullptr;
  if (*p == '"') {
    const Byte* start = ++p;
    while (*p != 0 && *p != '"') ++p;
    word.assign(start, p);
    if (*p == '"') ++p;
  } else {
    const Byte* start = p;
    while (*p > 0x20) ++p;
    word.assign(start, p);
  }
  return reinterpret_cast<const char*>(p);
}

void cmdSplitLine(const char* text, StringList& words) {
  std::string word;
  while ((text = cmdNextWord(text, word)) != nullptr) words.push_back(word);
}

bool cmdIsSwitch(const std::string& word, const char* name) {
  if (word.empty() || (word[0] != '-' && word[0] != '/')) return false;
  const Byte* expected = bytes(name);
  if (*expected != '/') return false;
  for (std::size_t i = 1; i < word.size(); ++i) {
    if (expected[i] == 0 || lowerAscii(static_cast<Byte>(word[i])) != lowerAscii(expected[i])) return false;
  }
  return expected[word.size()] == 0;
}

void cmdParseSwitches(const StringList& words, RunSettings& settings, StringList* notSwitches) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    bool matched = false;
    for (const Switch& entry : kSwitches) {
      if (!cmdIsSwitch(words[i], entry.name)) continue;
      matched = true;
      switch (entry.effect) {
        case Effect::Job: settings.jobCode = entry.jobCode; break;
        case Effect::UpdateVps: settings.updateVps = true; break;
        case Effect::Progress: settings.progress = true; break;
        case Effect::Silent: settings.silent = true; break;
        case Effect::Hwnd:
          // The next word is the number, whatever it is; without one nothing changes.
          if (i + 1 < words.size()) settings.hwnd = parseWindowNumber(words[++i]);
          break;
      }
      break;
    }
    if (!matched && notSwitches != nullptr) notSwitches->push_back(words[i]);
  }
}

const char* cmdJobSwitch(uint32_t jobCode) {
  for (const Switch& entry : kSwitches) {
    if (entry.effect == Effect::Job && entry.jobCode == jobCode) return entry.name;
  }
  return "(none)";
}

std::string cmdNoJobText(const StringList& notSwitches) {
  std::string text = "no job switch, so no job runs";
  const char* separator = "; not switches: \"";
  for (const std::string& word : notSwitches) {
    text += separator + word + "\"";
    separator = ", \"";
  }
  return text;
}
