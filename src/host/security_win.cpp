#include "host/security.h"

#include "host/ansi.h"
#include "host/wide.h"

// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace {

uint32_t lastError() { return sysNonZero(GetLastError(), ERROR_ACCESS_DENIED); }

DWORD ownerOf(HANDLE object, PSID* owner, PSECURITY_DESCRIPTOR* descriptor) {
  return GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr,
                         descriptor);
}

// The label goes with the DACL where the wanted descriptor has one (not on XP).
DWORD protectDacl(HANDLE object, PSECURITY_DESCRIPTOR wanted) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  PACL sacl = nullptr;
  if (!GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted) ||
      !GetSecurityDescriptorSacl(wanted, &present, &sacl, &defaulted)) {
    return lastError();
  }
  return SetSecurityInfo(object, SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION |
                             (sacl != nullptr ? LABEL_SECURITY_INFORMATION : 0),
                         nullptr, nullptr, dacl, sacl);
}

// The descriptor of sddl, in which every "%U" stands for the current user's SID.
uint32_t descriptorFor(const User& user, const wchar_t* sddl, LocalMemory& descriptor) {
  LPWSTR userText = nullptr;
  if (!ConvertSidToStringSidW(user.sid(), &userText)) return lastError();
  const LocalMemory ownedText(userText);
  WideString text = sddl;
  for (std::size_t at = text.find(L"%U"); at != WideString::npos; at = text.find(L"%U", at)) {
    text.replace(at, 2, userText);
  }
  PSECURITY_DESCRIPTOR made = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &made, nullptr)) {
    return lastError();
  }
  descriptor.reset(made);
  return 0;
}

// With a Medium label that keeps lower levels from reading as well as writing (by default they
// may read, and so hold the object open). XP's SDDL knows no labels, and XP has no levels.
uint32_t labelledDescriptor(const User& user, const wchar_t* sddl, const wchar_t* label, LocalMemory& descriptor) {
  if (descriptorFor(user, (WideString(sddl) + label).c_str(), descriptor) == 0) return 0;
  return descriptorFor(user, sddl, descriptor);
}

// P: nothing inherited; OICI: handed down to files and folders made inside; FA: full control.
constexpr wchar_t kPrivate[] = L"D:P(A;OICI;FA;;;%U)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
constexpr wchar_t kPrivateLabel[] = L"S:(ML;OICI;NRNW;;;ME)";

uint32_t createFolder(const char* path, const wchar_t* sddl, const wchar_t* label) {
  User user;
  LocalMemory descriptor;
  if (const uint32_t error = sysCurrentUser(user)) return error;
  if (const uint32_t error = labelledDescriptor(user, sddl, label, descriptor)) return error;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (gCreateFolder(path, &attributes)) return 0;
  return sysNonZero(GetLastError(), ERROR_CANNOT_MAKE);
}

bool isOwnerAllowed(PSID owner, const User& user) {
  return EqualSid(owner, user.sid()) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
         IsWellKnownSid(owner, WinLocalSystemSid);
}

// Windows takes an object without a label for Medium. Only a Windows without labels (before
// Vista, NT 6.0) refuses the question on a handle that may read the descriptor; elsewhere a label
// that cannot be read is taken for the lowest, so that a failure lets nothing through.
DWORD integrityOf(HANDLE object) {
  PACL sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetSecurityInfo(object, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                       &sacl, &descriptor);
  const LocalMemory ownedDescriptor(descriptor);
  if (status != ERROR_SUCCESS) {
    return LOBYTE(LOWORD(GetVersion())) >= 6 ? SECURITY_MANDATORY_UNTRUSTED_RID : SECURITY_MANDATORY_MEDIUM_RID;
  }
  if (sacl == nullptr) return SECURITY_MANDATORY_MEDIUM_RID;
  for (DWORD index = 0; index < sacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(sacl, index, &ace) || static_cast<const ACE_HEADER*>(ace)->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
      continue;
    }
    const PSID level = &static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace)->SidStart;
    return *GetSidSubAuthority(level, *GetSidSubAuthorityCount(level) - 1u);
  }
  return SECURITY_MANDATORY_MEDIUM_RID;
}

// A volume that cannot be asked is taken to keep ACLs, so that what it holds is checked. A share
// counts as one without: its files' owners and labels are the server's, and the local access check
// reads a file there as Medium whoever wrote it.
bool keepsAcls(const char* path) {
  const WideString wide = sysWide(path);
  // \\server\share and \\?\UNC\server\share name shares; \\?\C:\ and \\.\ this machine's volumes.
  if ((wide.compare(0, 2, L"\\\\") == 0 && wide.find_first_of(L"?.", 2) != 2) ||
      wide.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    return false;
  }
  wchar_t root[MAX_PATH];
  DWORD flags = 0;
  if (!GetVolumePathNameW(wide.c_str(), root, MAX_PATH)) return true;
  if (gDriveType(root) == DRIVE_REMOTE) return false;
  return !gVolumeInformation(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
         (flags & FILE_PERSISTENT_ACLS) != 0;
}

}  // namespace

