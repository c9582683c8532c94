// The program's entry: fill the settings, read the command line, run one job, return its code.
#include "front/cmdline.h"
#include "front/dispatch.h"
#include "front/settings.h"
#include "host/dllsearch.h"
#include "host/win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  sysNoErrorBoxes();
  sysHardenDllSearch();
  u3InitSettings();
  // Cut from the process command line here rather than taken from the run-time, which may end
  // the program's name early at a byte of 0x80 or above.
  const char* cmdText = cmdTail(GetCommandLineA());
  StringList words;
  cmdSplitLine(cmdText, words);
  cmdParseSwitches(words);
  const uint32_t result = u3RunJob(gSettings.jobCode, cmdText);
  return static_cast<int>(u3ExitCode(gSettings.jobCode, result));
}
