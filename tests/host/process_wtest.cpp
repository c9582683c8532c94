#include "host/process.h"

#include <gmock/gmock.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "hook.h"
#include "host/dllsearch.h"
#include "host/elevation.h"
#include "host/security.h"
#include "host/win.h"
#include "inprocess.h"

#include <sddl.h>

using ::testing::AnyOf;
using ::testing::Eq;
using ::testing::Matcher;
using Lines = std::vector<std::string>;

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;
constexpr char kDouble[] = "suite_double.exe";

// Codes a child may end with, the ones that look negative or like a Windows status included.
const std::vector<uint32_t> kExitCodes = {5, 0, 0x20000010, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};

std::vector<std::string> asScript(const std::vector<uint32_t>& codes) {
  std::vector<std::string> lines;
  for (const uint32_t code : codes) lines.push_back(std::to_string(code));
  return lines;
}

// The double started from where it was built, so that no test folder holds a running program.
std::string doublePath() { return joinPath(binFolder(), kDouble); }
std::string doubleLine(const std::string& arguments) { return "\"" + doublePath() + "\"" + arguments; }

bool exec(const std::string& cmdLine, bool wait, uint32_t& exitCode, uint32_t* startError = nullptr) {
  std::string line = cmdLine;
  return sysExecAndWait(line.data(), wait, exitCode, startError, 0);
}

// Open handles of this process. Wine answers GetProcessHandleCount with 0 whatever is open, so
// there every handle value in the low range that a test program uses is asked about instead.
DWORD openHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
  DWORD flags = 0;
  for (uintptr_t value = 4; value < 0x4000; value += 4) {
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

bool user32Loaded() { return GetModuleHandleA("User32.dll") != nullptr; }

using CreateHook = Hook<ProcessCreate, &gProcessCreate>;

// Windows' answer for a program that asks for administrator rights, which Wine never gives.
bool elevationRequired(char*, PROCESS_INFORMATION&) {
  SetLastError(740);  // ERROR_ELEVATION_REQUIRED
  return false;
}

}  // namespace

using Process = InProcess;

TEST_F(Process, ExecHandsBackTheChildsExitCodeUnchanged) {
  script(kDouble, asScript(kExitCodes));
  for (const uint32_t code : kExitCodes) {
    SCOPED_TRACE(code);
    uint32_t exitCode = kUntouched;
    uint32_t startError = kUntouched;
    EXPECT_TRUE(exec(doubleLine(" /stop"), true, exitCode, &startError));
    EXPECT_EQ(exitCode, code);
    EXPECT_EQ(startError, kUntouched);
  }
  EXPECT_EQ(journal().size(), kExitCodes.size());
}

TEST_F(Process, RunHandsBackTheChildsExitCodeUnchanged) {
  script(kDouble, asScript(kExitCodes));
  for (const uint32_t code : kExitCodes) {
    SCOPED_TRACE(code);
    uint32_t result = kUntouched;
    sysRunAndWait(doubleLine(" /stop"), result, 0);
    EXPECT_EQ(result, code);
  }
  EXPECT_EQ(journal().size(), kExitCodes.size());
}

TEST_F(Process, ChildGetsItsCommandLineByteForByte) {
  const std::vector<std::string> lines = {
      doubleLine(""),
      doubleLine(" /stop"),
      doublePath() + " /hostCleanup",
      doubleLine("  two  blanks\tand a tab \"a quoted word\" /savelog \"C:\\x y\\u3upd_pkgs.log\" trailing  "),
      doubleLine(" caf\xE9 \xA4"),
  };
  std::vector<std::string> expected;
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    uint32_t exitCode = kUntouched;
    EXPECT_TRUE(exec(line, true, exitCode));
    EXPECT_EQ(exitCode, 0u);
    uint32_t result = kUntouched;
    sysRunAndWait(line, result, 0);
    EXPECT_EQ(result, 0u);
    expected.push_back(std::string(kDouble) + "|" + line);
    expected.push_back(std::string(kDouble) + "|" + line);
  }
  EXPECT_EQ(journal(), expected);
}

