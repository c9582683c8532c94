// Starting a suite program and waiting for its exit code.
#pragma once
#include <cstdint>
#include <string>

// Starts cmdLine suspended, lets it take the foreground, resumes it and, when wait is true,
// waits for it without a time limit. True when the child was created; exitCode is written only
// when the child's exit code was read. When the start fails, startError (if given) receives the
// Windows error code of the failed start. Both child handles are closed on every path.
//
// A program that asks for administrator rights (by its manifest, or by a name like setup.exe
// through Windows' installer detection) cannot be created so: Windows refuses it with 740. An
// elevated start (host/elevation.h) then runs it, its prompt owned by the window numbered
// promptOwner (0: none), and exitCode is the program's own or the elevated copy's failure to start
// it. promptOwner has no default: a start that forgets the caller's window would put the prompt
// behind it.
bool sysExecAndWait(char* cmdLine, bool wait, uint32_t& exitCode, uint32_t* startError, int32_t promptOwner);

// Starts cmdLine as sysExecAndWait does (never elevated), with environment (a UTF-16 block, or
// null for this process's) and folder as its current folder (null for this process's).
bool sysExecWith(const char* cmdLine, const wchar_t* environment, const wchar_t* folder, uint32_t& exitCode,
                 uint32_t& startError);

// Creates the child of cmdLine suspended, as CreateProcessA does with the arguments above, or
// fails with the reason in GetLastError. Tests point it elsewhere, since Wine never asks for
// elevation.
struct _PROCESS_INFORMATION;
using ProcessCreate = bool (*)(char* cmdLine, _PROCESS_INFORMATION& info);
extern ProcessCreate gProcessCreate;

// The jobs' way to run a child: result becomes the child's exit code, or the (never 0) error
// code of a start that failed, so that a program that did not run never looks like success.
// promptOwner as for sysExecAndWait.
void sysRunAndWait(const std::string& cmdLine, uint32_t& result, int32_t promptOwner);