uint32_t sysCurrentUser(User& user) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return lastError();
  const KernelHandle ownedToken(token);
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, user.buffer, sizeof user.buffer, &size)) return lastError();
  return 0;
}

FolderCreate gCreateFolder = CreateDirectoryA;
DriveTypeQuery gDriveType = GetDriveTypeW;
VolumeInformationQuery gVolumeInformation = GetVolumeInformationW;
OwnerQuery gOwnerQuery = ownerOf;
DaclChange gDaclChange = protectDacl;
IntegrityQuery gIntegrityOf = integrityOf;
VolumeAclQuery gVolumeKeepsAcls = keepsAcls;

uint32_t sysCreatePrivateFolder(const char* path) { return createFolder(path, kPrivate, kPrivateLabel); }

uint32_t sysCreateSharedFolder(const char* path) {
  // As the root of a system drive: users may list it and make files and folders (0x1200af: list,
  // add file, add folder, read attributes and extended attributes, traverse, read control,
  // synchronize) but hold no delete-child right; what each makes gets full control for its
  // maker (CREATOR OWNER), Administrators and SYSTEM.
  return createFolder(path, L"D:P(A;;0x1200af;;;AU)(A;OICIIO;FA;;;CO)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", L"");
}

uint32_t sysPrivateDescriptor(LocalMemory& descriptor) {
  User user;
  if (const uint32_t error = sysCurrentUser(user)) return error;
  return labelledDescriptor(user, L"D:P(A;;FA;;;%U)(A;;FA;;;BA)(A;;FA;;;SY)", L"S:(ML;;NRNW;;;ME)", descriptor);
}

uint32_t sysTurnDescriptor(LocalMemory& descriptor) {
  User user;
  if (const uint32_t error = sysCurrentUser(user)) return error;
  // A Medium label that refuses lower levels reading (MUTEX_MODIFY_STATE is read), writing and
  // executing (SYNCHRONIZE is): without it a Low run could hold the turn or fake a holder. XP's
  // SDDL knows no labels, and XP has no levels to keep out.
  constexpr wchar_t kTurn[] = L"D:(A;;GA;;;%U)(A;;GA;;;BA)(A;;GA;;;SY)";
  if (descriptorFor(user, (WideString(kTurn) + L"S:(ML;;NWNRNX;;;ME)").c_str(), descriptor) == 0) return 0;
  return descriptorFor(user, kTurn, descriptor);
}

uint32_t sysCheckOwner(HANDLE object) {
  User user;
  if (const uint32_t error = sysCurrentUser(user)) return error;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR ownerDescriptor = nullptr;
  const DWORD status = gOwnerQuery(object, &owner, &ownerDescriptor);
  const LocalMemory ownedDescriptor(ownerDescriptor);
  if (status != ERROR_SUCCESS) return status;
  return isOwnerAllowed(owner, user) ? 0 : ERROR_ACCESS_DENIED;
}

uint32_t sysMakePrivate(HANDLE folder, bool made) {
  if (const uint32_t error = sysCheckOwner(folder)) return error;
  if (made) return 0;
  User user;
  LocalMemory wanted;
  if (const uint32_t error = sysCurrentUser(user)) return error;
  if (const uint32_t error = labelledDescriptor(user, kPrivate, kPrivateLabel, wanted)) return error;
  return gDaclChange(folder, wanted.get());
}

uint32_t sysCheckPrivate(HANDLE file) {
  User user;
  if (const uint32_t error = sysCurrentUser(user)) return error;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       &owner, nullptr, &dacl, nullptr, &descriptor);
  const LocalMemory ownedDescriptor(descriptor);
  if (status != ERROR_SUCCESS) return status;
  if (owner == nullptr || !EqualSid(owner, user.sid())) return ERROR_INVALID_OWNER;
  // No DACL at all lets everyone in.
  if (dacl == nullptr) return ERROR_ACCESS_DENIED;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(dacl, index, &ace)) return lastError();
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    // Any other kind of grant (object, callback) is more than a private file carries.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return ERROR_ACCESS_DENIED;
    const PSID trustee = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
    if (!EqualSid(trustee, user.sid()) &&
        !IsWellKnownSid(trustee, WinBuiltinAdministratorsSid) && !IsWellKnownSid(trustee, WinLocalSystemSid)) {
      return ERROR_ACCESS_DENIED;
    }
  }
  return 0;
}
