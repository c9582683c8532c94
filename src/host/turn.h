// Runs of kou3upd on one session take turns: the drive's packages, the host folder's programs and
// the work folder are left to one run at a time, whichever drive each run works for.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "host/win.h"

// A private namespace held open (ClosePrivateNamespace closes it): other runs can open it as long
// as a run holds it.
struct NamespaceTraits {
  static HANDLE invalid() { return nullptr; }
  static void close(HANDLE space);
};
using NamespaceHandle = UniqueHandle<NamespaceTraits>;

// Long enough for another run's installer to finish its work.
constexpr uint32_t kTurnWaitLimitMs = 30 * 60 * 1000;

// The turn of one run, given back when released or destroyed (the kernel gives it back when the
// run dies). A run started, directly or further down, by a program that the holder started goes
// ahead without waiting: the holder waits for that program. Once the turn is given back, runs
// that descend from programs started afterwards wait like any other.
class Turn {
 public:
  Turn() = default;
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;
  ~Turn() { release(); }

  // Waits at most waitLimitMs for the turn. 0 when the run may go ahead: with the turn, as a
  // descendant of the holder, or without turns when the system offers no mutex at all; ERROR_BUSY
  // (170) when another run kept the turn all that time; the Windows error code when the turn is
  // there but closed to this run (5, also when another program made this run's holder mark), or
  // cannot be waited for, or its holder mark cannot be made. Two runs never go on together.
  uint32_t take(uint32_t waitLimitMs = kTurnWaitLimitMs);
  void release();

 private:
  NamespaceHandle space_;
  KernelHandle mutex_;
  KernelHandle mark_;  // tells the runs that descend from this one that it holds the turn
};

// One entry of the system's process list.
struct ProcessLink {
  uint32_t id;
  uint32_t parent;
};

// The system's process list, and when process id was created (a FILETIME count; 0 when it cannot
// be read).
std::vector<ProcessLink> sysProcessLinks();
uint64_t sysCreationTime(uint32_t id);

// The parent of process id, created at idCreated, with parentCreated its creation time (created
// gives a process's, 0 when it cannot be read). 0 when it has none, or none that can be told:
// Windows reuses the ids of ended processes, so a "parent" created after its child is not its
// parent.
uint32_t sysParentOf(uint32_t id, uint64_t idCreated, const std::vector<ProcessLink>& links,
                     const std::function<uint64_t(uint32_t)>& created, uint64_t& parentCreated);

// Whether self's parent, or its parent's parent and so on (sysParentOf), holds the turn (holds,
// given a process id and its creation time).
bool sysHolderAmongAncestors(uint32_t self, const std::vector<ProcessLink>& links,
                             const std::function<uint64_t(uint32_t)>& created,
                             const std::function<bool(uint32_t, uint64_t)>& holds);
