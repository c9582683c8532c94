#include "host/workdir.h"

#include <cwchar>

#include "host/ansi.h"
#include "host/files.h"
#include "host/path.h"
#include "host/security.h"
#include "host/trace.h"
#include "host/win.h"

namespace {

bool isDotEntry(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

// A junction or symbolic link (or any other reparse point): its contents belong elsewhere.
bool isReparsePoint(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// An earlier run may have left the folder with the DACL it inherited, open to others; between its
// making and this open, another user who may delete in a shared C:\TEMP may have put a folder of
// theirs in its place. Checked and changed through one handle that no link leads elsewhere and
// that keeps the folder from being renamed or deleted meanwhile (no FILE_SHARE_DELETE; listing it
// makes the handle count for sharing). Setting a DACL that files inside inherit needs the folder
// listed and read as well.
uint32_t openPrivate(const char* path, bool made, FileHandle& held) {
  // Setting the label of one made before needs WRITE_OWNER too.
  FileHandle folder(CreateFileA(path, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL |
                                          WRITE_DAC | SYNCHRONIZE | (made ? 0 : WRITE_OWNER),
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!folder || !GetFileInformationByHandle(folder.get(), &information)) {
    return sysNonZero(GetLastError(), ERROR_ACCESS_DENIED);
  }
  if (const uint32_t refused = filNotAFolderOfItsOwn(information.dwFileAttributes)) return refused;
  if (!gVolumeKeepsAcls(path)) {
    sysTrace("work folder %s: its volume keeps no ACLs (FAT): owner and DACL not checked", path);
  } else if (const uint32_t error = sysMakePrivate(folder.get(), made)) {
    return error;
  }
  held = std::move(folder);
  return 0;
}

// Called right after the last FindNextFileW: result when the listing ran to its end, otherwise
// the error that ended it.
uint32_t afterListing(uint32_t result) {
  const DWORD error = GetLastError();
  return error == ERROR_NO_MORE_FILES ? result : sysNonZero(error, ERROR_READ_FAULT);
}

// The folders are listed, filled and emptied in UTF-16, so that a file named with letters outside
// the ANSI code page is copied and deleted under its own name; the callers' ANSI paths convert
// exactly.
WideString folderPart(const WideString& path) { return path.substr(0, path.rfind(L'\\') + 1); }

// force: read-only files go too (kou3upd's own copies keep their source's mark). checkOwner: a
// matched folder of another user is refused with 5 before anything in it is touched.
uint32_t deletePath(const WideString& folderPattern, const wchar_t* contentPattern, bool recurse, bool force = false,
                    bool checkOwner = false);

uint32_t deleteContents(const WideString& folder, const wchar_t* contentPattern, bool recurse, bool force = false) {
  WideString pattern;
  filJoinPath(pattern, folder.c_str(), contentPattern);
  WIN32_FIND_DATAW entry;
  const FindHandle search(FindFirstFileW(pattern.c_str(), &entry));
  if (!search) return 0;
  const WideString entryFolder = folderPart(pattern);
  uint32_t result = 0;
  do {
    if (isDotEntry(entry.cFileName)) continue;
    const WideString path = entryFolder + entry.cFileName;
    const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A linked folder is neither entered nor deleted: that would reach the files at its target.
    // It stays, and so does the folder holding it.
    if (isFolder && isReparsePoint(entry.dwFileAttributes)) continue;
    if (recurse && isFolder) {
      const uint32_t nested = deletePath(path, contentPattern, true, force);
      if (nested != 0) result = nested;
      continue;
    }
    if (force) filClearReadOnly(path.c_str());
    // Also what leaves a sub-folder in place when not recursing.
    if (const uint32_t error = filDeleteFile(path.c_str())) result = error;
  } while (FindNextFileW(search.get(), &entry));
  return result;
}

uint32_t deletePath(const WideString& folderPattern, const wchar_t* contentPattern, bool recurse, bool force,
                    bool checkOwner) {
  WIN32_FIND_DATAW match;
  const FindHandle folders(FindFirstFileW(folderPattern.c_str(), &match));
  if (!folders) return 0;
  const WideString parent = folderPart(folderPattern);
  uint32_t result = 0;
  do {
    // A wildcard pattern also matches "." and "..", which would name the parent folders.
    if (!(match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || isDotEntry(match.cFileName)) continue;
    // A linked folder is left as it is: emptying it would delete the files at its target. Asked of
    // the search as well as of the handle below: not every link shows as one through a handle
    // (Wine follows a Unix symbolic link even there).
    if (isReparsePoint(match.dwFileAttributes)) {
      result = ERROR_CANT_ACCESS_FILE;
      continue;
    }
    const WideString folder = parent + match.cFileName;
    {
      // Held while it is emptied, shared for reading alone: nobody may make it a link, or put
      // another folder in its place, between the check and the deletions inside it. A folder
      // that someone holds open for writing is left as it is. Its owner is read through the same
      // handle: another user's run may be using it at this very moment.
      const FileHandle held(CreateFileW(folder.c_str(),
                                        FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | (checkOwner ? READ_CONTROL : 0),
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      BY_HANDLE_FILE_INFORMATION information;
      if (!held || !gHeldInformation(held.get(), &information)) {
        result = sysNonZero(GetLastError(), ERROR_ACCESS_DENIED);
        continue;
      }
      uint32_t refused = filNotAFolderOfItsOwn(information.dwFileAttributes);
      if (refused == 0 && checkOwner) refused = sysCheckOwner(held.get());
      if (refused != 0) {
        result = refused;
        continue;
      }
      const uint32_t emptied = deleteContents(folder, contentPattern, recurse, force);
      if (emptied != 0) result = emptied;
    }
    if (!RemoveDirectoryW(folder.c_str())) {
      const DWORD error = GetLastError();
      if (error != 0) result = error;
    }
  } while (FindNextFileW(folders.get(), &match));
  return result;
}

uint32_t createTempPath(std::string& result, const char* name, bool create, bool anew, FolderHold* hold) {
  std::string base;
  bool missing = false;
  const uint32_t baseError = filWorkFolderBase(base, missing);
  if (baseError != 0) {
    result.clear();
    return baseError;
  }
  // Its failure shows as the failure to make the work folder below.
  if (missing) sysCreateSharedFolder(base.c_str());

  std::string workPath;
  filJoinPath(workPath, base.c_str(), name);
  if (!create) {
    result = workPath;
    return 0;
  }
  const DWORD attributes = GetFileAttributesA(workPath.c_str());
  bool there = attributes != INVALID_FILE_ATTRIBUTES || GetLastError() == ERROR_ACCESS_DENIED;
  uint32_t error = filNotAFolderOfItsOwn(attributes);
  if (error == 0 && there && anew) {
    // Where the volume keeps no owners, nothing tells another user's folder from this user's.
    error = deletePath(sysWide(workPath.c_str()), L"*.*", true, true, gVolumeKeepsAcls(workPath.c_str()));
    sysTrace("work folder %s: what was there removed, error %u%s", workPath.c_str(), error,
             error == ERROR_ACCESS_DENIED ? " (another user's, or closed to this one: left as it is)" : "");
    there = false;
  }
  if (error == 0 && !there) error = sysCreatePrivateFolder(workPath.c_str());
  // A folder just made is checked through its handle too: another may have taken its place.
  FileHandle held;
  if (error == 0) error = openPrivate(workPath.c_str(), !there, held);
  sysTrace("work folder %s: error %u", workPath.c_str(), error);
  if (error != 0) {
    result.clear();
    return error;
  }
  result = workPath;
  if (hold != nullptr) hold->hold(std::move(held));
  return 0;
}

}  // namespace

HeldInformationQuery gHeldInformation = GetFileInformationByHandle;

uint32_t filCreateTempPath(std::string& result, const char* name, bool create, FolderHold* hold) {
  return createTempPath(result, name, create, false, hold);
}

uint32_t filCreateFreshTempPath(std::string& result, const char* name, FolderHold* hold) {
  // Handles that others opened on a folder left here, while it was open to them, would outlive
  // any change of its DACL and could add files after the copy: it goes, and another is made.
  return createTempPath(result, name, true, true, hold);
}

uint32_t filCopyPath(const char* source, const char* destination) {
  const WideString from = sysWide(source);
  const WideString to = sysWide(destination);
  WideString pattern;
  filJoinPath(pattern, from.c_str(), L"*.*");
  WIN32_FIND_DATAW entry;
  const FindHandle search(FindFirstFileW(pattern.c_str(), &entry));
  if (!search) {
    // Nothing to copy is no failure; a source that cannot be listed (gone, or on a drive pulled
    // out) is.
    const DWORD error = GetLastError();
    sysTrace("copy from %s: nothing listed, error %lu", source, error);
    return error == ERROR_FILE_NOT_FOUND ? 0 : sysNonZero(error, ERROR_PATH_NOT_FOUND);
  }
  WideString fromFile;
  WideString toFile;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || isDotEntry(entry.cFileName)) continue;
    // A temporary file of a replacement on the drive is none of the drive's content.
    if (filIsTemporaryName(entry.cFileName)) continue;
    filJoinPath(fromFile, from.c_str(), entry.cFileName);
    filJoinPath(toFile, to.c_str(), entry.cFileName);
    // An incomplete copy must not reach the installer, so the first file that cannot be copied
    // ends the copy; the caller skips the installer and empties the folder anyway.
    const uint32_t error = filCopyFile(fromFile.c_str(), toFile.c_str());
    sysTrace("copy %s: error %u", sysTraceText(fromFile.c_str()).c_str(), error);
    if (error != 0) return error;
  } while (FindNextFileW(search.get(), &entry));
  // The listing may also end early, as when the drive is pulled.
  const uint32_t listed = afterListing(0);
  if (listed != 0) sysTrace("copy from %s: listing ended early, error %u", source, listed);
  return listed;
}

uint32_t filDeleteHeldFolder(const char* folder, FolderHold& hold) {
  const WideString wide = sysWide(folder);
  uint32_t result = deleteContents(wide, L"*.*", false);
  hold.release();
  // Let go, it may have become a link; removing one removes the link alone.
  if (!RemoveDirectoryW(wide.c_str())) result = sysNonZero(GetLastError(), ERROR_DIR_NOT_EMPTY);
  sysTrace("delete %s: error %u", folder, result);
  return result;
}

uint32_t filDeletePath(const char* folderPattern, const char* contentPattern, bool recurse) {
  const uint32_t result = deletePath(sysWide(folderPattern), sysWide(contentPattern).c_str(), recurse);
  sysTrace("delete %s: error %u", folderPattern, result);
  return result;
}
