// Who may touch what kou3upd makes: folders and files no other user may change, the named objects
// of the turn, and the shared temporary folder it may have to make.
#pragma once
#include <cstdint>

#include "host/win.h"

// The user this process runs as.
struct User {
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  PSID sid() const { return reinterpret_cast<const TOKEN_USER*>(buffer)->User.Sid; }
};
// Reads it from this process's token. 0 or the error code.
uint32_t sysCurrentUser(User& user);

// Private: full control for the current user, Administrators and SYSTEM alone, handed down to
// everything made inside, nothing inherited from the folder above; from Vista on, a Medium label,
// handed down too, that keeps lower levels from reading as well as writing (and so from holding
// it open).
// Makes the folder path with that protection. 0, or the Windows error code of the step that failed.
uint32_t sysCreatePrivateFolder(const char* path);

// 0 when the open object's owner is the current user, Administrators (an elevated run of the same
// user owns what it makes through them) or SYSTEM; 5 (ERROR_ACCESS_DENIED) for any other owner;
// else the error code.
uint32_t sysCheckOwner(HANDLE object);

// Gives the open folder that protection when sysCheckOwner lets it pass (another owner may have
// changed the folder already); the handle needs WRITE_DAC, and WRITE_OWNER for the label. 0, 5 or
// the error code. A folder just made so (made) has its owner checked alone.
uint32_t sysMakePrivate(HANDLE folder, bool made = false);

// The private descriptor for a file, label included, in descriptor. 0 or the error code.
uint32_t sysPrivateDescriptor(LocalMemory& descriptor);

// 0 when the open file is private: owned by the current user, and open to nobody but that user,
// Administrators and SYSTEM. 1307 (ERROR_INVALID_OWNER) for another owner, 5 (ERROR_ACCESS_DENIED)
// for a DACL that lets anyone else in, or the error code.
uint32_t sysCheckPrivate(HANDLE file);

// For the turn's mutex and event: full access for the current user, whatever the integrity level
// of the run that makes them, and for Administrators and SYSTEM; from Vista on, a Medium label
// that keeps lower levels from opening them at all. 0 or the error code.
uint32_t sysTurnDescriptor(LocalMemory& descriptor);

// Makes a temporary folder that several users share (C:\TEMP when TEMP names nothing usable):
// each may make files and folders in it, which are its own, but none may rename or delete what
// another made. 0 or the error code.
uint32_t sysCreateSharedFolder(const char* path);

// CreateDirectoryA. Tests point it elsewhere to see the descriptor: Wine keeps no label on a file.
using FolderCreate = BOOL(WINAPI*)(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);
extern FolderCreate gCreateFolder;

// Read the owner of an open file (the descriptor holds it; LocalFree releases it) and replace
// its DACL (and label, where it has one) by the wanted descriptor's, protected. Tests point them
// elsewhere: Wine keeps no DACL or label set on a file that exists.
using OwnerQuery = DWORD (*)(HANDLE object, PSID* owner, PSECURITY_DESCRIPTOR* descriptor);
using DaclChange = DWORD (*)(HANDLE object, PSECURITY_DESCRIPTOR wanted);
extern OwnerQuery gOwnerQuery;
extern DaclChange gDaclChange;

// The integrity level of an open object (its mandatory label's RID, SECURITY_MANDATORY_*_RID):
// Medium for one without a label, as Windows takes it, and on a Windows without labels (XP); the
// lowest where a Windows with labels cannot tell it.
// Tests point it elsewhere: Wine has no integrity levels.
using IntegrityQuery = DWORD (*)(HANDLE object);
extern IntegrityQuery gIntegrityOf;

// Whether the volume of path keeps ACLs (FILE_PERSISTENT_ACLS) that this machine checks. FAT and
// exFAT do not: they answer every file with the owner Everyone and no DACL, and have nothing to
// protect. Nor does a share (a network drive, a UNC path): the server keeps its files' owners and
// labels, and the local access check reads a file there as Medium whoever wrote it. Tests point it
// elsewhere, or point the two Windows calls it makes elsewhere: every drive of Wine keeps ACLs.
using VolumeAclQuery = bool (*)(const char* path);
extern VolumeAclQuery gVolumeKeepsAcls;
using DriveTypeQuery = UINT(WINAPI*)(LPCWSTR root);
extern DriveTypeQuery gDriveType;  // GetDriveTypeW
using VolumeInformationQuery = BOOL(WINAPI*)(LPCWSTR root, LPWSTR name, DWORD nameSize, LPDWORD serial,
                                             LPDWORD nameLength, LPDWORD flags, LPWSTR fileSystem, DWORD size);
extern VolumeInformationQuery gVolumeInformation;  // GetVolumeInformationW

// GetFileInformationByHandle on a folder held while it is emptied. Tests point it elsewhere: Wine
// follows a Unix symbolic link through a handle, so that only the search shows it as a link.
using HeldInformationQuery = BOOL(WINAPI*)(HANDLE folder, LPBY_HANDLE_FILE_INFORMATION information);
extern HeldInformationQuery gHeldInformation;
