// What the plan records while the jobs run against the recording host, and what that host asks
// of the platform it runs on (ground_win.cpp under Windows, ground_native.cpp under Linux).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "plan.h"

struct PlanStep {
  std::string kind;     // "job", "package", "write", "backup", "restore", "copy", "delete", "start", "log", "trace", "note"
  std::string text;     // the step in words
  std::string command;  // "start": the exact command line
  uint32_t result = 0;  // "start": what the job gets back
  bool runs = false;    // "start": the program runs (else the start fails)
};

struct Recorder {
  std::vector<uint32_t> results;  // as given; the last stands for every later start
  std::size_t runs = 0;           // programs run so far
  std::vector<PlanStep> steps;
  std::vector<std::string> starts;
  std::vector<std::string> log;
  std::string logPending;  // a line not yet ended
  std::string drive;       // where the drive folder is listed from here
  std::vector<std::string> driveFiles;      // its plain files, in the order it lists them
  std::map<std::string, bool> driveNow;     // a file's name in lower case: there or gone since
  std::map<std::string, bool> written;      // a host file's path in lower case: holds a program
  bool hostVisible = false;  // programs in the host folder can be looked at from here
  std::string temp;          // the temporary folder, as the plan tells it
};
extern Recorder gRecorder;

void planStep(const char* kind, const std::string& text);

// Fills the run settings' folders as kou3upd would (from the options, else the environment), and
// gRecorder's drive, hostVisible and temp. A note for each folder it cannot tell.
void planFillFolders(const PlanOptions& options);

// The folder the work folder goes into, as filWorkFolderBase gives it; known false where the plan
// cannot ask Windows (Linux: the --temp given, else a stand-in name).
uint32_t planWorkFolderBase(std::string& base, bool& missing, bool& known);

// What an existing work folder would be refused with (filWorkFolderRefusal); known false where
// the plan cannot look.
uint32_t planWorkFolderRefusal(const std::string& path, bool& known);

// Lists the plain files in folder (the drive folder as seen from here) into gRecorder; a note
// when it cannot be listed.
void planListDrive(const std::string& folder);

// "N (0xN)": a code in decimal and hex, all 32 bits.
std::string planCodeText(uint32_t code);
