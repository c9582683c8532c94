#include "host/elevation.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "host/ansi.h"
#include "host/dllsearch.h"
#include "host/files.h"
#include "host/process.h"
#include "host/security.h"
#include "host/trace.h"
#include "host/workdir.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace {

constexpr char kRequestFolder[] = "kou3_elv";
constexpr char kMagic[8] = {'K', 'O', 'U', '3', 'R', 'E', 'Q', '1'};
// An environment block is at most 32767 characters a variable; a request past this is no request.
constexpr DWORD kMostRequestBytes = 4 * 1024 * 1024;

// A request: the magic, the error mode the program started with, then the command line (ANSI
// bytes), the current folder and the environment block (UTF-16), each after its 32-bit length.
struct Request {
  uint32_t errorMode = 0;
  std::string cmdLine;
  WideString folder;
  WideString environment;
};

void putNumber(std::string& bytes, uint32_t value) { bytes.append(reinterpret_cast<const char*>(&value), 4); }

void putWide(std::string& bytes, const WideString& text) {
  putNumber(bytes, static_cast<uint32_t>(text.size()));
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::string serialize(const Request& request) {
  std::string bytes(kMagic, sizeof kMagic);
  putNumber(bytes, request.errorMode);
  putNumber(bytes, static_cast<uint32_t>(request.cmdLine.size()));
  bytes += request.cmdLine;
  putWide(bytes, request.folder);
  putWide(bytes, request.environment);
  return bytes;
}

// Reads the fields in order; every length is checked against what is left.
class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool number(uint32_t& value) {
    if (bytes_.size() - at_ < 4) return false;
    std::memcpy(&value, bytes_.data() + at_, 4);
    at_ += 4;
    return true;
  }
  bool text(std::string& value) {
    uint32_t size = 0;
    if (!number(size) || bytes_.size() - at_ < size) return false;
    value.assign(bytes_, at_, size);
    at_ += size;
    return true;
  }
  bool wide(WideString& value) {
    uint32_t count = 0;
    if (!number(count) || (bytes_.size() - at_) / sizeof(wchar_t) < count) return false;
    value.resize(count);
    std::memcpy(&value[0], bytes_.data() + at_, count * sizeof(wchar_t));
    at_ += count * sizeof(wchar_t);
    return true;
  }
  bool ended() const { return at_ == bytes_.size(); }

 private:
  const std::string& bytes_;
  std::size_t at_ = sizeof kMagic;
};

bool parse(const std::string& bytes, Request& request) {
  if (bytes.size() < sizeof kMagic || bytes.compare(0, sizeof kMagic, kMagic, sizeof kMagic) != 0) return false;
  Reader reader(bytes);
  if (!reader.number(request.errorMode) || !reader.text(request.cmdLine) || !reader.wide(request.folder) ||
      !reader.wide(request.environment) || !reader.ended()) {
    return false;
  }
  // The command line goes to Windows as a C string, and the block must end as one.
  const std::size_t size = request.environment.size();
  return request.cmdLine.find('\0') == std::string::npos && request.folder.find(L'\0') == WideString::npos &&
         size >= 2 && request.environment[size - 1] == L'\0' && request.environment[size - 2] == L'\0';
}

WideString currentFolder() {
  WideString folder;
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size != 0) {
    folder.resize(size);
    folder.resize(GetCurrentDirectoryW(size, &folder[0]));
  }
  return folder;
}

// What a normal start hands the program: this run's environment and current folder.
Request requestFor(const char* cmdLine) {
  Request request;
  request.errorMode = sysStartErrorMode();
  request.cmdLine = cmdLine;
  request.folder = currentFolder();
  if (wchar_t* block = GetEnvironmentStringsW()) {
    const wchar_t* end = block;
    while (*end != L'\0') end += std::wcslen(end) + 1;
    request.environment.assign(block, static_cast<std::size_t>(end + 1 - block));
    // An empty block is one terminator alone; CreateProcess wants two.
    if (request.environment.size() < 2) request.environment.push_back(L'\0');
    FreeEnvironmentStringsW(block);
  }
  return request;
}

