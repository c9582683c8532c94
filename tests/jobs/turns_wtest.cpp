#include <thread>

#include "host/turn.h"
#include "jobs_e2e.h"

TEST(Turn, RunsOutWithBusyWhileHeldAndTakesTheHoldersMarkAwayWithIt) {
  const std::string mark = "Local\\kou3upd-turn-holder-" + std::to_string(GetCurrentProcessId());
  Turn ours, theirs;
  EXPECT_EQ(ours.take(0), 0u);
  std::thread([&] { EXPECT_EQ(theirs.take(100), 170u); }).join();  // a mutex belongs to a thread
  ours.release();
  EXPECT_FALSE(KernelHandle(OpenEventA(SYNCHRONIZE, FALSE, mark.c_str()))) << "children would skip their turn";
}

// Each pair runs one after the other, then with the second run started while the first one's child runs.
TEST_F(JobsE2E, RunsStartedTogetherEndAsIfRunOneAfterTheOther) {
  fillDrive();
  packDouble("setup_ko_u3-1.vpu");
  packDouble("kou3lnch-1.vpu");
  placeDouble("KernoU3.exe");
  const std::string event = "kou3-turn-" + std::to_string(GetCurrentProcessId());
  const std::string hold = " hold:" + event;
  const KernelHandle release(CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
  const struct {
    std::string first, second;
    Lines setup;       // the installer's script; its "storage:" line after the hold marks its end
    bool waits, kill;  // whether the second run waits; whether the first is killed before it starts
  } table[] = {
      {"/checkUpdate", "/updatePkgs", {"0" + hold + " list-storage", "0 touch-packages"}, true, false},
      {"/checkUpdate", "/hostConfigure", {"0" + hold + " touch-packages list-storage"}, true, false},
      {"/appStart", "/appStart", {"0" + hold + " list-storage", "0"}, true, false},
      {"/appStart", "/appStop", {"0" + hold}, false, false},
      {"/checkUpdate", "", {"0" + hold + " run: \"" + kou3upd() + "\" /updatePkgs", "145"}, false, false},
      {"/checkUpdate", "/checkUpdate", {"0 touch-packages list-storage" + hold, "0"}, false, true},
      {"/hostConfigure", "/updateFiles", {"0"}, false, false},  // the launcher holds, outside the turn
  };
  const auto ended = [](const Started& run) {
    DWORD code = 0xDEADDEAD;
    WaitForSingleObject(run.process.get(), 120000);
    GetExitCodeProcess(run.process.get(), &code);
    return code;
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.first + " then " + row.second);
    std::string apart, together;
    for (std::string* state : {&apart, &together}) {
      // Apart, the first run's child is not held at all.
      if (state == &apart) {
        SetEvent(release.get());
      } else {
        ResetEvent(release.get());
      }
      forgetRuns();
      script("setup.exe", row.setup);
      script("KoU3Launcher.exe", {"0" + hold});
      writeText(joinPath(drive, "prod-ko_u3.vpu"), "original");
      writeText(joinPath(drive, "silverfern.vpu"), "fern");
      const Started first = start(row.first, tempEnv());
      if (state == &apart) ended(first);
      // The installer of a run to kill has changed the packages once its storage line is there.
      for (int wait = 0; wait < 1000 && journal().size() < 1u + row.kill; ++wait) Sleep(10);
      if (state == &together && row.kill) TerminateProcess(first.process.get(), 0);  // as a pulled drive stops it
      const Started second = row.second.empty() ? Started() : start(row.second, tempEnv());
      // Longer than an unpack waits for the running installer: a run that did not wait has started its child.
      if (state == &together && second.process)
        EXPECT_EQ(WaitForSingleObject(second.process.get(), row.waits ? 3000 : 60000) == WAIT_TIMEOUT, row.waits);
      SetEvent(release.get());
      *state = std::to_string(ended(first)) + " " + std::to_string(second.process ? ended(second) : 0) + "\n";
      *state += readText(joinPath(control, "journal.txt")) + log();
      for (const char* name : {"prod-ko_u3.vpu", "silverfern.vpu", "prod-ko_u3.bak", "silverfern.bak"})
        *state += std::string(name) + ": " + readText(joinPath(drive, name)) + "\n";
    }
    EXPECT_EQ(together, apart);
    EXPECT_EQ(apart.substr(0, 4), row.second.empty() ? "145 " : "0 0\n");
  }
}
