// Starting a suite program and waiting for its exit code.
#pragma once
#include <cstdint>
#include <string>

// Starts cmdLine suspended, lets it take the foreground, resumes it and, when wait is true,
// waits for it without a time limit. True when the child was created; exitCode is written only
// when the child's exit code was read. When the start fails, startError (if given) receives the
// Windows error code of the failed start. Both child handles are closed on every path.
bool sysExecAndWait(char* cmdLine, bool wait, uint32_t& exitCode, uint32_t* startError = nullptr);

// A program that asks for administrator rights (by its manifest, or by a name like setup.exe
// through Windows' installer detection) cannot be created as above: it is started through the
// shell's elevation instead, which asks the user; declining gives 1223 (ERROR_CANCELLED).
//
// Creates the child of cmdLine suspended, as CreateProcessA does with the arguments above, or
// fails with the reason in GetLastError. Tests point it elsewhere, since Wine never asks for
// elevation.
struct _PROCESS_INFORMATION;
using ProcessCreate = bool (*)(char* cmdLine, _PROCESS_INFORMATION& info);
extern ProcessCreate gProcessCreate;

// The jobs' way to run a child: result becomes the child's exit code, or the (never 0) error
// code of a start that failed, so that a program that did not run never looks like success.
void sysRunAndWait(const std::string& cmdLine, uint32_t& result);
