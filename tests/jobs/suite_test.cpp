#include "jobs/suite.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

struct Flags {
  bool updateVps;
  bool silent;
  bool progress;
  int32_t hwnd;
};

RunSettings settingsWith(const Flags& flags) {
  RunSettings settings{};
  settings.updateVps = flags.updateVps;
  settings.silent = flags.silent;
  settings.progress = flags.progress;
  settings.hwnd = flags.hwnd;
  return settings;
}

TEST(SetupSwitches, SuffixForEachFlagCombination) {
  struct Case {
    Flags flags;
    const char* suffix;
  };
  const Case cases[] = {
      {{false, false, false, 0}, " /verysilent"},
      {{false, true, false, 0}, " /silent"},
      {{false, false, true, 0}, " /silent /progress"},
      {{false, true, true, 0}, " /silent /progress"},
      {{true, false, false, 0}, " /updatevps /verysilent"},
      {{true, true, false, 0}, " /updatevps /silent"},
      {{false, false, false, 1234}, " /verysilent /hwnd 1234"},
      {{false, false, false, -5}, " /verysilent /hwnd -5"},
      {{false, true, false, 1}, " /silent /hwnd 1"},
      {{false, false, false, INT32_MIN}, " /verysilent /hwnd -2147483648"},
      {{false, false, false, INT32_MAX}, " /verysilent /hwnd 2147483647"},
      {{true, true, true, 1234}, " /updatevps /silent /progress /hwnd 1234"},
  };
  for (const Case& c : cases) {
    std::string line;
    u3AppendSetupSwitches(line, settingsWith(c.flags));
    EXPECT_EQ(line, c.suffix) << "updateVps " << c.flags.updateVps << " silent " << c.flags.silent << " progress "
                              << c.flags.progress << " hwnd " << c.flags.hwnd;
  }
}

TEST(SetupSwitches, AppendsAfterWhatIsThere) {
  std::string line = "D:\\HOST\\setup.exe /refresh";
  u3AppendSetupSwitches(line, settingsWith({false, true, false, -5}));
  EXPECT_EQ(line, "D:\\HOST\\setup.exe /refresh /silent /hwnd -5");
}

TEST(SaveLog, HostFolderGoesInAsItStandsBeforeTheLogName) {
  const struct {
    const char* host;
    const char* logName;
    const char* expected;
  } cases[] = {
      {"D:\\HOST", suite::kPkgsLog, "x /savelog \"D:\\HOST\\u3upd_pkgs.log\""},
      // Unjoined: a host folder ending in a backslash keeps it, and the log name adds its own.
      {"D:\\HOST\\", suite::kFilesLog, "x /savelog \"D:\\HOST\\\\u3upd_files.log\""},
      {"", suite::kAppStartLog, "x /savelog \"\\u3upd_appStart.log\""},
  };
  for (const auto& c : cases) {
    RunSettings settings{};
    std::snprintf(settings.hostExecPath, sizeof settings.hostExecPath, "%s", c.host);
    std::string line = "x";
    u3AppendSaveLog(line, c.logName, settings);
    EXPECT_EQ(line, c.expected) << c.host;
  }
}

TEST(SetupResult, AcceptsExactlySixValues) {
  struct Case {
    uint32_t result;
    bool ok;
  };
  const Case cases[] = {
      {0, true},           {1, false},          {144, false},        {145, true},
      {146, false},        {0x1FFFFFFF, false}, {0x20000000, true},  {0x20000001, true},
      {0x20000002, false}, {0x2000000F, false}, {0x20000010, true},  {0x20000011, false},
      {0x20000012, true},  {0x20000013, false}, {0x30000010, false}, {0x80000000, false},
      {0xA0000010, false}, {0xFFFFFF6F, false}, {0xFFFFFFFE, false}, {0xFFFFFFFF, false},
  };
  for (const Case& c : cases) EXPECT_EQ(u3IsSetupResultOk(c.result), c.ok) << std::hex << "0x" << c.result;
}

TEST(RunSetupTail, TextAfterTheFirstRunSetupSwitchAsItStands) {
  struct Case {
    const char* cmdText;
    const char* tail;
  };
  const Case cases[] = {
      {"/runSetup /x /y", " /x /y"},
      {"/runSetup", ""},
      {"/runSetup ", " "},
      {"/silent /runSetup /x", " /x"},
      {"-RUNSETUP \"a b\"", " \"a b\""},
      {"\"/runSetup\" /x", " /x"},
      {"\"/runSetup", ""},
      {"/runSetup  /x\t\"q r\"  ", "  /x\t\"q r\"  "},
      {"/runSetup /runSetup /z", " /runSetup /z"},
      {"/runSetupx /runSetup /y", " /y"},
      {"runSetup /runSetup /y", " /y"},
      // The word after /hwnd is its number even when it looks like a switch.
      {"/hwnd /runSetup /runSetup /z", " /z"},
      {"/HWND 7 /runSetup /z", " /z"},
      {"/hwnd", ""},
      {"/silent /x", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(u3RunSetupTail(c.cmdText), c.tail) << "command-line text: " << c.cmdText;
}

}  // namespace
