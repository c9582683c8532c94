#include "sandbox.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include <gtest/gtest.h>

#include "host/win.h"

namespace {
std::atomic<unsigned> sandboxCount{0};
}

Sandbox::Sandbox() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  // Wine makes a short name from a hash of the long one, and the first folder with that short name
  // is the one it names: a sandbox whose short name leads to another test's folder (or one a
  // stopped run left) would have kou3upd, which works with short names, look there. Such a
  // sandbox is made again under another name.
  for (int attempt = 0; attempt < 10; ++attempt) {
    root_ = joinPath(temp, "kou3test-" + std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(GetTickCount()) + "-" + std::to_string(sandboxCount++));
    removeTree(root_);
    CreateDirectoryA(root_.c_str(), nullptr);
    char longForm[MAX_PATH];
    const DWORD length = GetLongPathNameA(shortPath(root_).c_str(), longForm, sizeof longForm);
    if (length != 0 && length < sizeof longForm && _stricmp(longForm, root_.c_str()) == 0) return;
    RemoveDirectoryA(root_.c_str());
  }
  CreateDirectoryA(root_.c_str(), nullptr);
  ADD_FAILURE() << "no sandbox name whose short form leads to it, the last: " << root_;
}

Sandbox::~Sandbox() { removeTree(root_); }

std::string Sandbox::folder(const std::string& name) const {
  const std::string path = joinPath(root_, name);
  for (size_t at = root_.size() + 1; at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
  return path;
}

std::wstring Sandbox::folder(const std::wstring& name) const {
  const std::wstring path = widen(root_) + L"\\" + name;
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

bool fileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string readText(const std::string& path) {
  const Bytes content = readBytes(path);
  return std::string(content.begin(), content.end());
}

void writeText(const std::string& path, const std::string& content) {
  writeBytes(path, Bytes(content.begin(), content.end()));
}

Bytes readBytes(const std::string& path) {
  Bytes content;
  readWholeFile(path, content);
  return content;
}

void writeBytes(const std::string& path, const Bytes& content) { writeWholeFile(path, content); }

void makeReadOnly(const std::string& path, bool readOnly) {
  SetFileAttributesA(path.c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

bool readOnlyIsHonoured() {
  static const bool honoured = [] {
    const Sandbox box;
    const std::string probe = joinPath(box.root(), "read-only");
    writeText(probe, "x");
    makeReadOnly(probe);
    const FileHandle file(CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return !file;
  }();
  return honoured;
}

namespace {

// Calls visit(name, isFolder) for every entry of the folder but "." and "..".
template <class Visit>
void forEachEntry(const std::string& folder, Visit visit) {
  WIN32_FIND_DATAA entry;
  const FindHandle search(FindFirstFileA(joinPath(folder, "*").c_str(), &entry));
  if (!search) return;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") visit(name, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (FindNextFileA(search.get(), &entry));
}

// In UTF-16, so that files named outside the ANSI code page go too: a sandbox left behind would
// crowd the temporary folder until Wine's short names of two of them collide.
void removeTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  const FindHandle search(FindFirstFileW((path + L"\\*").c_str(), &entry));
  if (search) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search.get(), &entry));
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(path.c_str());
}

}  // namespace

void removeTree(const std::string& path) { removeTree(widen(path)); }

std::vector<std::string> folderListing(const std::string& path, bool sorted) {
  std::vector<std::string> names;
  forEachEntry(path, [&](const std::string& name, bool isFolder) { names.push_back(isFolder ? name + "\\" : name); });
  if (sorted) std::sort(names.begin(), names.end());
  return names;
}

std::string shortPath(const std::string& path) {
  char result[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(path.c_str(), result, sizeof result);
  return (length == 0 || length >= sizeof result) ? std::string() : std::string(result, length);
}

std::string shortPath(const std::wstring& path) {
  wchar_t result[MAX_PATH] = {};
  const DWORD length = GetShortPathNameW(path.c_str(), result, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  char ansi[MAX_PATH];
  BOOL usedDefault = FALSE;
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, result, -1, ansi, sizeof ansi, nullptr, &usedDefault) == 0 ||
      usedDefault) {
    return std::string();
  }
  return ansi;
}

std::wstring widen(const std::string& ansi) {
  if (ansi.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), length);
  return wide;
}

std::string linkedFolders() {
  char value[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("KOU3_LINKED", value, sizeof value);
  return (length == 0 || length >= sizeof value) ? std::string() : std::string(value, length);
}

std::string binFolder() {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  const std::string full(self, length);
  return full.substr(0, full.find_last_of('\\'));
}

std::vector<std::string> traceSteps(const std::string& path, const std::vector<std::string>& prefixes) {
  std::vector<std::string> steps;
  for (const std::string& line : splitLines(readText(path))) {
    const std::string step = line.substr(line.find(' ', line.find(" +") + 2) + 1);
    if (std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string& p) { return step.rfind(p, 0) == 0; })) {
      steps.push_back(step);
    }
  }
  return steps;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}
