// Runs of kou3upd on one session take turns: the drive's packages, the host folder's programs and
// the work folder are left to one run at a time, whichever drive each run works for.
#pragma once
#include <cstdint>

#include "host/win.h"

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
  // descendant of the holder, or without turns when the system offers no mutex; ERROR_BUSY (170)
  // when another run kept the turn all that time.
  uint32_t take(uint32_t waitLimitMs = kTurnWaitLimitMs);
  void release();

 private:
  KernelHandle mutex_;
  KernelHandle mark_;  // tells the runs that descend from this one that it holds the turn
};
