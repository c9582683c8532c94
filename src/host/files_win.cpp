#include "host/files.h"

#include <cstring>

#include "host/ansi.h"
#include "host/path.h"
#include "host/trace.h"
#include "host/win.h"

namespace {

// Pauses of 10, 20, 40, 80 and 160 ms, then 250 ms each, while the waiting stays within 2 s.
constexpr unsigned kDoublingPauses = 5;
constexpr DWORD kLongPauseMs = 250;
constexpr DWORD kWaitBudgetMs = 2000;

DWORD pauseBefore(unsigned attempt) { return attempt < kDoublingPauses ? 10u << attempt : kLongPauseMs; }

DWORD waitedBefore(unsigned attempt) {
  DWORD waited = 0;
  for (unsigned i = 0; i < attempt; ++i) waited += pauseBefore(i);
  return waited;
}

uint32_t lastError() { return sysNonZero(GetLastError(), ERROR_GEN_FAILURE); }

bool isBusyError(uint32_t error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// The policy for a busy error on a file whose attributes (INVALID_FILE_ATTRIBUTES when unknown)
// are given; traced names the file in the trace. A read-only file or a folder refuses for good,
// not for a moment.
bool retryAfterPause(uint32_t error, DWORD attributes, const char* traced, unsigned& attempt) {
  if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    return false;
  }
  // A scanner may refuse access for a moment too, but a refusal is traced as one: it may last.
  const char* state = error == ERROR_ACCESS_DENIED ? "refused" : "busy";
  const DWORD pause = pauseBefore(attempt);
  if (waitedBefore(attempt) + pause > kWaitBudgetMs) {
    sysTrace("%s %s: error %u, given up", state, traced, error);
    return false;
  }
  sysTrace("%s %s: error %u, trying again in %lu ms", state, traced, error, pause);
  Sleep(pause);
  ++attempt;
  return true;
}

bool retryBusy(uint32_t error, const char* path, unsigned& attempt) { return sysRetryBusy(error, path, attempt); }

bool retryBusy(uint32_t error, const wchar_t* path, unsigned& attempt) {
  if (!isBusyError(error)) return false;
  const DWORD attributes = error == ERROR_ACCESS_DENIED ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
  return retryAfterPause(error, attributes, sysTraceText(path).c_str(), attempt);
}

// Runs op (a call that reports failure through GetLastError) until it succeeds or is not worth
// another try; 0 or the last try's error.
template <class Char, class Op>
uint32_t retried(const Char* path, Op op) {
  unsigned attempt = 0;
  for (;;) {
    if (op()) return 0;
    const uint32_t error = lastError();
    if (!retryBusy(error, path, attempt)) return error;
  }
}

bool copyFile(const char* from, const char* to) { return CopyFileA(from, to, FALSE) != FALSE; }

// True when name is prefix followed by a decimal process id and ".tmp", and nothing else.
bool isTemporaryName(const char* name, const std::string& prefix, DWORD& processId) {
  uint32_t id = 0;
  if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0 || !filIsTemporaryTail(name + prefix.size(), id)) {
    return false;
  }
  processId = id;
  return true;
}

// Another run still writing holds its file open; once it is closed and not yet renamed, only the
// process tells that it still belongs to someone. A process id taken over by another program
// keeps the file until a later run.
bool isRunning(DWORD processId) {
  if (processId == GetCurrentProcessId()) return false;
  const KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
  // Only "no such process" tells that it has ended; another user's run cannot be opened at all.
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
  return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void deleteOwnFile(const std::string& path) {
  filClearReadOnly(path.c_str());
  filDeleteFile(path.c_str());
}

bool flushFile(const char* path) {
  const FileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  return file && FlushFileBuffers(file.get());
}

uint32_t copyFlushed(const char* from, const char* to) {
  if (const uint32_t error = filCopyFile(from, to)) return error;
  // A handle that flushes needs write access, which a copied read-only mark refuses.
  const DWORD attributes = GetFileAttributesA(to);
  const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  if (readOnly) SetFileAttributesA(to, attributes & ~FILE_ATTRIBUTE_READONLY);
  const uint32_t error = retried(to, [to] { return gFileFlush(to); });
  if (readOnly) SetFileAttributesA(to, attributes);
  return error;
}

}  // namespace

LowLevelCopy gFileCopy = copyFile;
LowLevelFlush gFileFlush = flushFile;

bool sysRetryBusy(uint32_t error, const char* path, unsigned& attempt) {
  if (!isBusyError(error)) return false;
  const DWORD attributes =
      error == ERROR_ACCESS_DENIED && path != nullptr ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
  return retryAfterPause(error, attributes, path != nullptr ? path : "", attempt);
}

uint32_t filCopyFile(const char* from, const char* to) {
  return retried(to, [from, to] { return gFileCopy(from, to); });
}

uint32_t filCopyFile(const wchar_t* from, const wchar_t* to) {
  return retried(to, [from, to] { return CopyFileW(from, to, FALSE) != FALSE; });
}

uint32_t filDeleteFile(const char* path) { return filDeleteFile(sysWide(path).c_str()); }

uint32_t filDeleteFile(const wchar_t* path) {
  return retried(path, [path] { return DeleteFileW(path) != FALSE; });
}

void filClearReadOnly(const char* path) { filClearReadOnly(sysWide(path).c_str()); }

void filClearReadOnly(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return;
  }
  SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

void filSweepLeftovers(const std::string& target) {
  const std::string prefix = target + kTemporaryMark;
  const std::string folder = target.substr(0, filFolderLength(target.c_str()));
  const std::string namePrefix = prefix.substr(folder.size());
  WIN32_FIND_DATAA entry;
  const FindHandle search(FindFirstFileA((prefix + "*" + kTemporaryEnd).c_str(), &entry));
  if (!search) return;
  do {
    DWORD processId = 0;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && isTemporaryName(entry.cFileName, namePrefix, processId) &&
        !isRunning(processId)) {
      // Not retried: a leftover that is held belongs to a run that is still going.
      const std::string leftover = folder + entry.cFileName;
      filClearReadOnly(leftover.c_str());
      const bool deleted = DeleteFileA(leftover.c_str()) != FALSE;
      sysTrace("leftover %s of a run that ended: %s", leftover.c_str(), deleted ? "deleted" : "kept");
    }
  } while (FindNextFileA(search.get(), &entry));
}

std::string filFreshTemporary(const std::string& target) {
  filSweepLeftovers(target);
  return target + kTemporaryMark + std::to_string(GetCurrentProcessId()) + kTemporaryEnd;
}

uint32_t filMoveOver(const std::string& from, const std::string& target) {
  return retried(target.c_str(), [&] {
    return MoveFileExA(from.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  });
}

uint32_t filPutInPlace(const std::string& temporary, const std::string& target, uint32_t fillError) {
  uint32_t error = fillError;
  if (error != 0) {
    sysTrace("write %s: error %u", temporary.c_str(), error);
  } else {
    error = filMoveOver(temporary, target);
    sysTrace("rename %s over %s: error %u", temporary.c_str(), target.c_str(), error);
  }
  if (error != 0) deleteOwnFile(temporary);
  return error;
}

uint32_t filReplaceWithCopy(const std::string& source, const std::string& target) {
  return filReplaceFile(target, [&](const char* temporary) { return copyFlushed(source.c_str(), temporary); });
}
