// Folders no other user may change: full control for the current user, Administrators and
// SYSTEM alone, handed down to everything made inside, nothing inherited from the folder above.
#pragma once
#include <cstdint>

#include "host/win.h"

// Makes the folder path with that protection. 0, or the Windows error code of the step that failed.
uint32_t sysCreatePrivateFolder(const char* path);

// Gives the open folder that protection when its owner is the current user or Administrators
// (an elevated run of the same user owns what it makes through them). 5 (ERROR_ACCESS_DENIED)
// for any other owner, which may have changed the folder already; else 0 or the error code.
uint32_t sysMakePrivate(HANDLE folder);

// Read the owner of an open file (the descriptor holds it; LocalFree releases it) and replace
// its DACL by the wanted descriptor's, protected. Tests point them elsewhere: Wine reports every
// file as the current user's, and keeps no DACL set on a file that exists.
using OwnerQuery = DWORD (*)(HANDLE object, PSID* owner, PSECURITY_DESCRIPTOR* descriptor);
using DaclChange = DWORD (*)(HANDLE object, PSECURITY_DESCRIPTOR wanted);
extern OwnerQuery gOwnerQuery;
extern DaclChange gDaclChange;
