#include "host/turn.h"
#include "host/turn_namespace.h"

#include <string>
#include <utility>
#include <vector>

// After windows.h, which it needs.
#include <tlhelp32.h>

#include "host/security.h"
#include "host/trace.h"

namespace {

// The session's own names (Local\ is the session's namespace: one user's runs share the work
// folder in %TEMP%), or those of the turn's private namespace.
constexpr char kSessionPrefix[] = "Local\\";
constexpr char kPrivatePrefix[] = "kou3upd\\";
constexpr char kMutexName[] = "kou3upd-turn";

// The name of the event that a run holding the turn keeps open, so that its descendants know it:
// with the holder's creation time (16 hexadecimal digits), so that no program can make it before
// the holder exists.
std::string holderMark(const std::string& prefix, uint32_t processId, uint64_t created) {
  std::string time(16, '0');
  for (std::size_t digit = 16; digit-- > 0; created >>= 4) time[digit] = "0123456789abcdef"[created & 15];
  return prefix + "kou3upd-turn-holder-" + std::to_string(processId) + "-" + time;
}

// Whether this run's parent, or its parent's parent and so on, holds the turn: each of them waits
// for the program it started, so a run that waited for one of them would wait for itself. The
// process tree tells where an inherited variable would not: a program started elevated does not
// get its starter's environment. A program left running by an installer after its run ended has
// no running parent to lead to the holder, and waits. A mark labelled below Medium was made by a
// lower level, not by a run (whose marks keep lower levels out), and would let runs skip the turn.
bool holderIsAncestor(const std::string& prefix) {
  return sysHolderAmongAncestors(GetCurrentProcessId(), sysProcessLinks(), sysCreationTime,
                                 [&prefix](uint32_t id, uint64_t created) {
                                   const KernelHandle mark(OpenEventA(SYNCHRONIZE | READ_CONTROL, FALSE,
                                                                      holderMark(prefix, id, created).c_str()));
                                   return mark && gIntegrityOf(mark.get()) >= SECURITY_MANDATORY_MEDIUM_RID;
                                 });
}

// The turn's objects are made open to this user at Medium and above, so that a run elevated and
// one that is not share them (default ones would be closed to the other).
struct TurnAttributes {
  LocalMemory descriptor;
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};

  TurnAttributes() {
    if (sysTurnDescriptor(descriptor) == 0) attributes.lpSecurityDescriptor = descriptor.get();
  }
};

NamespaceCalls lookUpNamespaceCalls() {
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  NamespaceCalls calls{sysEntry<decltype(calls.createBoundary)>(kernel, "CreateBoundaryDescriptorW"),
                       sysEntry<decltype(calls.addSid)>(kernel, "AddSIDToBoundaryDescriptor"),
                       sysEntry<decltype(calls.addLabel)>(kernel, "AddIntegrityLabelToBoundaryDescriptor"),
                       sysEntry<decltype(calls.deleteBoundary)>(kernel, "DeleteBoundaryDescriptor"),
                       sysEntry<decltype(calls.create)>(kernel, "CreatePrivateNamespaceW"),
                       sysEntry<decltype(calls.open)>(kernel, "OpenPrivateNamespaceW"),
                       sysEntry<decltype(calls.close)>(kernel, "ClosePrivateNamespace")};
  return calls;
}

// The prefix of the turn's names, with the private namespace held open in space where Windows
// has one (7 on): its boundary holds this user and the Medium label, so that no lower level can
// make the namespace, nor any other user; XP and Vista keep the session's names. 0, or the error
// of a namespace that cannot be had. The namespace is made with the turn's own attributes.
uint32_t turnNames(std::string& prefix, NamespaceHandle& space, TurnAttributes& turnAttributes) {
  const NamespaceCalls& calls = gNamespaceCalls;
  prefix = kSessionPrefix;
  if (!calls.createBoundary || !calls.addSid || !calls.addLabel || !calls.deleteBoundary || !calls.create ||
      !calls.open || !calls.close) {
    return 0;
  }
  User user;
  const bool known = sysCurrentUser(user) == 0;
  SID medium{SID_REVISION, 1, SECURITY_MANDATORY_LABEL_AUTHORITY, {SECURITY_MANDATORY_MEDIUM_RID}};
  HANDLE boundary = known ? calls.createBoundary(L"kou3upd-turn", 0) : nullptr;
  bool built = boundary != nullptr && calls.addSid(&boundary, user.sid()) &&
               calls.addLabel(&boundary, &medium);
  // Made by the first run, opened by the others; one that goes between the two is made again.
  for (int attempt = 0; built && !space && attempt < 3; ++attempt) {
    space.reset(calls.create(&turnAttributes.attributes, boundary, L"kou3upd"));
    if (!space && GetLastError() == ERROR_ALREADY_EXISTS) space.reset(calls.open(boundary, L"kou3upd"));
  }
  const DWORD error = GetLastError();
  if (boundary != nullptr) calls.deleteBoundary(boundary);
  if (!space) return sysNonZero(error, ERROR_ACCESS_DENIED);
  prefix = kPrivatePrefix;
  return 0;
}

}  // namespace

