#include <ostream>
#include <string>
#include <vector>

#include "inprocess.h"
#include "jobs/stop.h"

namespace {

struct StopCall {
  const char* name;
  uint32_t (*job)();
  const char* program;
  const char* programSwitch;
};

const StopCall kStopCalls[] = {
    {"appStop", u3AppStop, "KernoU3.exe", " /stop"},
    {"hostCleanup", u3HostCleanup, "KoU3Launcher.exe", " /hostCleanup"},
};

class StopQuoting : public InProcess, public ::testing::WithParamInterface<StopCall> {};

void PrintTo(const StopCall& param, std::ostream* out) { *out << param.name; }

}  // namespace

// As on a volume without short names: the host folder reaches the job long, blanks and all.
TEST_P(StopQuoting, HostPathWithBlanksIsQuotedAndTheRightProgramRuns) {
  const StopCall& call = GetParam();
  const std::string folder = box.folder("long host folder for the suite");
  // Where an unquoted line would send Windows first.
  writeBytes(joinPath(box.root(), "long.exe"), doubleImage());
  writeBytes(joinPath(folder, call.program), doubleImage());
  script("long.exe", {"99"});
  script(call.program, {"0x80000003"});
  useHostPath(folder);
  EXPECT_EQ(call.job(), 0x80000003u);
  const std::string expected = std::string(call.program) + "|\"" + folder + "\\" + call.program + "\"" + call.programSwitch;
  EXPECT_EQ(journal(), std::vector<std::string>{expected});
}

TEST_P(StopQuoting, BlankFreeHostPathIsLeftAsItIs) {
  const StopCall& call = GetParam();
  const std::string folder = shortPath(box.folder("long host folder for the suite"));
  ASSERT_EQ(folder.find(' '), std::string::npos) << folder;
  writeBytes(joinPath(folder, call.program), doubleImage());
  script(call.program, {"0xFFFFFFFE"});
  useHostPath(folder);
  EXPECT_EQ(call.job(), 0xFFFFFFFEu);
  const std::string expected = std::string(call.program) + "|" + folder + "\\" + call.program + call.programSwitch;
  EXPECT_EQ(journal(), std::vector<std::string>{expected});
}

INSTANTIATE_TEST_SUITE_P(Jobs, StopQuoting, ::testing::ValuesIn(kStopCalls),
                         [](const auto& info) { return std::string(info.param.name); });
