// The program's entry: fill the settings, read the command line, run one job, return its code.
#include "front/cmdline.h"
#include "front/dispatch.h"
#include "front/settings.h"
#include "host/dllsearch.h"
#include "host/elevation.h"
#include "host/trace.h"
#include "host/win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  sysEndOnCrash();
  sysNoErrorBoxes();
  sysHardenDllSearch();
  u3InitSettings();
  // Cut from the process command line here rather than taken from the run-time, which may end
  // the program's name early at a byte of 0x80 or above.
  const char* cmdText = cmdTail(GetCommandLineA());
  // An elevated copy started by another run for one start of its own: the word, the request and,
  // after one blank, the command line as it stands.
  std::string word;
  std::string request;
  const char* afterWord = cmdNextWord(cmdText, word);
  if (afterWord != nullptr && word == kElevatedStartSwitch) {
    if (const char* cmdLine = cmdNextWord(afterWord, request)) {
      if (*cmdLine == ' ') ++cmdLine;
      return static_cast<int>(sysRunElevatedRequest(request.c_str(), cmdLine));
    }
  }
  StringList words;
  cmdSplitLine(cmdText, words);
  StringList notSwitches;
  cmdParseSwitches(words, gSettings, &notSwitches);
  sysTrace("job %s from \"%s\": silent %d, progress %d, updateVps %d, hwnd %d", cmdJobSwitch(gSettings.jobCode),
           cmdText, gSettings.silent, gSettings.progress, gSettings.updateVps, gSettings.hwnd);
  sysTrace("drive folder \"%s\", host folder \"%s\"", gSettings.appDataPath, gSettings.hostExecPath);
  // Each of these runs ends as if all were well; the trace says why.
  u3TraceUnusableFolders();
  if (gSettings.jobCode == 0) sysTrace("%s", cmdNoJobText(notSwitches).c_str());
  const uint32_t result = u3RunJob(gSettings.jobCode, cmdText);
  const uint32_t exitCode = u3ExitCode(gSettings.jobCode, result);
  sysTrace("exit code %u (0x%X), job result 0x%X", exitCode, exitCode, result);
  return static_cast<int>(exitCode);
}
