#include "host/turn.h"

#include <string>
#include <utility>
#include <vector>

// After windows.h, which it needs.
#include <tlhelp32.h>

#include "host/trace.h"

namespace {

// Local\ is the session's own namespace: one user's runs share the work folder in %TEMP%.
constexpr char kMutexName[] = "Local\\kou3upd-turn";

// The name of the event that a run holding the turn keeps open, so that its descendants know it.
std::string holderMark(DWORD processId) { return "Local\\kou3upd-turn-holder-" + std::to_string(processId); }

// Whether this run's parent, or its parent's parent and so on, holds the turn: each of them waits
// for the program it started, so a run that waited for one of them would wait for itself. The
// process tree tells where an inherited variable would not: a program started elevated does not
// get its starter's environment. A program left running by an installer after its run ended has
// no running parent to lead to the holder, and waits.
bool holderIsAncestor() {
  const FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  std::vector<std::pair<DWORD, DWORD>> parents;  // process id, parent's id
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    parents.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
  }
  DWORD current = GetCurrentProcessId();
  // A parent's id taken over by a later process could lead round in a circle: no more steps than
  // there are processes.
  for (size_t step = 0; step < parents.size(); ++step) {
    size_t at = 0;
    while (at < parents.size() && parents[at].first != current) ++at;
    if (at == parents.size() || parents[at].second == 0) return false;
    current = parents[at].second;
    if (KernelHandle(OpenEventA(SYNCHRONIZE, FALSE, holderMark(current).c_str()))) return true;
  }
  return false;
}

}  // namespace

uint32_t Turn::take(uint32_t waitLimitMs) {
  if (holderIsAncestor()) {
    sysTrace("turn: a run that started this one holds it; going ahead");
    return 0;
  }
  KernelHandle mutex(CreateMutexA(nullptr, FALSE, kMutexName));
  if (!mutex) {
    sysTrace("turn: no mutex (error %lu); going ahead", GetLastError());
    return 0;
  }
  DWORD waited = WaitForSingleObject(mutex.get(), 0);
  if (waited == WAIT_TIMEOUT) {
    sysTrace("turn: waiting for another run's turn, at most %u ms", waitLimitMs);
    waited = WaitForSingleObject(mutex.get(), waitLimitMs);
  }
  switch (waited) {
    case WAIT_OBJECT_0:
      break;
    // The run that held it died: the restore of leftover backups mends what it left.
    case WAIT_ABANDONED:
      sysTrace("turn: the run that held it ended without giving it back");
      break;
    case WAIT_TIMEOUT:
      sysTrace("turn: still held by another run; giving up");
      return ERROR_BUSY;
    default:
      sysTrace("turn: wait failed (error %lu); going ahead", GetLastError());
      return 0;
  }
  sysTrace("turn: taken");
  mutex_ = std::move(mutex);
  mark_.reset(CreateEventA(nullptr, TRUE, FALSE, holderMark(GetCurrentProcessId()).c_str()));
  return 0;
}

void Turn::release() {
  if (!mutex_) return;
  mark_.reset();
  ReleaseMutex(mutex_.get());
  mutex_.reset();
}
