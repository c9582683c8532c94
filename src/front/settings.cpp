// Portable: the record itself; filling the folders from the environment is Windows code.
#include "front/settings.h"

RunSettings gSettings;

void u3ResetCommandFields(RunSettings& settings) {
  settings.jobCode = 0;
  settings.updateVps = false;
  settings.progress = false;
  settings.silent = false;
  settings.hwnd = 0;
}
