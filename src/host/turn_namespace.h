// What the turn asks of Windows for its private namespace, apart from turn.h, which the jobs
// include on every system.
#pragma once
#include "host/win.h"

// The private namespace calls, looked up at run time: Windows 7 has them all (the boundary's
// integrity label is 7's); where one is missing, the turn keeps the session's own names. Tests
// point them elsewhere: Wine has none but the first.
struct NamespaceCalls {
  HANDLE(WINAPI* createBoundary)(LPCWSTR name, ULONG flags);
  BOOL(WINAPI* addSid)(HANDLE* boundary, PSID sid);
  BOOL(WINAPI* addLabel)(HANDLE* boundary, PSID label);
  VOID(WINAPI* deleteBoundary)(HANDLE boundary);
  HANDLE(WINAPI* create)(LPSECURITY_ATTRIBUTES attributes, LPVOID boundary, LPCWSTR prefix);
  HANDLE(WINAPI* open)(LPVOID boundary, LPCWSTR prefix);
  BOOLEAN(WINAPI* close)(HANDLE space, ULONG flags);
};
extern NamespaceCalls gNamespaceCalls;
