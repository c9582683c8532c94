// End to end: whatever the started program does, kou3upd.exe hands on its exit code as it is
// and returns as soon as that program has ended.
#include <string>
#include <vector>

#include "e2e.h"
#include "host/win.h"

namespace {

class Children : public E2E {
 protected:
  Children() { placeDouble("KernoU3.exe"); }
  std::string stopLine() const { return "KernoU3.exe|" + hostShort() + "\\KernoU3.exe /stop"; }
};

TEST_F(Children, TheChildsEndPassesThroughUnchanged) {
  const struct {
    const char* what;
    const char* scriptLine;
    uint32_t code;
  } table[] = {
      {"crashes with an access violation", "0 crash", 0xC0000005},
      {"ends with 0xFFFFFFFF", "0xFFFFFFFF", 0xFFFFFFFF},
      {"ends with 259, the code of a process still running", "259", 259},
  };
  std::vector<std::string> lines;
  for (const auto& row : table) lines.push_back(row.scriptLine);
  script("KernoU3.exe", lines);
  std::vector<std::string> expectedJournal;
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(run("/appStop"), row.code);
    expectedJournal.push_back(stopLine());
    EXPECT_EQ(journal(), expectedJournal);
  }
}

TEST_F(Children, ReturnsWhenTheDirectChildEndsThoughItsOwnChildRuns) {
  script("KernoU3.exe", {"7 spawn:20000"});
  const ULONGLONG started = GetTickCount64();
  EXPECT_EQ(run("/appStop"), 7u);
  const ULONGLONG took = GetTickCount64() - started;

  const std::string grandchildId = readText(joinPath(control, "KernoU3.exe.spawned"));
  ASSERT_FALSE(grandchildId.empty()) << "the child started no child of its own";
  const KernelHandle grandchild(
      OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(grandchildId))));
  ASSERT_TRUE(grandchild);
  const bool stillRunning = WaitForSingleObject(grandchild.get(), 0) == WAIT_TIMEOUT;
  TerminateProcess(grandchild.get(), 0);
  WaitForSingleObject(grandchild.get(), 10000);

  EXPECT_TRUE(stillRunning) << "kou3upd.exe returned only after its child's child had ended";
  EXPECT_LT(took, 10000u) << "the child's child sleeps 20 s";
  EXPECT_EQ(journal(), std::vector<std::string>{stopLine()});
}

}  // namespace
