// The one process-wide record of what a run knows about its surroundings and its command line.
#pragma once
#include <cstddef>
#include <cstdint>

// Paths built in fixed buffers have room for this many bytes, the terminating zero included.
constexpr std::size_t kPathBufferSize = 260;

struct RunSettings {
  char hostExecPath[kPathBufferSize];  // short form of %U3_HOST_EXEC_PATH%; empty when unusable
  char appDataPath[kPathBufferSize];   // short form of %U3_APP_DATA_PATH%; empty when unusable
  int32_t hwnd;                        // window number given with /hwnd; 0 means none
  bool silent;
  bool progress;
  bool updateVps;
  uint32_t jobCode;                    // 0 means no job switch
};

// Filled by u3InitSettings and the command line before any job runs; read-only afterwards.
extern RunSettings gSettings;

// Clears the fields that the command line sets.
void u3ResetCommandFields(RunSettings& settings);

// Fills both U3 folders from the environment (Windows only) and resets the command-line fields.
// A folder whose expansion or short form does not fit its 260 bytes is left empty.
void u3InitSettings();

// Traces each U3 folder left empty: which variable, why (not set, no such folder, too long), and
// what the run does without it. Changes nothing.
void u3TraceUnusableFolders();
