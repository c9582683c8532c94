// File operations that wait out brief locks, and the one way a file that must survive a crash is
// written: to a temporary file beside it, flushed, then renamed over it.
#pragma once
#include <cstdint>
#include <string>

// Scanners open a freshly written file for a moment, often without sharing. Says whether an
// operation on path that failed with error is worth another try, after pausing a little longer
// each time (about 2 s in all per operation). Only sharing, lock and access-denied errors are;
// access denied on a read-only path is not, since that mark does not go away by itself.
bool sysRetryBusy(uint32_t error, const char* path, unsigned& attempt);

// Copies from to "to", replacing it; the copy keeps the source's attributes and times. Tests
// point it elsewhere to make a copy stop part-way, as a pulled drive or a full disk would.
using LowLevelCopy = bool (*)(const char* from, const char* to);
extern LowLevelCopy gFileCopy;

// Hands the bytes written to path to the disk itself: true, or false with the last error set.
// Tests point it elsewhere to make a flush fail, which no disk here ever does.
using LowLevelFlush = bool (*)(const char* path);
extern LowLevelFlush gFileFlush;

// Each returns 0, or the Windows error code of the last try. The UTF-16 forms reach files named
// outside the ANSI code page.
uint32_t filCopyFile(const char* from, const char* to);
uint32_t filCopyFile(const wchar_t* from, const wchar_t* to);
uint32_t filDeleteFile(const char* path);
uint32_t filDeleteFile(const wchar_t* path);

// Drops the read-only mark of a file of kou3upd's own (a copy keeps its source's) so that it can
// be deleted. A link is left alone: its mark is its target's.
void filClearReadOnly(const char* path);
void filClearReadOnly(const wchar_t* path);

// Deletes the temporary files of kou3upd's own pattern beside target ("<target>.kou3upd-<process
// id>.tmp") that runs which no longer run left there; nothing else.
void filSweepLeftovers(const std::string& target);

// A temporary name of this run's own beside target, once the leftovers there are swept.
std::string filFreshTemporary(const std::string& target);

// Renames from over target (replacing it) with write-through, waiting out brief locks. from must
// be on target's volume. 0, or the Windows error code; from and target then stay as they were.
uint32_t filMoveOver(const std::string& from, const std::string& target);

// Ends a replacement: when fillError is 0, renames temporary over target with write-through;
// otherwise, or when the rename fails, deletes temporary and leaves target as it was.
// Returns 0 or the Windows error code of the step that failed.
uint32_t filPutInPlace(const std::string& temporary, const std::string& target, uint32_t fillError);

// Replaces target by what fill writes into the temporary file whose path it is given. fill
// returns 0 once every byte is written and flushed, or the Windows error code of its failure.
template <class Fill>
uint32_t filReplaceFile(const std::string& target, Fill fill) {
  const std::string temporary = filFreshTemporary(target);
  return filPutInPlace(temporary, target, fill(temporary.c_str()));
}

// Replaces target by a flushed copy of source.
uint32_t filReplaceWithCopy(const std::string& source, const std::string& target);