uint32_t writeRequest(const std::string& path, const std::string& bytes) {
  LocalMemory descriptor;
  if (const uint32_t error = sysPrivateDescriptor(descriptor)) return error;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  // A new file, so that it has this descriptor: an old one of that name would keep its own.
  DeleteFileA(path.c_str());
  const FileHandle file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    return sysNonZero(GetLastError(), ERROR_WRITE_FAULT);
  }
  return 0;
}

// Deleted once the handle closes, before anything starts, so that the request serves one start;
// the handle, not shared, keeps another copy from reading it meanwhile. Nothing is done through
// the handle after this. SetFileInformationByHandle is Vista's; before it there is no elevation
// to serve.
bool deleteThrough(HANDLE file) {
  using SetInformationFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  const auto set = sysEntry<SetInformationFn>(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle");
  FILE_DISPOSITION_INFO disposition{TRUE};
  return set != nullptr && set(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Whether the copy's own command line ends with cmdLine, as the prompt showed it in UTF-16: the
// ANSI line it was handed may have had characters mapped to look-alikes ("best fit").
bool promptShowed(const std::string& cmdLine) {
  const WideString shown = L"\" " + sysWide(cmdLine.c_str());
  const WideString own = gOwnCommandLine();
  return own.size() >= shown.size() && own.compare(own.size() - shown.size(), shown.size(), shown) == 0;
}

// A scanner may hold the new request for a moment, without sharing: its open is tried again then.
// Not through a link.
uint32_t openRequest(const char* path, FileHandle& file) {
  for (unsigned attempt = 0;;) {
    file.reset(CreateFileA(path, GENERIC_READ | READ_CONTROL | DELETE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (file) return 0;
    const uint32_t error = sysNonZero(GetLastError(), ERROR_FILE_NOT_FOUND);
    if (!sysRetryBusy(error, path, attempt)) return error;
  }
}

// A refusal, with the check that refused it in the trace.
uint32_t refused(uint32_t error, const char* why) {
  sysTrace("elevated copy: the request %s", why);
  return error;
}

// Reads the request, checks it and deletes it. Any program of the user may have written it and
// handed its path to this copy: it is taken only when it is private to this user, at Medium or
// above, and holds cmdLine, the line that the copy was given and the prompt showed. A file that
// fails is left alone: this copy runs elevated, and deletes nothing it was merely pointed at.
uint32_t takeRequest(const char* path, const char* cmdLine, Request& request) {
  FileHandle file;
  if (const uint32_t error = openRequest(path, file)) return error;
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &information)) {
    return refused(ERROR_INVALID_DATA, "is no file on a disk");
  }
  // A second name would keep the request once this one is deleted.
  if (information.nNumberOfLinks != 1) return refused(ERROR_INVALID_DATA, "has a second name");
  if ((information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      information.nFileSizeHigh != 0 || information.nFileSizeLow > kMostRequestBytes) {
    return refused(ERROR_INVALID_DATA, "is no plain file of a request's size");
  }
  // A volume without ACLs keeps no owner and no label either, and one on another machine is
  // checked there, by rules this copy cannot see: anyone, at any level, may have written the
  // request. The run that asked elevates the program itself there.
  if (!gVolumeKeepsAcls(path)) return refused(ERROR_ACCESS_DENIED, "lies on a volume without ACLs of its own");
  if (const uint32_t error = sysCheckPrivate(file.get())) return refused(error, "is not private to this user");
  // A Low process of the user may write a private request of its own wherever Low may write.
  if (gIntegrityOf(file.get()) < SECURITY_MANDATORY_MEDIUM_RID) {
    return refused(ERROR_ACCESS_DENIED, "is labelled below Medium");
  }
  std::string bytes(information.nFileSizeLow, '\0');
  DWORD read = 0;
  if (!bytes.empty() && (!ReadFile(file.get(), &bytes[0], information.nFileSizeLow, &read, nullptr) ||
                         read != information.nFileSizeLow)) {
    return refused(ERROR_INVALID_DATA, "does not read");
  }
  if (!parse(bytes, request)) return refused(ERROR_INVALID_DATA, "does not parse");
  // The user consented to the line the prompt showed, and to nothing else.
  if (request.cmdLine != cmdLine) {
    sysTrace("elevated copy: the request holds another command line: %s", request.cmdLine.c_str());
    return ERROR_ACCESS_DENIED;
  }
  if (!promptShowed(request.cmdLine)) return refused(ERROR_ACCESS_DENIED, "is not what the prompt showed (UTF-16)");
  // One that cannot be deleted could serve again.
  if (!deleteThrough(file.get())) return refused(ERROR_ACCESS_DENIED, "cannot be deleted through its handle");
  return 0;
}

// What Windows tells of this run's token. XP knows no elevation type: Default. The linked token
// of a limited one is the full token that the prompt's consent would give; CheckTokenMembership
// asks the impersonation token that GetTokenInformation hands out without the TCB privilege.
ElevationFacts readToken() {
  ElevationFacts facts{TokenElevationTypeDefault, false};
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return facts;
  const KernelHandle ownedToken(token);
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenElevationType, &facts.type, sizeof facts.type, &size)) {
    facts.type = TokenElevationTypeDefault;
  }
  TOKEN_LINKED_TOKEN linked{};
  if (facts.type != TokenElevationTypeLimited ||
      !GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size)) {
    return facts;
  }
  const KernelHandle ownedLinked(linked.LinkedToken);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof administrators;
  BOOL member = FALSE;
  facts.linkedIsAdministrator =
      CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) &&
      CheckTokenMembership(linked.LinkedToken, administrators, &member) && member;
  return facts;
}

