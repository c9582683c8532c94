// The temporary work folder: choosing and making it, filling it, emptying and removing it.
#pragma once
#include <cstdint>
#include <string>

#include "host/win.h"

// A folder kept from being renamed, replaced by another or by a link, or deleted, while it is
// held: by anyone, this program included. What is inside may change as usual.
class FolderHold {
 public:
  void hold(FileHandle folder) { folder_ = std::move(folder); }
  void release() { folder_.reset(); }

 private:
  FileHandle folder_;
};

// Chooses <temp folder>\<name> (TEMP, then TMP, then %SYSTEMDRIVE%\TEMP, then C:\TEMP) and, when
// create is true, makes sure it exists as a folder of its own. 0 with the path, or a Windows error
// code with an empty result; the result is never the bare temporary folder when a name is given.
// A temporary folder named outside the ANSI code page is given in its short form; one with no
// exact ANSI form counts as not set. With create, an existing link (junction, symbolic link) is
// refused with 1920 (ERROR_CANT_ACCESS_FILE) and a file with 267 (ERROR_DIRECTORY). The folder is
// private (host/security.h): made so, or made so when it exists; either way its owner is checked
// through the handle that holds it, and one of another owner is refused with 5
// (ERROR_ACCESS_DENIED). On a volume without ACLs (FAT), where there is nothing to protect, the
// owner and DACL are left alone. With create and hold, the folder is held from its check on, so
// that what was checked is what the caller uses. A temporary folder that is missing is replaced
// by C:\TEMP, made open to every user for folders of their own (host/security.h).
uint32_t filCreateTempPath(std::string& result, const char* name, bool create, FolderHold* hold = nullptr);

// filCreateTempPath with create, but what is there under the name goes first, sub-folders and
// read-only files included, so that the folder is always made by this run. 0 with the path, or
// the Windows error code of the removal (145 when a link inside stays; 32 or 5 when another
// program holds the folder) or of the steps above. One of another owner (on a volume that keeps
// ACLs) is refused with 5 before anything in it is touched.
uint32_t filCreateFreshTempPath(std::string& result, const char* name, FolderHold* hold);

// The folder the work folder goes into: TEMP, then TMP, then %SYSTEMDRIVE%\TEMP, then C:\TEMP,
// each expanded and in ANSI as filCreateTempPath takes it; C:\TEMP also when the one chosen is
// not there (missing is then true, and filCreateTempPath makes C:\TEMP). 0 with the folder, or
// the error code of an expansion that failed or does not fit, with an empty folder.
uint32_t filWorkFolderBase(std::string& folder, bool& missing);

// What an existing path with these attributes is refused with as a folder of one's own to fill,
// hand to the installer and empty: 1920 (ERROR_CANT_ACCESS_FILE) for a link, whose target the
// callers would fill and empty (in a shared C:\TEMP, a folder of another user's choosing), 267
// (ERROR_DIRECTORY) for a file; 0 for a folder, and for attributes that cannot be read (access
// denied lets it pass, as something that is there, to the check of its owner).
uint32_t filNotAFolderOfItsOwn(uint32_t attributes);
// The same for what stands at path now.
uint32_t filWorkFolderRefusal(const char* path);

// The user's temporary folder as GetTempPathW gives it (normally with a trailing backslash), in
// its short form where its ANSI form is not exact. 0, or the call's error code, or 206 when the
// folder does not fit 260 bytes, or 1113 (ERROR_NO_UNICODE_TRANSLATION) when it has no exact ANSI
// form; folder is then empty.
uint32_t filGetTempFolder(std::string& folder);

// Copies every plain file directly inside source into destination (one level, overwriting).
// 0, or the Windows error code of the first copy that failed (the copy stops there) or of a
// listing of source that failed or ended early; a source holding no file at all gives 0.
uint32_t filCopyPath(const char* source, const char* destination);

// Deletes the files directly inside the held folder (read-only ones stay), lets it go and
// removes it. 0, or the last failure's error code (145 when something stays inside).
uint32_t filDeleteHeldFolder(const char* folder, FolderHold& hold);

// Empties the folders matching folderPattern of the entries matching contentPattern (descending
// into sub-folders when recurse is true) and removes them. 0, or the last failure's error code.
// A linked folder, matched or met inside, is neither entered nor removed; a matched one gives
// 1920 (ERROR_CANT_ACCESS_FILE).
uint32_t filDeletePath(const char* folderPattern, const char* contentPattern, bool recurse);