// Windows starts the elevated copy with an environment built from the user's profile and a
// folder of its own; this one has neither the U3 variables nor the double's control folder, and
// the copy is kou3upd.exe, not this test program whose own path the run asks for.
namespace {

HWND seenOwner = nullptr;
std::wstring seenParameters;
bool handsOverProcess = true;
std::string requestToKeep;  // read by the stand-in, as another program of the user could
std::string requestBytes;

uint32_t elevateAsWindows(const wchar_t* program, const wchar_t* parameters, const wchar_t*, HWND owner, HANDLE& process) {
  seenOwner = owner;
  seenParameters = parameters;
  process = nullptr;
  if (!handsOverProcess) return 0;
  if (!requestToKeep.empty()) requestBytes = readText(requestToKeep);
  const bool copy = seenParameters.rfind(L"/kou3updElevatedStart", 0) == 0;
  std::wstring line = L"\"" + (copy ? widen(joinPath(binFolder(), "kou3upd.exe")) : program) + L"\" " + parameters;
  wchar_t environment[] = L"SystemRoot=C:\\windows\0";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      copy ? environment : nullptr, L"C:\\", &startup, &info)) {
    return GetLastError();
  }
  CloseHandle(info.hThread);
  process = info.hProcess;
  return 0;
}

using ElevateHook = Hook<ElevatedStart, &gElevatedStart>;
using TokenHook = Hook<TokenQuery, &gTokenFacts>;
using FatHook = Hook<VolumeAclQuery, &gVolumeKeepsAcls>;

// Gives path to another Unix account, as root may: Wine then reads its owner as S-1-5-7. It hands
// back no process of a Unix program to wait for.
void giveAway(const std::string& path) {
  char* name = reinterpret_cast<char*(CDECL*)(const wchar_t*)>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"))(widen(path).c_str());
  std::string line = "/bin/chown nobody \"" + std::string(name) + "\"";
  HeapFree(GetProcessHeap(), 0, name);
  STARTUPINFOA startup{sizeof startup};
  PROCESS_INFORMATION info{};
  CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
  for (int wait = 0; wait < 500 && sysCheckPrivate(FileHandle(CreateFileA(path.c_str(), READ_CONTROL, 7, nullptr, OPEN_EXISTING, 0, nullptr)).get()) != ERROR_INVALID_OWNER; ++wait) Sleep(10);
}

}  // namespace