// Whether the prompt asks this user's consent to the user's own administrator token: a limited
// token whose linked one is an administrator's. Members of other groups (Backup Operators, say)
// get a limited token too, but their full one would be refused 740 again.
bool elevatesByConsent() {
  const ElevationFacts facts = gTokenFacts();
  return facts.type == TokenElevationTypeLimited && facts.linkedIsAdministrator;
}

uint32_t shellElevate(const wchar_t* program, const wchar_t* parameters, const wchar_t* folder, HWND owner,
                      HANDLE& process) {
  // shell32 is loaded from the system folder, and only for this: the program does not import it,
  // and a start needs it only on a system that asks for elevation.
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return sysNonZero(GetLastError(), ERROR_PATH_NOT_FOUND);
  const ModuleHandle shell(LoadLibraryW((WideString(system, length) + L"\\shell32.dll").c_str()));
  using ShellExecuteExFn = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
  const auto execute = sysEntry<ShellExecuteExFn>(shell.get(), "ShellExecuteExW");
  if (execute == nullptr) return sysNonZero(GetLastError(), ERROR_PROC_NOT_FOUND);
  // A number that names no window (the caller's may have closed) would be no owner at all; shell32
  // has brought User32 in.
  using IsWindowFn = BOOL(WINAPI*)(HWND);
  const auto isWindow = sysEntry<IsWindowFn>(GetModuleHandleA("user32.dll"), "IsWindow");
  if (owner != nullptr && isWindow != nullptr && !isWindow(owner)) owner = nullptr;
  SHELLEXECUTEINFOW info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  // Without its caller's window the prompt only flashes in the taskbar, and the job waits on it.
  info.hwnd = owner;
  info.lpVerb = L"runas";
  info.lpFile = program;
  info.lpParameters = parameters;
  info.lpDirectory = folder;
  info.nShow = SW_SHOWNORMAL;
  if (!execute(&info)) return sysNonZero(GetLastError(), ERROR_CANCELLED);
  process = info.hProcess;
  return 0;
}

