// What the jobs hand to the suite's installer, launcher and application, in one place, so that
// the jobs and their tests read the same pieces.
#pragma once
#include <cstdint>
#include <string>

#include "front/settings.h"

namespace suite {
// Programs in the host folder and the packages they come from.
constexpr char kInstaller[] = "setup.exe";
constexpr char kInstallerPackage[] = "setup_ko_u3";
constexpr char kLauncher[] = "KoU3Launcher.exe";
constexpr char kLauncherPackage[] = "kou3lnch";
constexpr char kApplication[] = "KernoU3.exe";

// Installer switches.
constexpr char kCheckUpdate[] = " /checkupdate";
constexpr char kDownloadPkgs[] = " /downloadpkgs";
constexpr char kRefresh[] = " /refresh";
constexpr char kVerifyPkgs[] = " /verifypkgs";
constexpr char kSaveLogOpen[] = " /savelog \"";
constexpr char kPkgsLog[] = "\\u3upd_pkgs.log\"";
constexpr char kFilesLog[] = "\\u3upd_files.log\"";
constexpr char kAppStartLog[] = "\\u3upd_appStart.log\"";
constexpr char kForceInstallStorage[] = " /forceinstall /sfx /sfxstorage \"";
constexpr char kScanStorage[] = " /sfx /sfxstorage \"";
constexpr char kScanForceInstall[] = "\" /forceinstall";
constexpr char kSetProxy[] = " /setproxy \"";
constexpr char kCloseQuote[] = "\"";
constexpr char kProxyFile[] = "zebpxycf.ini";
constexpr char kWorkFolder[] = "kou3_ins";

// Launcher and application switches.
constexpr char kHostCleanup[] = " /hostCleanup";
constexpr char kStop[] = " /stop";
constexpr char kInstall[] = " /install";

// Installer result codes the jobs act on.
constexpr uint32_t kRepeatDownload = 0x20000010;  // the installer asks for one repeat
// The user declined the prompt for administrator rights (ERROR_CANCELLED): no pass after it may
// ask again.
constexpr uint32_t kDeclined = 1223;
}  // namespace suite

// The results the installer and launcher report for a run that went well enough.
bool u3IsSetupResultOk(uint32_t result);

// The host folder joined with program, in double quotes when the joined path holds a blank
// (a volume without short names would otherwise let Windows start the wrong program).
std::string u3ProgramPath(const char* program, const RunSettings& settings = gSettings);

// Appends the installer switch suffix: " /updatevps", then " /silent /progress", " /silent" or
// " /verysilent", then " /hwnd N" when a window number was given.
void u3AppendSetupSwitches(std::string& cmdLine, const RunSettings& settings = gSettings);

// Appends " /savelog \"<host folder><logName>": the installer's own log goes beside it, the host
// folder appended as it stands, unjoined (logName starts with its backslash and ends the quote).
void u3AppendSaveLog(std::string& cmdLine, const char* logName, const RunSettings& settings = gSettings);

// What follows the first /runSetup switch word of the command-line text, as it stands (its
// leading blank included); empty when nothing follows or no such word is there.
std::string u3RunSetupTail(const char* cmdText);
