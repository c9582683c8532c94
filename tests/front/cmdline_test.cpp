#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "front/cmdline.h"
#include "front/settings.h"

namespace {

StringList split(const std::string& text) {
  StringList words;
  cmdSplitLine(text.c_str(), words);
  return words;
}

// Hex escapes are closed with "" before a byte that would read as another hex digit.
struct SplitCase {
  const char* label;
  std::string text;
  StringList words;
};

const SplitCase kSplits[] = {
    {"empty text", "", {}},
    {"blanks only", "   ", {}},
    {"blanks and control bytes only", " \t\r\n\x01\x1f ", {}},
    {"high bytes only", "\x80\xff \xa0", {}},
    {"plain words", "/appStart  /silent", {"/appStart", "/silent"}},
    {"leading and trailing blanks", "  a  b  ", {"a", "b"}},
    {"tab, CR and LF separate", "a\tb\rc\nd", {"a", "b", "c", "d"}},
    {"high bytes skipped between words, kept inside", "\x80\xff" "ab\xe9" "c \xe9", {"ab\xe9" "c"}},
    {"high byte cannot begin a word", "\xe9/silent", {"/silent"}},
    {"0x21 and 0x7f begin words", "! \x7f", {"!", "\x7f"}},
    {"quoted word keeps its blanks", "\"a  b\" c", {"a  b", "c"}},
    {"quoted word followed directly by bytes", "\"a b\"c", {"a b", "c"}},
    {"quoted word followed directly by a quoted word", "\"a\"\"b\"", {"a", "b"}},
    {"high byte after a closing quote is skipped", "\"a\"\xe9" "b", {"a", "b"}},
    {"inner quote of an unquoted word is kept", "ab\"cd", {"ab\"cd"}},
    {"a blank ends an unquoted word even inside quotes", "ab\"c d\"", {"ab\"c", "d\""}},
    {"two quotes give one empty word", "\"\"", {""}},
    {"an empty word between others", "a \"\" b", {"a", "", "b"}},
    {"a trailing quote gives one empty word", "a \"", {"a", ""}},
    {"a lone quote gives one empty word", "\"", {""}},
    {"unterminated quoted word runs to the end", "\"/silent", {"/silent"}},
    {"unterminated quoted word keeps trailing blanks", "x \"a  b ", {"x", "a  b "}},
    {"quoted word keeps control and high bytes", "\"a\tb\x01\xe9\"", {"a\tb\x01\xe9"}},
    {"backslash escapes nothing", "\"a\\\" b\"", {"a\\", "b\""}},
    {"doubled quotes are not one quote", "\"a\"\"\"b", {"a", "", "b"}},
};

TEST(CmdSplitLine, SplitsIntoWords) {
  for (const SplitCase& c : kSplits) EXPECT_EQ(split(c.text), c.words) << c.label;
}

TEST(CmdSplitLine, EveryByteFrom0x01To0x20SeparatesWords) {
  for (int byte = 0x01; byte <= 0x20; ++byte) {
    const std::string text = std::string("a") + static_cast<char>(byte) + "b" + static_cast<char>(byte);
    EXPECT_EQ(split(text), (StringList{"a", "b"})) << "byte " << byte;
  }
}

TEST(CmdSplitLine, EveryByteFrom0x80To0xFFIsSkippedBetweenWordsAndKeptInside) {
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const char high = static_cast<char>(byte);
    const std::string text = std::string(1, high) + "a" + high + "b " + high;
    EXPECT_EQ(split(text), (StringList{std::string("a") + high + "b"})) << "byte " << byte;
  }
}

TEST(CmdSplitLine, AppendsToTheListItIsGiven) {
  StringList words = {"kept"};
  cmdSplitLine("a b", words);
  EXPECT_EQ(words, (StringList{"kept", "a", "b"}));
}

struct TailCase {
  const char* label;
  std::string commandLine;
  std::string tail;
};

