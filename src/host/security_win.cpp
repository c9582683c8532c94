#include "host/security.h"

#include "host/wide.h"

// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace {

uint32_t lastError() {
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_ACCESS_DENIED;
}

DWORD ownerOf(HANDLE object, PSID* owner, PSECURITY_DESCRIPTOR* descriptor) {
  return GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr,
                         descriptor);
}

DWORD protectDacl(HANDLE object, PSECURITY_DESCRIPTOR wanted) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted)) return lastError();
  return SetSecurityInfo(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                         nullptr, nullptr, dacl, nullptr);
}

// The user this process runs as, and the descriptor that gives a private folder to that user.
struct Private {
  alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  LocalMemory descriptor;

  PSID userSid() const { return reinterpret_cast<const TOKEN_USER*>(user)->User.Sid; }
};

uint32_t privateFor(Private& wanted) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return lastError();
  const KernelHandle ownedToken(token);
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, wanted.user, sizeof wanted.user, &size)) return lastError();
  LPWSTR userText = nullptr;
  if (!ConvertSidToStringSidW(wanted.userSid(), &userText)) return lastError();
  const LocalMemory ownedText(userText);
  // P: nothing inherited; OICI: handed down to files and folders made inside; FA: full control.
  const WideString sddl = L"D:P(A;OICI;FA;;;" + WideString(userText) + L")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return lastError();
  }
  wanted.descriptor.reset(descriptor);
  return 0;
}

}  // namespace

OwnerQuery gOwnerQuery = ownerOf;
DaclChange gDaclChange = protectDacl;

uint32_t sysCreatePrivateFolder(const char* path) {
  Private wanted;
  if (const uint32_t error = privateFor(wanted)) return error;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, wanted.descriptor.get(), FALSE};
  if (CreateDirectoryA(path, &attributes)) return 0;
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_CANNOT_MAKE;
}

uint32_t sysMakePrivate(HANDLE folder) {
  Private wanted;
  if (const uint32_t error = privateFor(wanted)) return error;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR ownerDescriptor = nullptr;
  const DWORD status = gOwnerQuery(folder, &owner, &ownerDescriptor);
  const LocalMemory ownedDescriptor(ownerDescriptor);
  if (status != ERROR_SUCCESS) return status;
  if (!EqualSid(owner, wanted.userSid()) && !IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) {
    return ERROR_ACCESS_DENIED;
  }
  return gDaclChange(folder, wanted.descriptor.get());
}
