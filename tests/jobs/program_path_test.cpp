#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "front/settings.h"
#include "jobs/suite.h"

namespace {

RunSettings withHost(const char* hostExecPath) {
  RunSettings settings{};
  std::strncpy(settings.hostExecPath, hostExecPath, sizeof settings.hostExecPath - 1);
  return settings;
}

}  // namespace

TEST(ProgramPath, JoinsHostAndProgramQuotingOnlyAPathWithABlank) {
  const struct {
    const char* host;
    const char* program;
    const char* expected;
  } cases[] = {
      {"D:\\HOST", "KernoU3.exe", "D:\\HOST\\KernoU3.exe"},
      {"D:\\HOST\\", "setup.exe", "D:\\HOST\\setup.exe"},
      {"C:\\DOCUME~1\\ANNABE~1\\LOCALS~1\\Temp\\U3", "KoU3Launcher.exe",
       "C:\\DOCUME~1\\ANNABE~1\\LOCALS~1\\Temp\\U3\\KoU3Launcher.exe"},
      {"C:\\Users\\A B\\AppData\\Local\\U3\\host", "setup.exe", "\"C:\\Users\\A B\\AppData\\Local\\U3\\host\\setup.exe\""},
      {"C:\\Users\\A B\\", "KernoU3.exe", "\"C:\\Users\\A B\\KernoU3.exe\""},
      {"D:\\ends with a blank \\", "KernoU3.exe", "\"D:\\ends with a blank \\KernoU3.exe\""},
      {" ", "KernoU3.exe", "\" \\KernoU3.exe\""},
      {"", "KernoU3.exe", "KernoU3.exe"},
  };
  for (const auto& pathCase : cases) {
    SCOPED_TRACE(pathCase.host);
    EXPECT_EQ(u3ProgramPath(pathCase.program, withHost(pathCase.host)), pathCase.expected);
  }
}

TEST(ProgramPath, ReadsTheRunSettingsWhenNoneAreGiven) {
  const RunSettings saved = gSettings;
  gSettings = withHost("E:\\U3 HOST");
  EXPECT_EQ(u3ProgramPath(suite::kLauncher), "\"E:\\U3 HOST\\KoU3Launcher.exe\"");
  gSettings = withHost("E:\\U3HOST");
  EXPECT_EQ(u3ProgramPath(suite::kLauncher), "E:\\U3HOST\\KoU3Launcher.exe");
  gSettings = saved;
}
