// The plan's folders under Windows: read by kou3upd's own code from this process's environment,
// in which the options stand for the variables kou3upd reads.
#include <cstdlib>
#include <string>

#include "front/settings.h"
#include "host/workdir.h"
#include "recorder.h"

namespace {

// For this process alone: the plan changes nobody's environment.
void setVariable(const char* name, const char* value) {
  if (value != nullptr) _putenv((std::string(name) + "=" + value).c_str());
}

void noteUnusable(const char* field, const char* variable, const char* meaning) {
  if (field[0] == '\0') planStep("note", std::string(variable) + " gives no usable folder: " + meaning);
}

}  // namespace

void planFillFolders(const PlanOptions& options) {
  setVariable("U3_APP_DATA_PATH", options.drive);
  setVariable("U3_HOST_EXEC_PATH", options.host);
  setVariable("TEMP", options.temp);
  setVariable("TMP", options.temp);
  u3InitSettings();
  noteUnusable(gSettings.appDataPath, "U3_APP_DATA_PATH", "packages are searched for in the current folder");
  noteUnusable(gSettings.hostExecPath, "U3_HOST_EXEC_PATH",
               "executables go into the current folder and programs are looked for as bare names");
  planListDrive(gSettings.appDataPath[0] != '\0' ? gSettings.appDataPath : ".");
  gRecorder.hostVisible = gSettings.hostExecPath[0] != '\0';
  bool missing = false;
  const uint32_t error = filWorkFolderBase(gRecorder.temp, missing);
  if (error != 0) gRecorder.temp = "(none: " + planCodeText(error) + ")";
}

uint32_t planWorkFolderBase(std::string& base, bool& missing, bool& known) {
  known = true;
  return filWorkFolderBase(base, missing);
}

uint32_t planWorkFolderRefusal(const std::string& path, bool& known) {
  known = true;
  return filWorkFolderRefusal(path.c_str());
}
