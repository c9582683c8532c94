#include "host/elevation.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "front/settings.h"
#include "host/ansi.h"
#include "host/dllsearch.h"
#include "host/process.h"
#include "host/security.h"
#include "host/trace.h"
#include "host/turn.h"
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

// What a normal start hands the program: this run's environment and current folder.
Request requestFor(const char* cmdLine) {
  Request request;
  request.errorMode = sysStartErrorMode();
  request.cmdLine = cmdLine;
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size != 0) {
    request.folder.resize(size);
    request.folder.resize(GetCurrentDirectoryW(size, &request.folder[0]));
  }
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
  const FileHandle file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    return sysNonZero(GetLastError(), ERROR_WRITE_FAULT);
  }
  return 0;
}

// The run that started this copy (Windows makes the requester of an elevation its parent), opened
// to read its user; null when it cannot be told (its id may belong to a later process by now).
KernelHandle requester() {
  const uint32_t self = GetCurrentProcessId();
  uint64_t parentCreated = 0;
  const uint32_t id = sysParentOf(self, sysCreationTime(self), sysProcessLinks(), sysCreationTime, parentCreated);
  if (id == 0) return KernelHandle();
  KernelHandle parent(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!parent) parent.reset(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id));
  return parent;
}

// Reads the request and deletes it, so that it serves one start only. It may belong to the user
// who asked for the elevation, where another user's password elevated this copy.
uint32_t takeRequest(const char* path, std::string& bytes) {
  {
    // Not shared, so that nobody changes it while it is checked and read; not through a link.
    const FileHandle file(CreateFileA(path, GENERIC_READ | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return sysNonZero(GetLastError(), ERROR_FILE_NOT_FOUND);
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file.get(), &information)) return GetLastError();
    if ((information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        information.nFileSizeHigh != 0 || information.nFileSizeLow > kMostRequestBytes) {
      return ERROR_INVALID_DATA;
    }
    if (const uint32_t error = sysCheckPrivate(file.get(), requester().get())) return error;
    bytes.resize(information.nFileSizeLow);
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), &bytes[0], information.nFileSizeLow, &read, nullptr) ||
                           read != information.nFileSizeLow)) {
      return ERROR_INVALID_DATA;
    }
  }
  // A request that cannot be deleted could be used again: nothing starts.
  if (!DeleteFileA(path)) return sysNonZero(GetLastError(), ERROR_ACCESS_DENIED);
  return 0;
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

}  // namespace

ElevatedStart gElevatedStart = shellElevate;

uint32_t sysStartElevated(const char* cmdLine, bool wait, uint32_t& exitCode) {
  sysTrace("start needs elevation: through an elevated copy");
  std::string folder;
  FolderHold held;
  if (const uint32_t error = filCreateTempPath(folder, kRequestFolder, true, &held)) return error;
  const std::string path = folder + "\\kou3upd-" + std::to_string(GetCurrentProcessId()) + ".req";
  const Request request = requestFor(cmdLine);
  uint32_t result = writeRequest(path, serialize(request));
  if (result == 0) {
    const WideString parameters = sysWide(kElevatedStartSwitch) + L" \"" + sysWide(path.c_str()) + L"\"";
    const HWND owner = reinterpret_cast<HWND>(static_cast<intptr_t>(gSettings.hwnd));
    HANDLE process = nullptr;
    result = gElevatedStart(ownPath().c_str(), parameters.c_str(), request.folder.c_str(), owner, process);
    const KernelHandle copy(process);
    // "ShellExecuteEx does not always return an hProcess, even if a process is launched": with
    // none, the copy's end is unknown, and going on would give up the turn under its program.
    if (result == 0 && !copy) result = ERROR_INVALID_HANDLE;
    if (result == 0) {
      if (!wait) return 0;
      WaitForSingleObject(copy.get(), INFINITE);
      DWORD code = 0;
      if (GetExitCodeProcess(copy.get(), &code)) exitCode = code;
      sysTrace("elevated copy ended with %lu (0x%lX)", code, code);
    }
  }
  // Whatever the copy did not take is gone, so that nothing can start it later.
  DeleteFileA(path.c_str());
  held.release();
  RemoveDirectoryA(folder.c_str());
  return result;
}

uint32_t sysRunElevatedRequest(const char* requestPath) {
  sysTrace("elevated copy: request %s", requestPath);
  std::string bytes;
  if (const uint32_t error = takeRequest(requestPath, bytes)) {
    sysTrace("elevated copy: request refused, error %u", error);
    return error;
  }
  Request request;
  if (!parse(bytes, request)) {
    sysTrace("elevated copy: request does not read");
    return ERROR_INVALID_DATA;
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