const TailCase kTails[] = {
    {"quoted path with blanks", "\"C:\\Program Files\\kou3\\kou3upd.exe\" /appStart", "/appStart"},
    {"blanks and tabs after the name go, the tail's own spacing stays",
     "\"C:\\Program Files\\kou3upd.exe\"   \t  /a  \"b  c\"  d ", "/a  \"b  c\"  d "},
    {"unquoted path", "C:\\kou3\\kou3upd.exe /x", "/x"},
    {"quotes inside the name", "C:\\a\"b c\"d\\k.exe /x", "/x"},
    {"bytes after a closing quote belong to the name", "\"C:\\a b\\k.exe\"/silent /x", "/x"},
    {"unterminated quote takes the whole line", "\"C:\\a b\\k.exe /x", ""},
    {"name with high bytes", "C:\\M\xfcller\\kou3upd.exe /hwnd 5", "/hwnd 5"},
    {"quoted name with high bytes, high byte starting the tail", "\"C:\\M\xfcller dir\\k.exe\" \xe9x /y",
     "\xe9x /y"},
    {"any byte up to 0x20 ends the name", "k.exe\x01/x", "/x"},
    {"CR and LF after the name", "k.exe\t\r\n /x", "/x"},
    {"no tail", "kou3upd.exe", ""},
    {"quoted name, no tail", "\"C:\\a b\\kou3upd.exe\"", ""},
    {"blanks only after the name", "\"C:\\a b\\kou3upd.exe\"  \t ", ""},
    {"empty line", "", ""},
    {"leading blank: the name is empty", "   /x", "/x"},
};

TEST(CmdTail, TakesOffTheProgramNameAndTheBlanksAfterIt) {
  for (const TailCase& c : kTails) {
    const char* line = c.commandLine.c_str();
    const char* tail = cmdTail(line);
    EXPECT_EQ(std::string(tail), c.tail) << c.label;
    // The tail is the rest of the same text, not a copy.
    EXPECT_EQ(tail, line + c.commandLine.size() - c.tail.size()) << c.label;
  }
}

struct Parsed {
  uint32_t jobCode;
  bool silent;
  bool progress;
  bool updateVps;
  int32_t hwnd;
};

bool operator==(const Parsed& a, const Parsed& b) {
  return a.jobCode == b.jobCode && a.silent == b.silent && a.progress == b.progress && a.updateVps == b.updateVps &&
         a.hwnd == b.hwnd;
}

std::ostream& operator<<(std::ostream& out, const Parsed& p) {
  return out << "{job " << p.jobCode << ", silent " << p.silent << ", progress " << p.progress << ", updateVps "
             << p.updateVps << ", hwnd " << p.hwnd << "}";
}

Parsed parse(const StringList& words) {
  RunSettings settings{};
  cmdParseSwitches(words, settings);
  return {settings.jobCode, settings.silent, settings.progress, settings.updateVps, settings.hwnd};
}

struct ParseCase {
  std::string line;
  Parsed parsed;
};

const ParseCase kParses[] = {
    {"", {0, false, false, false, 0}},
    {"/hostConfigure", {2, false, false, false, 0}},
    {"/appStart", {3, false, false, false, 0}},
    {"/appStop", {4, false, false, false, 0}},
    {"/hostCleanup", {5, false, false, false, 0}},
    {"/checkUpdate", {7, false, false, false, 0}},
    {"/updatePkgs", {8, false, false, false, 0}},
    {"/updateFiles", {9, false, false, false, 0}},
    {"/extractSetup", {10, false, false, false, 0}},
    {"/installScan", {12, false, false, false, 0}},
    {"/setProxy", {13, false, false, false, 0}},
    {"/runSetup", {14, false, false, false, 0}},
    {"/silent", {0, true, false, false, 0}},
    {"/progress", {0, false, true, false, 0}},
    {"/updateVps", {0, false, false, true, 0}},
    {"/hwnd 1234", {0, false, false, false, 1234}},
    // A leading "-" is a "/", and letter case does not matter.
    {"-hostconfigure", {2, false, false, false, 0}},
    {"/APPSTART", {3, false, false, false, 0}},
    {"-AppStart", {3, false, false, false, 0}},
    {"-RUNSETUP", {14, false, false, false, 0}},
    {"-SiLeNt -PROGRESS -updatevps", {0, true, true, true, 0}},
    {"-HWND 9", {0, false, false, false, 9}},
    {"/silent -appStart", {3, true, false, false, 0}},
    // The last job switch decides; flags once set stay set.
    {"/appStart /appStop", {4, false, false, false, 0}},
    {"/runSetup /x /hostConfigure", {2, false, false, false, 0}},
    {"/silent /appStart /progress /updateVps /appStop /extractSetup", {10, true, true, true, 0}},
    // Words that are not switches are ignored.
    {"/appStartx /app --silent / - silent appStart x/silent", {0, false, false, false, 0}},
    {"/appStart/silent /silent\" //silent -/silent", {0, false, false, false, 0}},
    {"\xe9/silent", {0, true, false, false, 0}},
    {"/sil\xe9nt /silent\xe9", {0, false, false, false, 0}},
    // A switch in quotes, closed or not, is still the switch.
    {"\"/silent\"", {0, true, false, false, 0}},
    {"/appStop \"/silent", {4, true, false, false, 0}},
    {"\"-hwnd\" \"12\"", {0, false, false, false, 12}},
    // /hwnd consumes the next word, whatever it is.
    {"/hwnd 1234 /silent", {0, true, false, false, 1234}},
    {"/hwnd /silent", {0, false, false, false, 0}},
    {"/hwnd /appStart /appStop", {4, false, false, false, 0}},
    {"/hwnd /hwnd 5", {0, false, false, false, 0}},
    {"/hwnd", {0, false, false, false, 0}},
    {"/hwnd 5 /hwnd", {0, false, false, false, 5}},
    {"/hwnd 5 /hwnd 7", {0, false, false, false, 7}},
    {"/hwnd 5 /hwnd x", {0, false, false, false, 0}},
    {"/updatePkgs /silent /hwnd 1234", {8, true, false, false, 1234}},
};

