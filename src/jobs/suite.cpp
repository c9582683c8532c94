// Portable: no platform calls here.
#include "jobs/suite.h"

#include "front/cmdline.h"
#include "host/path.h"

bool u3IsSetupResultOk(uint32_t result) {
  switch (result) {
    case 0:
    case 145:
    case 0x20000000:
    case 0x20000001:
    case 0x20000010:
    case 0x20000012:
      return true;
    default:
      return false;
  }
}

std::string u3ProgramPath(const char* program, const RunSettings& settings) {
  std::string path;
  filJoinPath(path, settings.hostExecPath, program);
  if (path.find(' ') != std::string::npos) path = '"' + path + '"';
  return path;
}

void u3AppendSetupSwitches(std::string& cmdLine, const RunSettings& settings) {
  if (settings.updateVps) cmdLine += " /updatevps";
  if (settings.progress) {
    cmdLine += " /silent /progress";
  } else if (settings.silent) {
    cmdLine += " /silent";
  } else {
    cmdLine += " /verysilent";
  }
  if (settings.hwnd != 0) {
    cmdLine += " /hwnd ";
    cmdLine += std::to_string(settings.hwnd);
  }
}

void u3AppendSaveLog(std::string& cmdLine, const char* logName, const RunSettings& settings) {
  cmdLine += suite::kSaveLogOpen;
  cmdLine += settings.hostExecPath;
  cmdLine += logName;
}

std::string u3RunSetupTail(const char* cmdText) {
  std::string word;
  const char* next = cmdText;
  while ((next = cmdNextWord(next, word)) != nullptr) {
    if (cmdIsSwitch(word, "/runSetup")) return next;
    // The word after /hwnd is its number, never a switch.
    if (cmdIsSwitch(word, "/hwnd")) {
      const char* afterNumber = cmdNextWord(next, word);
      if (afterNumber == nullptr) break;
      next = afterNumber;
    }
  }
  return std::string();
}
