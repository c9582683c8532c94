#include <ostream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

struct StopJob {
  const char* switchWord;
  const char* program;
  const char* programSwitch;
  const char* otherProgram;  // stands in the host folder too, and must never be started
};

const StopJob kStopJobs[] = {
    {"/appStop", "KernoU3.exe", " /stop", "KoU3Launcher.exe"},
    {"/hostCleanup", "KoU3Launcher.exe", " /hostCleanup", "KernoU3.exe"},
};

class StopJobs : public E2E, public ::testing::WithParamInterface<StopJob> {};

void PrintTo(const StopJob& param, std::ostream* out) { *out << param.switchWord; }

}  // namespace

TEST_P(StopJobs, StartProgramFromHostFolderAndPassItsCodeOn) {
  const StopJob& job = GetParam();
  const std::vector<std::string> codes = {"3", "0", "0x20000010", "0x80000000", "0xFFFFFFFE"};
  const std::vector<uint32_t> expected = {3, 0, 0x20000010, 0x80000000, 0xFFFFFFFE};
  placeDouble(job.program);
  placeDouble(job.otherProgram);
  script(job.program, codes);
  const std::string line = std::string(job.program) + "|" + hostShort() + "\\" + job.program + job.programSwitch;
  for (size_t run = 0; run < expected.size(); ++run) {
    SCOPED_TRACE(codes[run]);
    EXPECT_EQ(this->run(job.switchWord), expected[run]);
    EXPECT_EQ(journal(), std::vector<std::string>(run + 1, line));
  }
}

TEST_P(StopJobs, MissingProgramEndsWithTheStartErrorAndStartsNothing) {
  const StopJob& job = GetParam();
  placeDouble(job.otherProgram);
  placeDouble("setup.exe");
  EXPECT_EQ(run(job.switchWord), 2u);  // ERROR_FILE_NOT_FOUND
  EXPECT_TRUE(journal().empty());
}

INSTANTIATE_TEST_SUITE_P(Jobs, StopJobs, ::testing::ValuesIn(kStopJobs),
                         [](const auto& info) { return std::string(info.param.switchWord + 1); });