TEST(CmdParseSwitches, ReadsJobFlagsAndWindowNumber) {
  for (const ParseCase& c : kParses) EXPECT_EQ(parse(split(c.line)), c.parsed) << "[" << c.line << "]";
}

struct NumberCase {
  std::string word;
  int32_t hwnd;
};

// The run-time's 64-bit conversion, wrapping instead of clamping, cut to the low 32 bits.
const NumberCase kNumbers[] = {
    {"1234", 1234},
    {"007", 7},
    {"12ab", 12},
    {"1 2", 1},
    {"-5", -5},
    {"+7", 7},
    {"-0", 0},
    {"0x10", 0},
    {"", 0},
    {"abc", 0},
    {"+-7", 0},
    {"-+7", 0},
    {"--7", 0},
    {"- 7", 0},
    {"\xe9" "5", 0},
    {" \t\r\n\v\f12", 12},
    {"2147483647", 2147483647},
    {"2147483648", INT32_MIN},
    {"-2147483648", INT32_MIN},
    {"-2147483649", 2147483647},
    {"3000000000", -1294967296},
    {"4294967295", -1},
    {"4294967296", 0},
    {"4294967297", 1},
    {"12345678901234567890", -350287150},
    {"18446744073709551615", -1},
    {"18446744073709551616", 0},
    {"18446744073709551617", 1},
    {"36893488147419103233", 1},
    {"-18446744073709551615", 1},
    // 10^30 = 2^30 * 5^30, and 5^30 is 1 modulo 4.
    {"1" + std::string(30, '0'), 1073741824},
    {"-1" + std::string(30, '0'), -1073741824},
    // 10^n - 1 with n >= 32 is -1 modulo 2^32.
    {std::string(100, '9'), -1},
    {std::string(5000, '9') + "x", -1},
};

TEST(CmdParseSwitches, ReadsTheWindowNumberLikeTheRunTimeWithWrapping) {
  for (const NumberCase& c : kNumbers) {
    EXPECT_EQ(parse({"/hwnd", c.word}).hwnd, c.hwnd) << "[" << c.word.substr(0, 40) << "]";
  }
}

TEST(CmdParseSwitches, ALaterRunStartsFromTheDefaults) {
  RunSettings settings{};
  std::strcpy(settings.hostExecPath, "D:\\HOST");
  std::strcpy(settings.appDataPath, "E:\\DATA");
  cmdParseSwitches(split("/appStart /silent /progress /updateVps /hwnd 9"), settings);
  EXPECT_EQ(settings.jobCode, 3u);

  u3ResetCommandFields(settings);
  cmdParseSwitches(split("/bogus"), settings);
  EXPECT_EQ(settings.jobCode, 0u);
  EXPECT_FALSE(settings.silent);
  EXPECT_FALSE(settings.progress);
  EXPECT_FALSE(settings.updateVps);
  EXPECT_EQ(settings.hwnd, 0);
  // The folders are not the command line's to change.
  EXPECT_STREQ(settings.hostExecPath, "D:\\HOST");
  EXPECT_STREQ(settings.appDataPath, "E:\\DATA");
}

}  // namespace
