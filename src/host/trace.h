// A step-by-step trace of the run for whoever looks into a failure: each line goes to the
// debugger output (a debugger or DebugView shows it) and, when KOU3UPD_TRACE names a file, to the
// end of that file. A trace never changes what the program does.
#pragma once
#include <string>

// Sends "kou3upd[<process id>] +<ms since the first line> <text>" as one line; the text is
// formatted whole, however long. A trace file that cannot be opened is passed over.
void sysTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// text in UTF-8, for a trace line: a name outside the ANSI code page is traced as it is.
std::string sysTraceText(const wchar_t* text);

// From here on the trace goes to the debugger output alone; a trace file already open is closed.
void sysTraceWithoutFile();
