#include <gtest/gtest.h>

#include <cstdint>

#include "front/dispatch.h"

namespace {

struct Mapping {
  uint32_t result;
  uint32_t exitCode;
};

// The launcher's results that count as a configured host give 0, every other result 1.
const Mapping kHostConfigure[] = {
    {0, 0},           {1, 1},           {2, 1},           {144, 1},         {145, 0},
    {146, 1},         {0x1FFFFFFF, 1},  {0x20000000, 0},  {0x20000001, 0},  {0x20000002, 1},
    {0x2000000F, 1},  {0x20000010, 0},  {0x20000011, 1},  {0x20000012, 0},  {0x20000013, 1},
    {0x20000091, 1},  {0x80000000, 1},  {0xFFFFFFFE, 1},  {0xFFFFFFFF, 1},
};

TEST(ExitCode, HostConfigureGivesZeroOrOne) {
  for (const Mapping& m : kHostConfigure) {
    EXPECT_EQ(u3ExitCode(job::kHostConfigure, m.result), m.exitCode) << std::hex << "result 0x" << m.result;
  }
}

TEST(ExitCode, EveryOtherJobPassesItsResultOn) {
  const uint32_t jobs[] = {job::kNone, job::kAppStart, job::kAppStop, job::kHostCleanup, job::kCheckUpdate,
                           job::kUpdatePkgs, job::kUpdateFiles, job::kExtractSetup, job::kInstallScan,
                           job::kSetProxy, job::kRunSetup};
  const uint32_t results[] = {0, 1, 2, 145, 146, 0x20000000, 0x20000002, 0x20000011,
                              0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
  for (uint32_t jobCode : jobs) {
    for (uint32_t result : results) {
      EXPECT_EQ(u3ExitCode(jobCode, result), result) << std::hex << "job " << jobCode << " result 0x" << result;
    }
  }
}

TEST(RunJob, CodesWithoutAJobRunNothingAndGiveZero) {
  for (uint32_t jobCode : {0u, 1u, 6u, 11u, 15u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(u3RunJob(jobCode, "/runSetup /x"), 0u) << "job " << jobCode;
  }
}

}  // namespace
