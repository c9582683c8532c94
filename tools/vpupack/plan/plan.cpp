// vpupack plan: runs the job that kou3upd's command line chooses, through kou3upd's own parsing,
// job table and jobs, against the recording host, and prints what it recorded.
#include <cstdio>
#include <string>

#include "front/cmdline.h"
#include "front/dispatch.h"
#include "front/settings.h"
#include "recorder.h"

namespace {

// text as a JSON string. Bytes above 0x7F pass as they are: paths are the ANSI bytes kou3upd
// hands over.
std::string quoted(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string list(const std::vector<std::string>& items) {
  std::string json = "[";
  for (std::size_t i = 0; i < items.size(); ++i) json += (i == 0 ? "" : ", ") + quoted(items[i]);
  return json + "]";
}

void printJson(std::FILE* out, const std::string& command, uint32_t exitCode, uint32_t result) {
  std::fprintf(out, "{\n  \"command\": %s,\n  \"job\": %s,\n", quoted(command).c_str(),
               quoted(cmdJobSwitch(gSettings.jobCode)).c_str());
  std::fprintf(out, "  \"folders\": {\"drive\": %s, \"host\": %s, \"temp\": %s},\n", quoted(gRecorder.drive).c_str(),
               quoted(gSettings.hostExecPath).c_str(), quoted(gRecorder.temp).c_str());
  std::fprintf(out, "  \"starts\": %s,\n", list(gRecorder.starts).c_str());
  std::fprintf(out, "  \"log\": %s,\n", list(gRecorder.log).c_str());
  std::fprintf(out, "  \"exit\": %u,\n  \"result\": %u,\n  \"steps\": [", static_cast<unsigned>(exitCode),
               static_cast<unsigned>(result));
  const char* separator = "\n";
  for (const PlanStep& step : gRecorder.steps) {
    std::fprintf(out, "%s    {\"kind\": %s, \"text\": %s", separator, quoted(step.kind).c_str(),
                 quoted(step.text).c_str());
    if (step.kind == "start") {
      std::fprintf(out, ", \"command\": %s, \"runs\": %s, \"result\": %u", quoted(step.command).c_str(),
                   step.runs ? "true" : "false", static_cast<unsigned>(step.result));
    }
    std::fputc('}', out);
    separator = ",\n";
  }
  std::fprintf(out, "\n  ]\n}\n");
}

void printText(std::FILE* out, const std::string& command, uint32_t exitCode, uint32_t result) {
  std::fprintf(out, "kou3upd %s\n", command.c_str());
  std::fprintf(out, "drive folder: %s\nhost folder: %s\ntemporary folder: %s\n", gRecorder.drive.c_str(),
               gSettings.hostExecPath[0] != '\0' ? gSettings.hostExecPath : "(none)", gRecorder.temp.c_str());
  for (const PlanStep& step : gRecorder.steps) {
    if (step.kind == "start") {
      std::fprintf(out, "%-8s %s\n%-8s %s\n", "start", step.command.c_str(), "", step.text.c_str());
    } else {
      std::fprintf(out, "%-8s %s\n", step.kind.c_str(), step.text.c_str());
    }
  }
  std::fprintf(out, "exit code %s, job result %s\n", planCodeText(exitCode).c_str(), planCodeText(result).c_str());
}

}  // namespace

int vpupackPlan(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  PlanOptions options;
  std::string why;
  if (!planParseOptions(argc, argv, options, why)) {
    std::fprintf(err, "vpupack plan: %s\n%s", why.c_str(), kPlanUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kPlanUsage, out);
    return 0;
  }
  gRecorder = Recorder();
  gRecorder.results = options.results;
  gSettings = RunSettings();
  planFillFolders(options);

  // From here on as kou3upd's entry goes, with the job run through its job table.
  u3ResetCommandFields(gSettings);
  StringList words;
  cmdSplitLine(options.commandLine.c_str(), words);
  StringList notSwitches;
  cmdParseSwitches(words, gSettings, &notSwitches);
  if (gSettings.jobCode == 0) {
    planStep("job", cmdNoJobText(notSwitches));
  } else {
    char text[96];
    std::snprintf(text, sizeof text, "job %s: silent %d, progress %d, updateVps %d, hwnd %d",
                  cmdJobSwitch(gSettings.jobCode), gSettings.silent, gSettings.progress, gSettings.updateVps,
                  static_cast<int>(gSettings.hwnd));
    planStep("job", text);
  }
  const uint32_t result = u3RunJob(gSettings.jobCode, options.commandLine.c_str());
  const uint32_t exitCode = u3ExitCode(gSettings.jobCode, result);
  // A line that its job left without an end is in the log all the same.
  if (!gRecorder.logPending.empty()) {
    gRecorder.log.push_back(gRecorder.logPending);
    planStep("log", gRecorder.logPending);
  }

  if (options.json) {
    printJson(out, options.commandLine, exitCode, result);
  } else {
    printText(out, options.commandLine, exitCode, result);
  }
  return 0;
}
