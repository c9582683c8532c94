// Starting a program that Windows starts only elevated (740), in the way that lets the prompt
// name what it elevates.
//
// Where the user consents to elevation of the same account (a limited token with a linked
// administrator token), the shell's elevation ("runas") would give the program an environment
// built from the user's profile and none of the starter's: an installer started so would miss the
// U3 variables. So this program starts an elevated copy of itself, whose own parameters carry the
// program's exact command line, which the prompt shows; the copy starts that line with
// CreateProcess and this run's environment, current folder and error mode, which it takes from a
// request file that only this user can have written (private, in the folder kou3_elv of the
// temporary folder), and that it deletes through the handle that read it.
//
// Where the prompt asks for another account's password (a standard user's full token, without a
// linked one), that account could not read the user's request: the program itself is started
// through the shell's elevation, so that the prompt names it and its publisher. So it is too where
// the limited token's linked one is no administrator's (a member of Backup Operators, say): that
// full token would be refused 740 again, where the shell's elevation asks for an administrator.
#pragma once
#include <cstdint>

#include "host/win.h"

// The command line of the elevated copy: this word, the request file's path in double quotes, one
// blank and the program's command line as it stands.
constexpr char kElevatedStartSwitch[] = "/kou3updElevatedStart";

// Starts cmdLine elevated, through the copy or as the program itself, the prompt owned by the
// window numbered owner (the caller's /hwnd; 0 for none). 0 with exitCode the copy's or the
// program's once it ended (when wait is true); else the error code: 1223 (ERROR_CANCELLED) when
// the user declines, 6 (ERROR_INVALID_HANDLE) when the shell starts it without handing over its
// process, so that its end cannot be known. A request is gone in every case.
uint32_t sysStartElevated(const char* cmdLine, bool wait, uint32_t& exitCode, int32_t owner);

// The copy's run: reads and checks the request at requestPath, deletes it when it holds cmdLine,
// the line the copy was given, then starts that. The program's exit code, or the error code of a
// start that failed, or of a request refused with nothing started and left where it is: 2 or 3
// when it is missing (or used already), 32 while another program keeps it open past the pauses
// that a scanner's brief look needs, 1307 (ERROR_INVALID_OWNER) when this user does not own it,
// 5 when it lies on a volume without ACLs or not on this machine, is open to anyone but this
// user, Administrators and SYSTEM, is labelled below Medium, holds another command line (in its
// ANSI bytes, or as the prompt showed it in UTF-16) or cannot be deleted through the handle that
// read it, 13 (ERROR_INVALID_DATA) when it does not read, has a second name or is no file on a
// disk. The copy writes no trace file, whatever its environment names.
uint32_t sysRunElevatedRequest(const char* requestPath, const char* cmdLine);

// What this run's token tells of its elevation (TokenElevationType, Vista on; Default before),
// and whether the full token linked to a limited one holds the Administrators group. The copy is
// used only for such a token; any other elevation starts the program itself. Tests point it
// elsewhere: Wine has no UAC.
struct ElevationFacts {
  TOKEN_ELEVATION_TYPE type;
  bool linkedIsAdministrator;
};
using TokenQuery = ElevationFacts (*)();
extern TokenQuery gTokenFacts;

// The copy's own command line in UTF-16 (GetCommandLineW). Tests point it elsewhere to check a
// request inside the test program as the copy that the prompt showed would.
using CommandLineQuery = const wchar_t* (*)();
extern CommandLineQuery gOwnCommandLine;

// Starts program with parameters through the shell's elevation, its prompt owned by owner (may
// be null), from folder. 0 with process (null when the shell hands none over), or the error
// code. Tests point it elsewhere: Wine has no elevation.
using ElevatedStart = uint32_t (*)(const wchar_t* program, const wchar_t* parameters, const wchar_t* folder,
                                   HWND owner, HANDLE& process);
extern ElevatedStart gElevatedStart;
