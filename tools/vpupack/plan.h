// vpupack plan: what kou3upd would do, started with a command line, with a drive and host folder
// and the exit codes its children would give. The options are read here; the plan itself is made
// by the jobs' own code, built a second time against a host that records instead of acting
// (tools/vpupack/plan/).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct PlanOptions {
  const char* drive = nullptr;  // null: from U3_APP_DATA_PATH, as kou3upd reads it
  const char* host = nullptr;   // null: from U3_HOST_EXEC_PATH
  const char* temp = nullptr;   // null: from TEMP and TMP
  std::vector<uint32_t> results;  // the children's exit codes in the order they start
  bool json = false;
  bool help = false;
  std::string commandLine;  // kou3upd's command-line text: the words after "--"
};

extern const char kPlanUsage[];

// A child's exit code: decimal, a minus sign allowed as the log prints codes, or 0x hex; any of
// the 32 bits. False for anything else.
bool planParseCode(const char* text, uint32_t& code);

// Reads "plan [OPTIONS] [-- WORDS]" (argv[0] is "plan"). The words after "--" are joined by one
// blank each into kou3upd's command-line text, a word holding a blank (or empty) in double quotes.
// False, with why, for an option it does not know or one without its value.
bool planParseOptions(int argc, const char* const* argv, PlanOptions& options, std::string& why);

// The plan command (argv[0] is "plan"): prints the plan to out; 0, or 2 for a bad command line.
int vpupackPlan(int argc, const char* const* argv, std::FILE* out, std::FILE* err);
