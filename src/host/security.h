// Who may touch what kou3upd makes: folders and files no other user may change, the named objects
// of the turn, and the shared temporary folder it may have to make.
#pragma once
#include <cstdint>

#include "host/win.h"

// Private: full control for the current user, Administrators and SYSTEM alone, handed down to
// everything made inside, nothing inherited from the folder above.
// Makes the folder path with that protection. 0, or the Windows error code of the step that failed.
uint32_t sysCreatePrivateFolder(const char* path);

// Gives the open folder that protection when its owner is the current user or Administrators
// (an elevated run of the same user owns what it makes through them). 5 (ERROR_ACCESS_DENIED)
// for any other owner, which may have changed the folder already; else 0 or the error code. A
// folder just made so (made) has its owner checked alone.
uint32_t sysMakePrivate(HANDLE folder, bool made = false);

// The private descriptor for a file, in descriptor. 0 or the error code.
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

// Read the owner of an open file (the descriptor holds it; LocalFree releases it) and replace
// its DACL by the wanted descriptor's, protected. Tests point them elsewhere: Wine reports every
// file as the current user's, and keeps no DACL set on a file that exists.
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

// Whether the volume of path keeps ACLs (FILE_PERSISTENT_ACLS). FAT and exFAT do not: they answer
// every file with the owner Everyone and no DACL, and have nothing to protect. Tests point it
// elsewhere: every drive of Wine keeps them.
using VolumeAclQuery = bool (*)(const char* path);
extern VolumeAclQuery gVolumeKeepsAcls;