NamespaceCalls gNamespaceCalls = lookUpNamespaceCalls();

void NamespaceTraits::close(HANDLE space) { gNamespaceCalls.close(space, 0); }

std::vector<ProcessLink> sysProcessLinks() {
  std::vector<ProcessLink> links;
  const FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return links;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    links.push_back({entry.th32ProcessID, entry.th32ParentProcessID});
  }
  return links;
}

uint64_t sysCreationTime(uint32_t id) {
  // The limited right is the one a run may have over an elevated process; XP knows only the full one.
  KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!process) process.reset(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id));
  FILETIME created, exited, kernel, user;
  if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return 0;
  return (uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

uint32_t Turn::take(uint32_t waitLimitMs) {
  TurnAttributes turnAttributes;
  std::string prefix;
  NamespaceHandle space;
  if (const uint32_t error = turnNames(prefix, space, turnAttributes)) {
    sysTrace("turn: its private namespace cannot be had (error %u); ending", error);
    return error;
  }
  if (holderIsAncestor(prefix)) {
    sysTrace("turn: a run that started this one holds it; going ahead");
    return 0;
  }
  const std::string mutexName = prefix + kMutexName;
  KernelHandle mutex(CreateMutexA(&turnAttributes.attributes, FALSE, mutexName.c_str()));
  bool madeBefore = mutex && GetLastError() == ERROR_ALREADY_EXISTS;
  if (!mutex) {
    madeBefore = true;
    DWORD error = GetLastError();
    // Opening an existing mutex asks for full access. One made at another integrity level may
    // give no more than a run needs: waiting, and giving it back.
    if (error == ERROR_ACCESS_DENIED) {
      mutex.reset(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL, FALSE, mutexName.c_str()));
      if (!mutex) error = GetLastError();
    }
    if (!mutex && (error == ERROR_NOT_SUPPORTED || error == ERROR_CALL_NOT_IMPLEMENTED)) {
      sysTrace("turn: no mutex (error %lu); going ahead", error);
      return 0;
    }
    // There, but closed to this run (or a squatter of another kind under its name).
    if (!mutex) {
      sysTrace("turn: cannot be had (error %lu); ending", error);
      return sysNonZero(error, ERROR_ACCESS_DENIED);
    }
  }
  // A run's mutex keeps lower levels out; one labelled below Medium was made by a lower level
  // before any run, to hold it. Waiting would end the same way, 30 minutes later.
  if (madeBefore && gIntegrityOf(mutex.get()) < SECURITY_MANDATORY_MEDIUM_RID) {
    sysTrace("turn: made by a lower integrity level; ending");
    return ERROR_ACCESS_DENIED;
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
    default: {
      const DWORD error = GetLastError();
      sysTrace("turn: wait failed (error %lu); ending", error);
      return sysNonZero(error, ERROR_ACCESS_DENIED);
    }
  }
  // A mark there already is another program's, which may outlive this turn: runs that it let
  // go ahead would not wait for the next holder. Without a mark, the programs this run starts
  // would wait for it to the end of their time.
  const DWORD self = GetCurrentProcessId();
  KernelHandle mark(
      CreateEventA(&turnAttributes.attributes, TRUE, FALSE, holderMark(prefix, self, sysCreationTime(self)).c_str()));
  const DWORD markError = mark ? GetLastError() : sysNonZero(GetLastError(), ERROR_ACCESS_DENIED);
  if (!mark || markError == ERROR_ALREADY_EXISTS) {
    sysTrace("turn: this run's holder mark was made by another program, or cannot be (error %lu); ending", markError);
    ReleaseMutex(mutex.get());
    return markError == ERROR_ALREADY_EXISTS ? ERROR_ACCESS_DENIED : markError;
  }
  sysTrace("turn: taken");
  space_ = std::move(space);
  mutex_ = std::move(mutex);
  mark_ = std::move(mark);
  return 0;
}

void Turn::release() {
  if (!mutex_) return;
  mark_.reset();
  ReleaseMutex(mutex_.get());
  mutex_.reset();
  space_.reset();
}

bool sysHolderAmongAncestors(uint32_t self, const std::vector<ProcessLink>& links,
                             const std::function<uint64_t(uint32_t)>& created,
                             const std::function<bool(uint32_t, uint64_t)>& holds) {
  uint32_t current = self;
  uint64_t currentCreated = created(self);
  // No more steps than there are processes, whatever the list holds.
  for (size_t step = 0; step < links.size(); ++step) {
    current = sysParentOf(current, currentCreated, links, created, currentCreated);
    if (current == 0) return false;
    if (holds(current, currentCreated)) return true;
  }
  return false;
}

uint32_t sysParentOf(uint32_t id, uint64_t idCreated, const std::vector<ProcessLink>& links,
                     const std::function<uint64_t(uint32_t)>& created, uint64_t& parentCreated) {
  for (const ProcessLink& link : links) {
    if (link.id != id) continue;
    if (link.parent == 0 || idCreated == 0) return 0;
    parentCreated = created(link.parent);
    return parentCreated != 0 && parentCreated <= idCreated ? link.parent : 0;
  }
  return 0;
}
