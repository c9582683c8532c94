#include <thread>

#include "hook.h"
#include "host/security.h"
#include "host/turn.h"
#include "host/turn_namespace.h"
#include "jobs_e2e.h"

#include <sddl.h>
#include <winternl.h>

namespace {

std::string holderMark(const char* prefix, DWORD id) {
  char time[17];
  std::snprintf(time, sizeof time, "%016llx", static_cast<unsigned long long>(sysCreationTime(id)));
  return prefix + std::string("kou3upd-turn-holder-") + std::to_string(id) + "-" + time;
}

// The private namespace of Windows 7 on, which Wine lacks, stood in for by an object folder
// beside the session's names; the SIDs its boundary was given, as text.
std::vector<std::string> boundary;
HANDLE WINAPI createBoundary(LPCWSTR, ULONG) { return boundary.clear(), &boundary; }
BOOL WINAPI addSid(HANDLE*, PSID sid) {
  char* text = nullptr;
  boundary.push_back(ConvertSidToStringSidA(sid, &text) ? text : "?");
  return LocalFree(text), TRUE;
}
VOID WINAPI deleteBoundary(HANDLE) {}
HANDLE WINAPI objectFolder(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR prefix) {
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  std::wstring name = L"\\Sessions\\" + std::to_wstring(session) + L"\\BaseNamedObjects\\" + prefix;
  UNICODE_STRING text{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2), name.data()};
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, OBJ_OPENIF, nullptr, nullptr);
  HANDLE folder = nullptr;
  reinterpret_cast<LONG(WINAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*)>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateDirectoryObject"))(&folder, 0xF000F, &object);
  return folder;
}
HANDLE WINAPI openFolder(LPVOID, LPCWSTR prefix) { return objectFolder(nullptr, nullptr, prefix); }
BOOLEAN WINAPI closeFolder(HANDLE folder, ULONG) { return CloseHandle(folder); }

}  // namespace

// In the session's names, and (Windows 7 on) in a private namespace bounded by this user and the Medium label.
TEST(Turn, RunsOutWithBusyWhileHeldAndTakesTheHoldersMarkAwayWithIt) {
  for (const NamespaceCalls& calls : {gNamespaceCalls, {createBoundary, addSid, addSid, deleteBoundary, objectFolder, openFolder, closeFolder}}) {
    const Hook<NamespaceCalls, &gNamespaceCalls> names(calls);
    const std::string mark = holderMark(calls.create ? "kou3upd\\" : "Local\\", GetCurrentProcessId());
    Turn ours, theirs;
    EXPECT_EQ(ours.take(0), 0u);
    EXPECT_TRUE(KernelHandle(OpenEventA(SYNCHRONIZE, FALSE, mark.c_str())));
    std::thread([&] { EXPECT_EQ(theirs.take(100), 170u); }).join();  // a mutex belongs to a thread
    ours.release();
    EXPECT_FALSE(KernelHandle(OpenEventA(SYNCHRONIZE, FALSE, mark.c_str()))) << "children would skip their turn";
  }
  User user;
  ASSERT_TRUE(sysCurrentUser(user) == 0 && addSid(nullptr, user.sid()));
  EXPECT_EQ(boundary, (std::vector<std::string>{boundary.back(), "S-1-16-8192", boundary.back()})) << "this user's SID and the Medium label";
}