TEST_F(Process, ProgramThatAsksForElevationGetsWhatANormalStartGivesThroughAnElevatedCopy) {
  const CreateHook create(elevationRequired);
  const ElevateHook elevate(elevateAsWindows);
  static ElevationFacts token{TokenElevationTypeLimited, true};
  const TokenHook facts([] { return token; });
  setEnvironment("TEMP", box.folder("temp"));
  setEnvironment("U3_APP_DATA_PATH", drive);
  setEnvironment("U3_HOST_EXEC_PATH", host);
  char folder[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, folder);
  SetCurrentDirectoryA(cwd.c_str());
  script(kDouble, {"0x20000010 environment", "7", "7", "0xFFFFFFFF", "7", "0x20000010", "0x20000010", "0xFFFFFFFF"});
  const std::string installer = doubleLine(" /forceinstall  /sfxstorage \"C:\\x y\\kou3_ins\" caf\xE9 A");
  uint32_t result = kUntouched;
  requestToKeep = joinPath(box.folder("temp"), "kou3_elv\\kou3upd-" + std::to_string(GetCurrentProcessId()) + ".req");
  sysRunAndWait(installer, result, -1234);
  requestToKeep.clear();
  EXPECT_EQ(result, 0x20000010u);
  EXPECT_EQ(seenOwner, reinterpret_cast<HWND>(intptr_t{-1234})) << "the prompt's owner is the caller's window";
  EXPECT_EQ(seenParameters.substr(seenParameters.rfind(L".req\" ") + 6), widen(installer)) << "shown by the prompt";
  // A request another program wrote (a real one's bytes) starts only the copy's own line, and
  // only then goes: the copy deletes no file that fails its checks. Each one below fails one check
  // alone (owner, DACL, links, a line that differs in ANSI or in UTF-16 alone); none is traced.
  const std::string planted = joinPath(box.folder("planted"), "planted.req");
  const auto plant = [&](char how = ' ') {
    DeleteFileA(planted.c_str());
    DeleteFileA((planted + "2").c_str());
    LocalMemory descriptor;
    SECURITY_ATTRIBUTES privateFile{sizeof privateFile, sysPrivateDescriptor(descriptor) ? nullptr : descriptor.get(), FALSE};
    if (how == 'e' && ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;WD)", SDDL_REVISION_1, &privateFile.lpSecurityDescriptor, nullptr)) descriptor.reset(privateFile.lpSecurityDescriptor);
    const FileHandle file(CreateFileA(planted.c_str(), GENERIC_WRITE, 0, &privateFile, CREATE_NEW, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), requestBytes.data(), static_cast<DWORD>(requestBytes.size()), &written, nullptr);
  };
  std::wstring wideA = widen(installer);
  wideA.back() = L'\x0100';  // best fit gives 'A' in the ANSI line, as Wine's code page 1252 does
  static FileHandle held;  // as a scanner holds a new file for a moment
  for (const auto& [line, how, code] : {std::tuple<std::wstring, char, uint32_t>{L"x\" " + widen(installer), ' ', 5}, {L"", ' ', 5},
        {wideA, ' ', 5}, {widen(installer), 'o', 1307}, {widen(installer), 'e', 5}, {widen(installer), 'l', 13}, {widen(installer), ' ', 7}, {widen(installer), 'h', 7}}) {
    ASSERT_TRUE(plant(how));
    if (how == 'o') giveAway(planted);
    if (how == 'l') CreateHardLinkA((planted + "2").c_str(), planted.c_str(), nullptr);
    if (how == 'h') held.reset(CreateFileA(planted.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (how == 'h') std::thread([] { Sleep(300); held.reset(); }).detach();
    EXPECT_EQ(runProcess(L"\"" + widen(kou3upd()) + L"\" /kou3updElevatedStart \"" + widen(planted) + L"\" " + line,
                         {{"KOU3UPD_TRACE", joinPath(cwd, "copy.log")}}, cwd), code) << how << code;
    EXPECT_EQ(fileExists(planted), code != 7) << how << code;
  }
  EXPECT_FALSE(fileExists(joinPath(cwd, "copy.log")));
  sysRunAndWait(doublePath() + " \t/stop", result, 0);
  EXPECT_EQ(result, 0xFFFFFFFFu);
  // One labelled below Medium, or on a volume without ACLs (FAT, or on another machine), where
  // anyone may have written it, starts nothing and stays: seams, since Wine has neither. Checked
  // as the copy that the prompt showed would, so that no other check refuses it.
  static std::wstring ownLine;
  ownLine = L"kou3upd.exe /kou3updElevatedStart \"" + widen(planted) + L"\" " + widen(installer);
  const Hook<CommandLineQuery, &gOwnCommandLine> ownCommandLine([] { return ownLine.c_str(); });
  static DWORD level;
  static bool keepsAcls;
  const Hook<IntegrityQuery, &gIntegrityOf> levels([](HANDLE) { return level; });
  const FatHook volumes([](const char*) { return keepsAcls; });
  for (const auto& [low, fat, code] : {std::tuple{true, false, 5u}, {false, true, 5u}, {false, false, 7u}}) {
    level = low ? SECURITY_MANDATORY_LOW_RID : SECURITY_MANDATORY_MEDIUM_RID;
    keepsAcls = !fat;
    ASSERT_TRUE(plant());
    EXPECT_EQ(sysRunElevatedRequest(planted.c_str(), installer.c_str()), code) << low << fat;
    EXPECT_EQ(fileExists(planted), code != 7);
  }
  Lines started = {std::string(kDouble) + "|" + installer,
                   std::string(kDouble) + "|U3_APP_DATA_PATH=" + drive + " U3_HOST_EXEC_PATH=" + host + " cwd=" + cwd,
                   std::string(kDouble) + "|" + installer, std::string(kDouble) + "|" + installer,
                   std::string(kDouble) + "|" + doublePath() + " \t/stop", std::string(kDouble) + "|" + installer};
  EXPECT_EQ(journal(), started);

  // A request serves one start: the same copy started again starts nothing.
  HANDLE again = nullptr;
  ASSERT_EQ(elevateAsWindows(nullptr, seenParameters.c_str(), nullptr, nullptr, again), 0u);
  EXPECT_EQ(endedWith(KernelHandle(again).get()), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND)) << "its folder is gone too";
  // A copy whose process the shell does not hand over is a start that failed. Where the request
  // folder keeps no ACLs, the run that asks starts the program itself instead.
  handsOverProcess = false;
  sysRunAndWait(installer, result, 0);
  EXPECT_EQ(result, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
  {
    const FatHook fat([](const char*) { return false; });
    sysRunAndWait(installer, result, 0);
    EXPECT_EQ(seenParameters.rfind(L"/kou3updElevatedStart", 0), std::wstring::npos);
  }
  handsOverProcess = true;
  EXPECT_EQ(journal(), started);
  EXPECT_FALSE(folderExists(joinPath(box.folder("temp"), "kou3_elv"))) << "no request is left behind";
  // The shell's own elevation, for real under Wine: it starts the copy with its parameters.
  HANDLE shell = nullptr;
  const std::wstring missing = L"/kou3updElevatedStart \"" + widen(joinPath(cwd, "missing.req")) + L"\"";
  ASSERT_EQ(elevate.original()(widen(kou3upd()).c_str(), missing.c_str(), nullptr, nullptr, shell), 0u);
  EXPECT_EQ(endedWith(KernelHandle(shell).get()), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  // Where another account's password elevates, or a limited token's linked one is no
  // administrator's (through a seam: Wine has no UAC), the program itself is started, through
  // the shell's own "runas" too (for real under Wine).
  for (const ElevationFacts other : {ElevationFacts{TokenElevationTypeDefault, false}, {TokenElevationTypeLimited, false}}) {
    token = other;
    sysRunAndWait(installer, result, 77);
    EXPECT_EQ(result, 0x20000010u);
    EXPECT_EQ(seenOwner, reinterpret_cast<HWND>(intptr_t{77}));
    started.push_back(std::string(kDouble) + "|" + installer);
  }
  const ElevateHook realShell(elevate.original());
  sysRunAndWait(doublePath() + " /stop", result, 0);
  EXPECT_EQ(result, 0xFFFFFFFFu);
  started.push_back(std::string(kDouble) + "|\"" + doublePath() + "\" /stop");
  EXPECT_EQ(journal(), started);
  EXPECT_FALSE(folderExists(joinPath(box.folder("temp"), "kou3_elv")));
  SetCurrentDirectoryA(folder);
}

// Wine hands no error mode down to a child: the mode is read when the child is created.
TEST_F(Process, WithoutAThreadErrorModeEachChildIsCreatedUnderTheModeTheProgramStartedWith) {
  constexpr UINT kStartMode = SEM_NOGPFAULTERRORBOX;
  constexpr UINT kOurs = kStartMode | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
  // Wine adds SEM_NOALIGNMENTFAULTEXCEPT on x64, where it cannot be taken away.
  const auto mode = [] { return GetErrorMode() & ~UINT{SEM_NOALIGNMENTFAULTEXCEPT}; };
  SetErrorMode(kStartMode);
  const Hook<ThreadErrorModeSetter, &gSetThreadErrorMode> missing(nullptr);
  sysNoErrorBoxes();
  EXPECT_EQ(mode(), kOurs);
  static UINT modeAtCreation;
  modeAtCreation = 0xDEAD;
  const CreateHook create([](char* cmdLine, PROCESS_INFORMATION& info) {
    modeAtCreation = GetErrorMode() & ~UINT{SEM_NOALIGNMENTFAULTEXCEPT};
    return CreateHook::original()(cmdLine, info);
  });
  uint32_t result = kUntouched;
  sysRunAndWait(doubleLine(" /stop"), result, 0);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(modeAtCreation, kStartMode);
  EXPECT_EQ(mode(), kOurs);
  SetErrorMode(0);
}

TEST_F(Process, StartThatFailsLeavesExitCodeAndGivesTheWindowsError) {
  // Windows names a missing folder with ERROR_PATH_NOT_FOUND where Wine says ERROR_FILE_NOT_FOUND.
  const auto missingFolder = AnyOf(Eq(uint32_t{ERROR_PATH_NOT_FOUND}), Eq(uint32_t{ERROR_FILE_NOT_FOUND}));
  const auto missingFile = Eq(uint32_t{ERROR_FILE_NOT_FOUND});
  const struct {
    std::string line;
    Matcher<uint32_t> error;
  } cases[] = {
      {joinPath(host, "KernoU3.exe") + " /stop", missingFile},
      {"\"" + joinPath(host, "KernoU3.exe") + "\" /stop", missingFile},
      {joinPath(host, "gone\\KernoU3.exe") + " /stop", missingFolder},
  };
  for (const auto& failing : cases) {
    SCOPED_TRACE(failing.line);
    uint32_t exitCode = kUntouched;
    uint32_t startError = 0;
    EXPECT_FALSE(exec(failing.line, true, exitCode, &startError));
    EXPECT_EQ(exitCode, kUntouched);
    EXPECT_THAT(startError, failing.error);

    EXPECT_FALSE(exec(failing.line, true, exitCode));
    EXPECT_EQ(exitCode, kUntouched);

    // A job's result starts at 0: a start that failed must not leave it there.
    uint32_t result = 0;
    sysRunAndWait(failing.line, result, 0);
    EXPECT_THAT(result, failing.error);
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(Process, NoWaitReadsStillActiveFromARunningChild) {
  const std::string eventName = "kou3-hold-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  const KernelHandle release(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
  ASSERT_TRUE(release);
  script(kDouble, {"7 hold:" + eventName});
  uint32_t exitCode = kUntouched;
  EXPECT_TRUE(exec(doubleLine(" /stop"), false, exitCode));
  EXPECT_EQ(exitCode, static_cast<uint32_t>(STILL_ACTIVE));
  SetEvent(release.get());
}

TEST_F(Process, StartsWithoutUser32AndNeverLoadsIt) {
  ASSERT_FALSE(user32Loaded()) << "this test program must not load User32 by itself";
  script(kDouble, {"11", "12"});
  uint32_t exitCode = kUntouched;
  EXPECT_TRUE(exec(doubleLine(" /stop"), true, exitCode));
  EXPECT_EQ(exitCode, 11u);
  EXPECT_FALSE(user32Loaded());

  // With User32 there, the foreground permission is granted and the start goes on as before.
  const HMODULE user32 = LoadLibraryA("user32.dll");
  ASSERT_NE(user32, nullptr);
  EXPECT_TRUE(exec(doubleLine(" /stop"), true, exitCode));
  EXPECT_EQ(exitCode, 12u);
  FreeLibrary(user32);
}

TEST_F(Process, ManyStartsLeaveTheHandleCountFlat) {
  constexpr int kStarts = 200;
  // Whatever the first start sets up for good (a loaded module, a cached handle) is not a leak.
  uint32_t exitCode = kUntouched;
  ASSERT_TRUE(exec(doubleLine(" /stop"), true, exitCode));
  const DWORD before = openHandles();
  {
    const KernelHandle extra(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_EQ(openHandles(), before + 1) << "the count must see a handle left open";
  }
  for (int start = 0; start < kStarts; ++start) {
    uint32_t result = kUntouched;
    sysRunAndWait(doubleLine(" /stop"), result, 0);
    ASSERT_EQ(result, 0u) << "start " << start;
    sysRunAndWait(joinPath(host, "KernoU3.exe /stop"), result, 0);
    ASSERT_EQ(result, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND)) << "start " << start;
  }
  EXPECT_EQ(openHandles(), before);
}
