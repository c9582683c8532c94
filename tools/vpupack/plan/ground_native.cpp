// The plan's folders under Linux: the drive is a Linux folder to list, the host and temporary
// folders are Windows paths to print, which cannot be looked into from here.
#include <cstdlib>
#include <cstring>

#include "front/settings.h"
#include "host/workdir.h"
#include "recorder.h"

namespace {

constexpr char kUnknownTemp[] = "%TEMP%";

// value into field as kou3upd keeps a folder: empty when it is unset or does not fit.
void keep(const char* value, char (&field)[kPathBufferSize], const char* variable) {
  field[0] = '\0';
  if (value == nullptr || std::strlen(value) >= kPathBufferSize) {
    planStep("note", std::string(variable) + " gives no usable folder (unset, or longer than 259 characters)");
    return;
  }
  std::strcpy(field, value);
}

const char* fromEnvironment(const char* given, const char* variable) {
  return given != nullptr ? given : std::getenv(variable);
}

}  // namespace

void planFillFolders(const PlanOptions& options) {
  keep(fromEnvironment(options.drive, "U3_APP_DATA_PATH"), gSettings.appDataPath, "U3_APP_DATA_PATH");
  keep(fromEnvironment(options.host, "U3_HOST_EXEC_PATH"), gSettings.hostExecPath, "U3_HOST_EXEC_PATH");
  planListDrive(gSettings.appDataPath[0] != '\0' ? gSettings.appDataPath : ".");
  gRecorder.hostVisible = false;
  if (gSettings.hostExecPath[0] != '\0' && std::strchr(gSettings.hostExecPath, ' ') != nullptr) {
    planStep("note", "the host folder is taken as given; kou3upd takes its short (8.3) form, which has no blank");
  }
  gRecorder.temp = options.temp != nullptr ? options.temp : kUnknownTemp;
  if (options.temp == nullptr) planStep("note", "no --temp: the temporary folder is shown as %TEMP%");
}

uint32_t planWorkFolderBase(std::string& base, bool& missing, bool& known) {
  base = gRecorder.temp;
  missing = false;
  known = false;
  return 0;
}

uint32_t planWorkFolderRefusal(const std::string&, bool& known) {
  known = false;
  return 0;
}

// GetTempPathW's folder, as the option gives it.
uint32_t filGetTempFolder(std::string& folder) {
  folder = gRecorder.temp;
  return 0;
}
