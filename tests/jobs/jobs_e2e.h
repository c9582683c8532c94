// The end-to-end fixture for the jobs that use a work folder: the child's TEMP points at a folder
// of the test's own, so the work folder is <temp>\kou3_ins and nothing touches the user's.
#pragma once
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "e2e.h"

class JobsE2E : public E2E {
 protected:
  std::string work() const { return joinPath(temp, "kou3_ins"); }
  EnvChanges tempEnv() const { return {{"TEMP", temp}}; }
  std::string installer() const { return joinPath(hostShort(), "setup.exe"); }

  // Besides its packages the drive holds three plain files, one named outside the ANSI code page,
  // and what the copy must leave out: a sub-folder, and a temporary file of a replacement.
  void fillDrive() {
    writeText(joinPath(drive, "a.txt"), "first");
    writeText(joinPath(drive, "b.dat"), "second");
    writeText(joinPath(drive, "c.dat"), "third");
    MoveFileW(widen(joinPath(drive, "c.dat")).c_str(), (widen(drive) + L"\\данные.dat").c_str());
    writeText(joinPath(drive, "b.dat.kou3upd-4242.tmp"), "not copied");
    writeText(joinPath(box.folder("drive\\sub"), "c.txt"), "not copied");
  }

  // A package whose image is no Windows program, so starting it fails.
  void packNonProgram(const std::string& packageFile) {
    const std::string text = "plain text, no program";
    writeBytes(joinPath(drive, packageFile), vpuPack(Bytes(text.begin(), text.end())));
  }

  // A backup of a fixed package beside a package that changed since; a restore puts it back.
  void leaveBackup() {
    writeText(joinPath(drive, "prod-ko_u3.vpu"), "changed since");
    writeText(joinPath(drive, "prod-ko_u3.bak"), "as backed up");
  }
  void expectBackupRestored() const {
    EXPECT_EQ(readText(joinPath(drive, "prod-ko_u3.vpu")), "as backed up");
    EXPECT_FALSE(fileExists(joinPath(drive, "prod-ko_u3.bak")));
  }

  struct BlockedTemp {
    const char* label;
    EnvChanges env;
    uint32_t error;  // what the failed work folder gives
  };
  // TEMP values under which no work folder can be made or used.
  std::vector<BlockedTemp> blockedTemps() {
    const std::string file = joinPath(box.folder("blocked"), "temp-is-a-file");
    writeText(file, "a file");
    writeText(joinPath(box.folder("blocked\\file-at-work"), "kou3_ins"), "a file");
    std::vector<BlockedTemp> temps = {
        // A regular file names no folder to create in, so the creation fails, while the file's
        // attributes read fine and keep it from being replaced by the C:\TEMP fall-back.
        {"TEMP is a file", {{"TEMP", file}}, kPathNotFound},
        // The value reads, but its expansion does not fit a Windows path.
        {"TEMP expands too long", {{"TEMP", "%KOU3_TEST_LONG%"}, {"KOU3_TEST_LONG", "C:\\" + std::string(300, 'L')}},
         kFilenameExcedRange},
        {"kou3_ins is a file", {{"TEMP", joinPath(box.root(), "blocked\\file-at-work")}}, kDirectory},
        // Another program holds it open without letting it be deleted: it cannot be made anew.
        {"kou3_ins is held", {{"TEMP", joinPath(box.root(), "blocked\\held")}}, ERROR_SHARING_VIOLATION},
    };
    heldWork = FileHandle(CreateFileA(box.folder("blocked\\held\\kou3_ins").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!linkedFolders().empty()) {
      temps.push_back({"kou3_ins is a link to a folder with files", {{"TEMP", joinPath(linkedFolders(), "temp")}},
                       kCantAccessFile});
      // Where root ran linked_folder.sh, another account's kou3_ins, which it checks is left as it was.
      const std::string foreign = joinPath(linkedFolders(), "foreign");
      if (folderExists(foreign)) temps.push_back({"kou3_ins is another user's", {{"TEMP", foreign}}, 5});
    }
    return temps;
  }
  FileHandle heldWork;
  // Files in the folder that kou3_ins links to, where linked_folder.sh made the link; each run
  // against the link must leave them as they are.
  void fillLinkTarget() const {
    if (linkedFolders().empty()) return;
    writeText(joinPath(linkedFolders(), "target\\a.txt"), "kept");
    writeText(joinPath(linkedFolders(), "target\\setup_ko_u3-1.vpu"), "kept too");
  }
  void expectLinkTargetKept() const {
    if (linkedFolders().empty()) return;
    const std::string target = joinPath(linkedFolders(), "target");
    EXPECT_EQ(folderListing(target), (std::vector<std::string>{"a.txt", "setup_ko_u3-1.vpu"}));
    EXPECT_EQ(readText(joinPath(target, "a.txt")) + "|" + readText(joinPath(target, "setup_ko_u3-1.vpu")),
              "kept|kept too");
  }
  // Forgets the journal and the log of the runs so far.
  void forgetRuns() const {
    writeText(joinPath(control, "journal.txt"), "");
    writeText(joinPath(program, "kou3_upd.log"), "");
  }
  static constexpr uint32_t kPathNotFound = 3;
  static constexpr uint32_t kBadExeFormat = 193;
  static constexpr uint32_t kFilenameExcedRange = 206;
  static constexpr uint32_t kDirectory = 267;         // ERROR_DIRECTORY
  static constexpr uint32_t kCantAccessFile = 1920;   // ERROR_CANT_ACCESS_FILE

  std::string temp = box.folder("temp");
};

inline std::string hexCode(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(code));
  return text;
}

// An exit code as the log prints it: signed decimal.
inline std::string logged(uint32_t code) { return std::to_string(static_cast<int32_t>(code)); }

// The log's bytes for these lines: each ends in CR LF.
inline std::string logLines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

using Lines = std::vector<std::string>;
