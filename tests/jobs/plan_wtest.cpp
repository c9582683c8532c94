// vpupack plan beside the real kou3upd.exe: for every job switch and each branch the results take,
// the plan's starts, log lines and exit code are those of a run with the same drive, folders and
// results.
#include <gmock/gmock.h>

#include <map>
#include <ostream>

#include "jobs_e2e.h"

namespace {

struct Result {
  const char* program;
  uint32_t code;
};

// What the drive and the host folder hold before the run.
enum Holds : unsigned {
  kInstaller = 1,
  kLauncher = 2,
  kApplication = 4,
  kNoProgram = 8,
  kWorkIsFile = 16,
  kWorkIsLink = 32,  // under tests/e2e/linked_folder.sh alone
};

struct PlanCase {
  const char* tail;
  unsigned holds;
  std::vector<Result> results;  // in the order the programs start
};

void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.tail << ", holds " << c.holds; }

std::string jsonList(const Lines& items) {
  std::string json = "[";
  for (const std::string& item : items) {
    json += json.size() == 1 ? "\"" : ", \"";
    for (const char c : item) json += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
    json += "\"";
  }
  return json + "]";
}

}  // namespace

class Plan : public JobsE2E, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(Plan, TellsTheStartsLogAndExitCodeOfTheRealRun) {
  const PlanCase& c = GetParam();
  if (c.holds & kInstaller) packDouble("setup_ko_u3-1.vpu");
  if (c.holds & kNoProgram) packNonProgram("setup_ko_u3-2.vpu");
  if (c.holds & kLauncher) packDouble("kou3lnch-1.vpu");
  if (c.holds & kApplication) placeDouble("KernoU3.exe");
  if (c.holds & kWorkIsFile) writeText(work(), "a file");
  if (c.holds & kWorkIsLink) {
    if (linkedFolders().empty()) GTEST_SKIP() << "needs a link that tests/e2e/linked_folder.sh makes";
    temp = joinPath(linkedFolders(), "temp");
  }
  std::map<std::string, std::vector<std::string>> scripts;
  std::string planLine = "cmd.exe /c " + joinPath(binFolder(), "vpupack.exe") + " plan --json";
  for (const Result& r : c.results) {
    scripts[r.program].push_back(std::to_string(r.code));
    planLine += " --result " + std::to_string(r.code);
  }
  for (const auto& [program, lines] : scripts) script(program, lines);
  // The plan first, in the environment of the run: the run writes into the host folder.
  const std::string planFile = joinPath(box.root(), "plan.json");
  ASSERT_EQ(runLine(planLine + " -- " + c.tail + " >" + planFile, tempEnv()), 0u);

  const uint32_t exitCode = run(c.tail, tempEnv());
  const std::string planned = readText(planFile);
  EXPECT_THAT(planned, ::testing::HasSubstr("\"starts\": " + jsonList(commandLines()) + ","));
  EXPECT_THAT(planned, ::testing::HasSubstr("\"log\": " + jsonList(splitLines(log())) + ","));
  EXPECT_THAT(planned, ::testing::HasSubstr("\"exit\": " + std::to_string(exitCode) + ","));
}

INSTANTIATE_TEST_SUITE_P(
    JobsAndBranches, Plan,
    ::testing::Values(
        PlanCase{"/hostConfigure", kLauncher, {{"KoU3Launcher.exe", 0x20000012}}},
        PlanCase{"/hostConfigure", kLauncher, {{"KoU3Launcher.exe", 1603}}},
        PlanCase{"/hostConfigure", 0, {}},
        PlanCase{"/appStart", kInstaller, {{"setup.exe", 0x20000010}}},
        PlanCase{"/appStart", kInstaller, {{"setup.exe", 1603}, {"setup.exe", 0}, {"setup.exe", 0}}},
        PlanCase{"/appStart", kInstaller | kWorkIsFile, {}},
        PlanCase{"/updatePkgs /silent /hwnd 5", kInstaller, {{"setup.exe", 0x20000010}, {"setup.exe", 0}}},
        PlanCase{"/updatePkgs /progress", kInstaller,
                 {{"setup.exe", 0x20000010}, {"setup.exe", 1603}, {"setup.exe", 0}}},
        PlanCase{"/updatePkgs", kNoProgram, {}},
        PlanCase{"/updateFiles /updateVps", kInstaller, {{"setup.exe", 0xC0000005}}},
        PlanCase{"/checkUpdate", kInstaller, {{"setup.exe", 145}}},
        PlanCase{"/extractSetup", kInstaller, {}},
        PlanCase{"/installScan", kInstaller | kApplication, {{"setup.exe", 145}, {"KernoU3.exe", 7}}},
        PlanCase{"/installScan", kInstaller | kApplication, {{"setup.exe", 3}}},
        PlanCase{"/setProxy", kInstaller, {{"setup.exe", 0x80000000}}},
        PlanCase{"/runSetup /x \"a b\"", kInstaller, {{"setup.exe", 4}}},
        PlanCase{"/appStop", kApplication, {{"KernoU3.exe", 0xFFFFFFFF}}},
        PlanCase{"/hostCleanup", 0, {}},
        PlanCase{"/nothing here", kInstaller, {}},
        PlanCase{"/installScan", kInstaller | kWorkIsLink, {}}));
