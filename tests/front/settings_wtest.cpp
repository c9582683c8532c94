#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "front/settings.h"
#include "host/win.h"
#include "sandbox.h"

namespace {

constexpr char kAppData[] = "U3_APP_DATA_PATH";
constexpr char kHostExec[] = "U3_HOST_EXEC_PATH";

std::optional<std::string> variable(const char* name) {
  std::string value(32768, '\0');
  SetLastError(0);
  const DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
  value.resize(length);
  return value;
}

void setVariable(const char* name, const std::optional<std::string>& value) {
  SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
}

// "C:\" and then ".\" until the path is length bytes long (a last "." when length is even):
// the root folder under any length, already in its short form.
std::string paddedRoot(std::size_t length) {
  std::string path = "C:\\";
  while (path.size() + 2 <= length) path += ".\\";
  if (path.size() < length) path += '.';
  return path;
}

struct FolderCase {
  std::string label;
  std::optional<std::string> value;  // nullopt: the variable is not set
  std::string stored;                // what the settings hold afterwards
  std::string why;                   // what the trace says of the variable, after its name
};

// What a U3 variable may hold, and the folder the settings keep for it. A value too long for the
// field leaves it empty, even where its first 259 bytes would name a folder.
std::vector<FolderCase> folderCases(const Sandbox& box) {
  const std::string blanks = box.folder("long folder name");
  return {
      {"unset", std::nullopt, "", "is not set"},
      {"empty", std::string(), "", "\"\" names no existing folder"},
      {"missing folder", joinPath(box.root(), "missing"), "",
       "\"" + joinPath(box.root(), "missing") + "\" names no existing folder"},
      {"folder with blanks, kept in its short form", blanks, shortPath(blanks)},
      {"259 bytes: the field full", paddedRoot(259), paddedRoot(259)},
      {"260 bytes", paddedRoot(260), "", "is too long: 260 characters, of which 259 fit"},
      {"300 bytes", paddedRoot(300), "", "is too long: 300 characters, of which 259 fit"},
      {"4000 bytes", paddedRoot(4000), "", "is too long: 4000 characters, of which 259 fit"},
  };
}

class InitSettings : public ::testing::Test {
 protected:
  InitSettings() : saved_(gSettings), appData_(variable(kAppData)), hostExec_(variable(kHostExec)) {}
  ~InitSettings() override {
    setVariable(kAppData, appData_);
    setVariable(kHostExec, hostExec_);
    gSettings = saved_;
  }

  Sandbox box;

 private:
  RunSettings saved_;
  std::optional<std::string> appData_;
  std::optional<std::string> hostExec_;
};

TEST_F(InitSettings, StoresTheShortFormOfEachFolderOrNothing) {
  const std::string other = box.folder("other folder");
  const std::string otherShort = shortPath(other);
  ASSERT_EQ(otherShort.find(' '), std::string::npos);
  for (const FolderCase& c : folderCases(box)) {
    ASSERT_LE(c.stored.size(), 259u) << c.label;
    EXPECT_EQ(c.stored.find(' '), std::string::npos) << c.label;

    setVariable(kHostExec, c.value);
    setVariable(kAppData, other);
    u3InitSettings();
    EXPECT_EQ(std::string(gSettings.hostExecPath), c.stored) << "host exec path: " << c.label;
    EXPECT_EQ(std::string(gSettings.appDataPath), otherShort) << "host exec path: " << c.label;

    setVariable(kAppData, c.value);
    setVariable(kHostExec, other);
    u3InitSettings();
    EXPECT_EQ(std::string(gSettings.appDataPath), c.stored) << "app data path: " << c.label;
    EXPECT_EQ(std::string(gSettings.hostExecPath), otherShort) << "app data path: " << c.label;
  }
}

TEST_F(InitSettings, ClearsWhatAnEarlierCommandLineSet) {
  gSettings.jobCode = 14;
  gSettings.silent = true;
  gSettings.progress = true;
  gSettings.updateVps = true;
  gSettings.hwnd = -1;
  u3InitSettings();
  EXPECT_EQ(gSettings.jobCode, 0u);
  EXPECT_FALSE(gSettings.silent);
  EXPECT_FALSE(gSettings.progress);
  EXPECT_FALSE(gSettings.updateVps);
  EXPECT_EQ(gSettings.hwnd, 0);
}

using Settings = E2E;
using Lines = std::vector<std::string>;
using Meaning = std::pair<std::string, std::string>;  // a variable, and what a run does without it

// The trace names each unusable folder, and the run without a job, with what comes of it.
TEST_F(Settings, AnyFolderValueRunsToTheEndWithoutAJob) {
  placeDouble("setup.exe");
  const std::string trace = joinPath(box.root(), "trace.txt"), noJob = "no job switch, so no job runs";
  for (const FolderCase& c : folderCases(box)) {
    for (const auto& [variable, meaning] : {
             Meaning{kAppData, ": no drive folder, so packages are searched for in the current folder"},
             Meaning{kHostExec, ": no host folder, so executables are written into the current folder and programs "
                                "are looked for as bare names"}}) {
      DeleteFileA(trace.c_str());
      EXPECT_EQ(run("/silent /hwnd 3", {{variable, c.value}, {"KOU3UPD_TRACE", trace}}), 0u) << variable << c.label;
      const Lines expected = c.why.empty() ? Lines{noJob} : Lines{variable + " " + c.why + meaning, noJob};
      EXPECT_EQ(traceSteps(trace, {"U3_", "no job"}), expected) << c.label;
    }
  }
  DeleteFileA(trace.c_str());  // /hwnd's number below is no switch, but not named as one either
  EXPECT_EQ(run("/extractSetp extractSetup /hwnd x /extractSetup=1", {{"KOU3UPD_TRACE", trace}}), 0u);
  EXPECT_EQ(traceSteps(trace, {"no job"}),
            Lines{noJob + "; not switches: \"/extractSetp\", \"extractSetup\", \"/extractSetup=1\""});
  EXPECT_TRUE(journal().empty());
}

}  // namespace
