// Starting a program that Windows starts only elevated (740), with what a normal start gives it.
//
// The shell's elevation ("runas") gives a program an environment built from the user's profile
// and none of the starter's: an installer started so would miss the U3 variables. So this program
// starts an elevated copy of itself instead, and the copy starts the program with CreateProcess,
// this run's environment, current folder and error mode, waits for it and ends with its exit code.
// The copy starts nothing but the one start asked for, which it takes from a request file that
// only this user can have written (private, in the private folder kou3_elv of the temporary
// folder), named on its command line and deleted once read.
#pragma once
#include <cstdint>

#include "host/win.h"

// The command line of the elevated copy is this word and the request file's path, nothing else.
constexpr char kElevatedStartSwitch[] = "/kou3updElevatedStart";

// Writes the request for cmdLine and starts the elevated copy, its prompt owned by the window
// the run was given with /hwnd. 0 with exitCode the copy's once it ended (when wait is true);
// else the error code: 1223 (ERROR_CANCELLED) when the user declines, 6 (ERROR_INVALID_HANDLE)
// when the shell starts the copy without handing over its process, so that its end cannot be
// known; the request is then gone.
uint32_t sysStartElevated(const char* cmdLine, bool wait, uint32_t& exitCode);

// The copy's run: reads and deletes the request at requestPath, then starts it. The program's
// exit code, or the error code of a start that failed, or of a request refused with nothing
// started: 2 or 3 when it is missing (or used already), 5 when it is not private, 13
// (ERROR_INVALID_DATA) when it does not read.
uint32_t sysRunElevatedRequest(const char* requestPath);

// Starts program with parameters through the shell's elevation, its prompt owned by owner (may
// be null), from folder. 0 with process (null when the shell hands none over), or the error
// code. Tests point it elsewhere: Wine has no elevation.
using ElevatedStart = uint32_t (*)(const wchar_t* program, const wchar_t* parameters, const wchar_t* folder,
                                   HWND owner, HANDLE& process);
extern ElevatedStart gElevatedStart;