// Lower levels are kept out of the turn, and a holder's mark of theirs (a seam: Wine has no levels)
// counts not: seen by a child of this test program, which Wine gives a parent to mark. A mark made
// before its run took the turn is another program's, and is not adopted.
TEST(Turn, LowerIntegrityLevelsCanNeitherOpenTheTurnNorMarkAHolder) {
  static DWORD level = SECURITY_MANDATORY_LOW_RID;
  const Hook<IntegrityQuery, &gIntegrityOf> levels([](HANDLE) { return level; });
  char childLevel[16] = "";
  if (GetEnvironmentVariableA("KOU3_MARK_LEVEL", childLevel, sizeof childLevel) != 0) {
    level = std::stoul(childLevel);
    Turn turn;
    EXPECT_EQ(turn.take(0), 0u);
    const bool taken = static_cast<bool>(KernelHandle(OpenEventA(SYNCHRONIZE, FALSE, holderMark("Local\\", GetCurrentProcessId()).c_str())));
    EXPECT_EQ(taken, level == SECURITY_MANDATORY_LOW_RID) << "rather than skipped, at level " << level;
    return;
  }
  LocalMemory descriptor;
  ASSERT_EQ(sysTurnDescriptor(descriptor), 0u);
  BOOL present = FALSE, defaulted = FALSE;
  PACL sacl = nullptr;
  void* ace = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorSacl(descriptor.get(), &present, &sacl, &defaulted) && sacl && GetAce(sacl, 0, &ace));
  auto* label = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
  EXPECT_EQ(label->Header.AceType << 8 | label->Mask, SYSTEM_MANDATORY_LABEL_ACE_TYPE << 8 | 7) << "no reading, writing, executing up";
  EXPECT_EQ(*GetSidSubAuthority(&label->SidStart, 0), DWORD{SECURITY_MANDATORY_MEDIUM_RID});
  {
    const KernelHandle squatted(CreateMutexA(nullptr, FALSE, "Local\\kou3upd-turn"));
    Turn turn;
    EXPECT_EQ(turn.take(0), 5u) << "a mutex that a lower level made before any run holds nothing up";
  }
  level = SECURITY_MANDATORY_MEDIUM_RID;
  {
    const KernelHandle squatted(CreateMutexA(nullptr, FALSE, holderMark("Local\\", GetCurrentProcessId()).c_str()));
    EXPECT_EQ(Turn().take(0), static_cast<uint32_t>(ERROR_INVALID_HANDLE)) << "another kind of object under this run's mark";
  }
  const KernelHandle mark(CreateEventA(nullptr, TRUE, FALSE, holderMark("Local\\", GetCurrentProcessId()).c_str()));
  EXPECT_EQ(Turn().take(0), 5u) << "this run's mark, made by another program";
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  for (const DWORD markLevel : {SECURITY_MANDATORY_MEDIUM_RID, SECURITY_MANDATORY_LOW_RID}) {
    EXPECT_EQ(runProcess("\"" + std::string(self) + "\" --gtest_filter=Turn.LowerIntegrityLevelsCanNeitherOpenTheTurnNorMarkAHolder",
                         {{"KOU3_MARK_LEVEL", std::to_string(markLevel)}}, binFolder()), 0u) << markLevel;
  }
}

TEST(Turn, AParentCreatedAfterItsChildHasTakenOverAnEndedParentsId) {
  const std::vector<ProcessLink> links = {{3, 2}, {2, 1}, {1, 0}};  // this run is 3; 1 holds the turn
  const struct {
    std::vector<uint64_t> created;  // of 1, 2 and 3; 0 when it cannot be read
    bool holderAmongAncestors;
  } table[] = {{{10, 20, 30}, true}, {{10, 30, 30}, true}, {{10, 40, 30}, false},
               {{35, 20, 30}, false}, {{10, 0, 30}, false}, {{10, 20, 0}, false}};
  for (const auto& row : table) {
    SCOPED_TRACE(::testing::PrintToString(row.created));
    const auto created = [&](uint32_t id) { return row.created.at(id - 1); };
    EXPECT_EQ(sysHolderAmongAncestors(3, links, created, [](uint32_t id, uint64_t) { return id == 1; }),
              row.holderAmongAncestors);
  }
}

// Made by a run at another integrity level, the turn may be open to this one only for waiting and
// giving it back; closed altogether, the run must not go on beside its holder. Wine checks the
// DACL of named objects.
TEST_F(JobsE2E, ATurnOpenOnlyToWaitIsWaitedForAndOneClosedEndsTheRun) {
  packDouble("setup_ko_u3-1.vpu");
  // Everyone, this user included, may only wait (SYNCHRONIZE) and give it back (MUTEX_MODIFY_STATE).
  const struct {
    std::string dacl;
    uint32_t code;
  } table[] = {{"D:(A;;0x100001;;;WD)", 0}, {"D:", ERROR_ACCESS_DENIED}};
  for (const auto& row : table) {
    SCOPED_TRACE(row.dacl);
    forgetRuns();
    DeleteFileA(joinPath(host, "setup.exe").c_str());
    script("setup.exe", {"0"});
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(row.dacl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    const LocalMemory ownedDescriptor(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    KernelHandle turn(CreateMutexA(&attributes, TRUE, "Local\\kou3upd-turn"));
    ASSERT_TRUE(turn && GetLastError() != ERROR_ALREADY_EXISTS) << "another run holds the turn";
    const Started run = start("/updatePkgs /silent");
    if (row.code == 0) {
      EXPECT_EQ(WaitForSingleObject(run.process.get(), 3000), static_cast<DWORD>(WAIT_TIMEOUT));
      EXPECT_TRUE(journal().empty());
      ReleaseMutex(turn.get());
    }
    EXPECT_EQ(endedWith(run.process.get()), row.code);
    EXPECT_EQ(journal().size(), row.code == 0 ? 1u : 0u);
    EXPECT_EQ(fileExists(joinPath(host, "setup.exe")), row.code == 0) << "a run that ends so touches nothing";
  }
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
  const auto ended = [](const Started& run) { return endedWith(run.process.get()); };
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