WideString ownPath() {
  WideString path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

// Through the shell, then waits as a start would. A shell that hands over no process ("does not
// always return an hProcess, even if a process is launched") leaves its end unknown, and going on
// would give up the turn under the program.
uint32_t elevate(const WideString& program, const WideString& parameters, int32_t owner, bool wait,
                 uint32_t& exitCode) {
  HANDLE process = nullptr;
  const uint32_t result = gElevatedStart(program.c_str(), parameters.c_str(), currentFolder().c_str(),
                                         reinterpret_cast<HWND>(static_cast<intptr_t>(owner)), process);
  const KernelHandle started(process);
  if (result != 0) return result;
  if (!started) return ERROR_INVALID_HANDLE;
  if (!wait) return 0;
  WaitForSingleObject(started.get(), INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(started.get(), &code)) exitCode = code;
  sysTrace("elevated start ended with %lu (0x%lX)", code, code);
  return 0;
}

// The program itself, its path and its parameters cut from cmdLine where CreateProcess would cut
// them: at the first blank outside double quotes.
uint32_t elevateProgram(const char* cmdLine, int32_t owner, bool wait, uint32_t& exitCode) {
  sysTrace("start needs elevation: the program itself");
  const char* end = cmdLine;
  for (bool quoted = false; *end != '\0' && (quoted || (*end != ' ' && *end != '\t')); ++end) {
    if (*end == '"') quoted = !quoted;
  }
  std::string program(cmdLine, end);
  program.erase(std::remove(program.begin(), program.end(), '"'), program.end());
  while (*end == ' ' || *end == '\t') ++end;
  return elevate(sysWide(program.c_str()), sysWide(end), owner, wait, exitCode);
}

uint32_t elevateCopy(const char* cmdLine, int32_t owner, bool wait, uint32_t& exitCode) {
  sysTrace("start needs elevation: through an elevated copy");
  std::string folder;
  FolderHold held;
  if (const uint32_t error = filCreateTempPath(folder, kRequestFolder, true, &held)) return error;
  const std::string path = folder + "\\kou3upd-" + std::to_string(GetCurrentProcessId()) + ".req";
  uint32_t result = 0;
  // The copy refuses a request it cannot tell the writer of; the program itself is started then,
  // with the environment Windows gives it rather than this run's.
  if (!gVolumeKeepsAcls(folder.c_str())) {
    sysTrace("%s: its volume keeps no ACLs (FAT), so no request can be trusted there", folder.c_str());
    result = elevateProgram(cmdLine, owner, wait, exitCode);
  } else if ((result = writeRequest(path, serialize(requestFor(cmdLine)))) == 0) {
    // The prompt's details show the copy's parameters: what it will start is in them.
    const WideString parameters =
        sysWide(kElevatedStartSwitch) + L" \"" + sysWide(path.c_str()) + L"\" " + sysWide(cmdLine);
    result = elevate(ownPath(), parameters, owner, wait, exitCode);
  }
  // Whatever the copy did not take is gone, so that nothing can start it later.
  DeleteFileA(path.c_str());
  held.release();
  RemoveDirectoryA(folder.c_str());
  return result;
}

}  // namespace

ElevatedStart gElevatedStart = shellElevate;
TokenQuery gTokenFacts = readToken;
CommandLineQuery gOwnCommandLine = [] { return static_cast<const wchar_t*>(GetCommandLineW()); };

uint32_t sysStartElevated(const char* cmdLine, bool wait, uint32_t& exitCode, int32_t owner) {
  // Another account could not read this user's request, and would run what it holds as itself.
  if (elevatesByConsent()) return elevateCopy(cmdLine, owner, wait, exitCode);
  sysTrace("start needs elevation by another account");
  return elevateProgram(cmdLine, owner, wait, exitCode);
}

uint32_t sysRunElevatedRequest(const char* requestPath, const char* cmdLine) {
  // Its environment comes from the user's profile, which any program of the user may set: a
  // trace file named there would be made or appended to by administrator, following links.
  sysTraceWithoutFile();
  sysTrace("elevated copy: request %s for %s", requestPath, cmdLine);
  Request request;
  if (const uint32_t error = takeRequest(requestPath, cmdLine, request)) {
    sysTrace("elevated copy: request refused, error %u", error);
    return error;
  }
  uint32_t exitCode = 0;
  uint32_t startError = 0;
  const ChildErrorMode childMode(request.errorMode);
  if (!sysExecWith(request.cmdLine.c_str(), request.environment.c_str(),
                   request.folder.empty() ? nullptr : request.folder.c_str(), exitCode, startError)) {
    return sysNonZero(startError, ERROR_INVALID_FUNCTION);
  }
  return exitCode;
}
