// The trace log "kou3_upd.log" beside the executable.
#pragma once

// Appends one formatted line (text mode, so "\n" becomes CR LF). A file that cannot be opened,
// or a program path too long for the log name or with no exact ANSI form (not even a short one),
// loses the line silently.
void logPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
