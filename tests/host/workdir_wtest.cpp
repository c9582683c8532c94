// The work folder functions read this process's own environment, so the tests set TEMP, TMP and
// SYSTEMDRIVE here and put them back afterwards.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hook.h"
#include "host/security.h"
#include "host/win.h"
#include "host/workdir.h"
#include "sandbox.h"
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace {

std::optional<std::string> environmentValue(const char* name) {
  std::vector<char> value(32768);
  SetLastError(0);
  const DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
  return std::string(value.data(), length);
}

void setEnvironment(const char* name, const std::optional<std::string>& value) {
  SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
}

// Puts the named variables back as they were (set or not) when it goes.
class SavedEnvironment {
 public:
  explicit SavedEnvironment(std::vector<const char*> names) {
    for (const char* name : names) saved_.emplace_back(name, environmentValue(name));
  }
  ~SavedEnvironment() {
    for (const auto& [name, value] : saved_) setEnvironment(name, value);
  }
  SavedEnvironment(const SavedEnvironment&) = delete;
  SavedEnvironment& operator=(const SavedEnvironment&) = delete;

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// Replaces each "<box>" with the sandbox's root and each "<long>" with 300 letters.
std::string fill(std::string text, const std::string& root) {
  for (const auto& [marker, value] : {std::pair<std::string, std::string>{"<box>", root}, {"<long>", std::string(300, 'L')}}) {
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + value.size())) {
      text.replace(at, marker.size(), value);
    }
  }
  return text;
}

std::string uniqueName() {
  return "kou3test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
}

using Names = std::vector<std::string>;

std::wstring sddl(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION part) {
  LPWSTR text = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, part, &text, nullptr);
  const LocalMemory ownedText(text);
  return text != nullptr ? text : L"(none)";
}

std::wstring sddlOf(const std::string& path, SECURITY_INFORMATION part) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, part, nullptr, nullptr, nullptr, nullptr, &descriptor);
  const LocalMemory ownedDescriptor(descriptor);
  return sddl(descriptor, part);
}

// The current user, who owns what the test makes (its "O:" taken off).
std::wstring currentUser(const Sandbox& box) { return sddlOf(box.root(), OWNER_SECURITY_INFORMATION).substr(2); }

// Full control for the current user, Administrators and SYSTEM, handed down, nothing inherited.
std::wstring privateDacl(const Sandbox& box) {
  return L"D:P(A;OICI;FA;;;" + currentUser(box) + L")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
}

PSID fakeOwner = nullptr;
DWORD ownerForTest(HANDLE, PSID* owner, PSECURITY_DESCRIPTOR*) {
  *owner = fakeOwner;
  return ERROR_SUCCESS;
}

// A descriptor's label as "type/ACE flags/mask/level" (Wine's SDDL text leaves labels out).
std::wstring labelOf(PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL sacl = nullptr;
  void* ace = nullptr;
  if (!GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted) || !sacl || !GetAce(sacl, 0, &ace)) {
    return L"";
  }
  auto* label = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
  return std::to_wstring(label->Header.AceType) + L"/" + std::to_wstring(label->Header.AceFlags) + L"/" +
         std::to_wstring(label->Mask) + L"/" + std::to_wstring(*GetSidSubAuthority(&label->SidStart, 0));
}
// Medium, no reading or writing up, handed down to what is made inside.
constexpr wchar_t kPrivateLabel[] = L"17/3/3/8192";

std::wstring appliedDacl;
ACCESS_MASK grantedToChange;
// Records the DACL and label and what the handle they are set through may do: setting a DACL
// that files inside inherit reads the old one and lists the folder.
DWORD recordDacl(HANDLE folder, PSECURITY_DESCRIPTOR wanted) {
  appliedDacl = sddl(wanted, DACL_SECURITY_INFORMATION) + labelOf(wanted);
  using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<QueryObject>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
  ULONG basic[14] = {};  // OBJECT_BASIC_INFORMATION: attributes, then the granted access
  grantedToChange = query(folder, 0, basic, sizeof basic, nullptr) == 0 ? basic[1] : 0;
  return ERROR_SUCCESS;
}

class WorkFolder : public ::testing::Test {
 protected:
  WorkFolder() : hadLastResortTemp(folderExists("C:\\TEMP")) {}
  ~WorkFolder() override {
    // Only an empty C:\TEMP that the test itself made goes away again.
    if (!hadLastResortTemp) RemoveDirectoryA("C:\\TEMP");
  }

  SavedEnvironment saved{{"TEMP", "TMP", "SYSTEMDRIVE", "KOU3_TEST_ROOT", "KOU3_TEST_LONG"}};
  Sandbox box;
  const bool hadLastResortTemp;
};

struct BaseCase {
  const char* label;
  const char* temp;  // nullptr: unset
  const char* tmp;
  const char* systemDrive;
  const char* expectedBase;
};

TEST_F(WorkFolder, BaseIsTempThenTmpThenSystemDriveTemp) {
  box.folder("temp");
  box.folder("tmp");
  box.folder("drive\\TEMP");
  setEnvironment("KOU3_TEST_ROOT", box.root());
  const BaseCase cases[] = {
      {"TEMP first", "<box>\\temp", "<box>\\tmp", "<box>\\drive", "<box>\\temp"},
      {"TEMP ending in a backslash", "<box>\\temp\\", "<box>\\tmp", nullptr, "<box>\\temp"},
      {"TMP when TEMP is unset", nullptr, "<box>\\tmp", "<box>\\drive", "<box>\\tmp"},
      {"SYSTEMDRIVE's TEMP when both are unset", nullptr, nullptr, "<box>\\drive", "<box>\\drive\\TEMP"},
      {"references in TEMP expanded", "%KOU3_TEST_ROOT%\\temp", "<box>\\tmp", nullptr, "<box>\\temp"},
      {"references in TMP expanded", nullptr, "%KOU3_TEST_ROOT%\\tmp", nullptr, "<box>\\tmp"},
      {"TEMP too long for the buffer is passed over", "<box>\\<long>", "<box>\\tmp", nullptr, "<box>\\tmp"},
      {"TMP too long as well", "<long>", "<long>", "<box>\\drive", "<box>\\drive\\TEMP"},
  };
  for (const BaseCase& c : cases) {
    SCOPED_TRACE(c.label);
    setEnvironment("TEMP", c.temp ? std::optional(fill(c.temp, box.root())) : std::nullopt);
    setEnvironment("TMP", c.tmp ? std::optional(fill(c.tmp, box.root())) : std::nullopt);
    setEnvironment("SYSTEMDRIVE", c.systemDrive ? std::optional(fill(c.systemDrive, box.root())) : std::nullopt);
    const std::string expected = fill(c.expectedBase, box.root()) + "\\kou3_ins";
    std::string result = "stale";
    EXPECT_EQ(filCreateTempPath(result, "kou3_ins", true), 0u);
    EXPECT_EQ(result, expected);
    EXPECT_TRUE(folderExists(expected));
    RemoveDirectoryA(expected.c_str());
  }
}

TEST_F(WorkFolder, SecondCallHandsBackTheSameFolderWithItsContents) {
  setEnvironment("TEMP", box.folder("temp"));
  std::string first;
  ASSERT_EQ(filCreateTempPath(first, "kou3_ins", true), 0u);
  ASSERT_EQ(first, joinPath(box.root(), "temp\\kou3_ins"));
  writeText(joinPath(first, "left.txt"), "from the first run");

  std::string second;
  EXPECT_EQ(filCreateTempPath(second, "kou3_ins", true), 0u);
  EXPECT_EQ(second, first);
  EXPECT_EQ(readText(joinPath(second, "left.txt")), "from the first run");
}

std::wstring madeWith;
BOOL WINAPI recordMade(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
  const PSECURITY_DESCRIPTOR descriptor = attributes->lpSecurityDescriptor;
  madeWith = sddl(descriptor, DACL_SECURITY_INFORMATION) + labelOf(descriptor);
  return CreateDirectoryA(path, attributes);
}

// Wine keeps no label on a file: the descriptors are seen as they are handed to Windows.
TEST_F(WorkFolder, IsMadeForTheCurrentUserAdministratorsAndSystemAlone) {
  setEnvironment("TEMP", box.folder("temp"));
  std::string made;
  const Hook<FolderCreate, &gCreateFolder> hook(recordMade);
  ASSERT_EQ(filCreateTempPath(made, "kou3_ins", true), 0u);
  EXPECT_EQ(madeWith, privateDacl(box) + kPrivateLabel);
  LocalMemory request;  // the elevated copy's request: the same, for a file
  ASSERT_EQ(sysPrivateDescriptor(request), 0u);
  EXPECT_EQ(labelOf(request.get()), L"17/0/3/8192");
  // Wine keeps only the mode bits that a DACL maps to: then full control for the user and
  // SYSTEM, and no access for Everyone (WD), which a folder made without that DACL has.
  const std::wstring dacl = sddlOf(made, DACL_SECURITY_INFORMATION);
  EXPECT_TRUE(dacl == privateDacl(box) || dacl == L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + currentUser(box) + L")") << dacl;
}

// What the volume's two Windows calls answer: every Wine drive is a local NTFS one.
enum Volume { kNtfs, kFat, kShare } volume;
UINT WINAPI driveForTest(LPCWSTR) { return volume == kShare ? DRIVE_REMOTE : DRIVE_FIXED; }
BOOL WINAPI volumeForTest(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD) {
  return *flags = volume == kFat ? FILE_CASE_PRESERVED_NAMES : FILE_PERSISTENT_ACLS, TRUE;
}

// Wine keeps no DACL or label set on a folder that exists: the change and owners other than
// the Unix account's are seen through their seams.
TEST_F(WorkFolder, AnExistingOneIsMadePrivateUnlessAnotherUserOwnsIt) {
  // The volume query itself, for real: a Wine drive keeps ACLs, a share does not.
  EXPECT_TRUE(gVolumeKeepsAcls(box.root().c_str()));
  EXPECT_FALSE(gVolumeKeepsAcls("\\\\server\\share\\temp"));
  setEnvironment("TEMP", box.folder("temp"));
  const std::string work = box.folder("temp\\kou3_ins");
  const Hook<OwnerQuery, &gOwnerQuery> ownerHook(ownerForTest);
  const Hook<DaclChange, &gDaclChange> daclHook(recordDacl);
  // A volume without ACLs (FAT) answers with the owner Everyone, and a share's owners are the
  // server's: nothing to check or change there.
  const struct {
    std::wstring owner;
    uint32_t error;
    Volume volume;
  } cases[] = {{currentUser(box), 0, kNtfs}, {L"BA", 0, kNtfs}, {L"SY", 0, kNtfs},
               {L"WD", ERROR_ACCESS_DENIED, kNtfs}, {L"WD", 0, kFat}, {L"WD", 0, kShare}};
  writeText(joinPath(work, "left.dat"), "left by an earlier run");
  const Hook<DriveTypeQuery, &gDriveType> driveHook(driveForTest);
  const Hook<VolumeInformationQuery, &gVolumeInformation> volumeHook(volumeForTest);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.owner + L" on volume " + std::to_wstring(c.volume));
    ConvertStringSidToSidW(c.owner.c_str(), &fakeOwner);
    const LocalMemory ownedOwner(fakeOwner);
    volume = c.volume;
    appliedDacl.clear();
    std::string result = "stale";
    EXPECT_EQ(filCreateTempPath(result, "kou3_ins", true), c.error);
    EXPECT_EQ(result, c.error == 0 ? work : "");
    EXPECT_EQ(appliedDacl, c.error == 0 && c.volume == kNtfs ? privateDacl(box) + kPrivateLabel : L"");
    constexpr ACCESS_MASK kNeeded = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_LIST_DIRECTORY | FILE_TRAVERSE;
    if (c.error == 0 && c.volume == kNtfs) EXPECT_EQ(grantedToChange & kNeeded, kNeeded);
  }
}

TEST_F(WorkFolder, WithoutCreationThePathComesBackUnmade) {
  setEnvironment("TEMP", box.folder("temp"));
  std::string result;
  EXPECT_EQ(filCreateTempPath(result, "kou3_ins", false), 0u);
  EXPECT_EQ(result, joinPath(box.root(), "temp\\kou3_ins"));
  EXPECT_FALSE(folderExists(result));
}

TEST_F(WorkFolder, BasesThatEndAtCTemp) {
  const std::string name = uniqueName();
  const BaseCase cases[] = {
      {"TEMP names a missing folder", "<box>\\missing", "<box>", "<box>", nullptr},
      {"both unset, SYSTEMDRIVE C: as on Windows", nullptr, nullptr, "C:", nullptr},
      {"both unset, SYSTEMDRIVE unset", nullptr, nullptr, nullptr, nullptr},
      {"both unset, SYSTEMDRIVE too long", nullptr, nullptr, "<long>", nullptr},
  };
  for (const BaseCase& c : cases) {
    SCOPED_TRACE(c.label);
    setEnvironment("TEMP", c.temp ? std::optional(fill(c.temp, box.root())) : std::nullopt);
    setEnvironment("TMP", c.tmp ? std::optional(fill(c.tmp, box.root())) : std::nullopt);
    setEnvironment("SYSTEMDRIVE", c.systemDrive ? std::optional(fill(c.systemDrive, box.root())) : std::nullopt);
    std::string result;
    EXPECT_EQ(filCreateTempPath(result, name.c_str(), false), 0u);
    EXPECT_EQ(result, "C:\\TEMP\\" + name);
    EXPECT_TRUE(folderExists("C:\\TEMP"));
    EXPECT_FALSE(folderExists(joinPath(box.root(), "missing")));
  }
}

TEST_F(WorkFolder, FailuresGiveAnErrorAndNoPath) {
  writeText(joinPath(box.root(), "plain.txt"), "a file, not a folder");
  // Fits the buffers itself, but not with "\\kou3_ins" after it.
  const std::string longName(255 - box.root().size() - 1, 'd');
  const std::string longFolder = box.folder(longName);
  ASSERT_TRUE(folderExists(longFolder));
  setEnvironment("KOU3_TEST_LONG", std::string(300, 'L'));
  struct Case {
    const char* label;
    std::string temp;
    const char* name;
    bool create;
    uint32_t expected;  // 0: any non-zero code
  };
  const Case cases[] = {
      {"a missing intermediate folder", box.root(), "missing\\kou3_ins", true, ERROR_PATH_NOT_FOUND},
      {"TEMP naming a file", joinPath(box.root(), "plain.txt"), "kou3_ins", true, 0},
      {"a file where the work folder goes", box.root(), "plain.txt", true, ERROR_DIRECTORY},
      {"work path too long to make", longFolder, "kou3_ins", true, 0},
      {"expansion too long, creation off", "%KOU3_TEST_LONG%", "kou3_ins", false, ERROR_FILENAME_EXCED_RANGE},
      {"expansion too long, no name", "%KOU3_TEST_LONG%", nullptr, true, ERROR_FILENAME_EXCED_RANGE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    setEnvironment("TEMP", c.temp);
    std::string result = "stale";
    const uint32_t error = filCreateTempPath(result, c.name, c.create);
    if (c.expected != 0) {
      EXPECT_EQ(error, c.expected);
    } else {
      EXPECT_NE(error, 0u);
    }
    EXPECT_EQ(result, "");
  }
  EXPECT_EQ(folderListing(box.root()), (Names{longName + "\\", "plain.txt"}));
  EXPECT_EQ(folderListing(longFolder), Names{});
}

TEST_F(WorkFolder, TooLongJoinComesBackUncheckedWithoutCreation) {
  const std::string longFolder = box.folder(std::string(255 - box.root().size() - 1, 'd'));
  setEnvironment("TEMP", longFolder);
  std::string result;
  EXPECT_EQ(filCreateTempPath(result, "kou3_ins", false), 0u);
  EXPECT_EQ(result, longFolder + "\\kou3_ins");
}

TEST_F(WorkFolder, TempFolderIsGetTempPathsAnswer) {
  setEnvironment("TMP", box.folder("tmp"));
  std::string folder = "stale";
  EXPECT_EQ(filGetTempFolder(folder), 0u);
  EXPECT_EQ(folder, joinPath(box.root(), "tmp\\"));

  setEnvironment("TMP", joinPath(box.root(), std::string(300, 't')));
  folder = "stale";
  EXPECT_NE(filGetTempFolder(folder), 0u);
  EXPECT_EQ(folder, "");
}

TEST_F(WorkFolder, CopyTakesPlainFilesOneLevelDeep) {
  const std::string source = box.folder("source");
  const std::string destination = box.folder("destination");
  writeText(joinPath(source, "a.txt"), "alpha");
  writeText(joinPath(source, "same.bin"), "new");
  writeText(joinPath(source, "locked.txt"), "read-only");
  makeReadOnly(joinPath(source, "locked.txt"));
  writeText(joinPath(box.folder("source\\sub"), "inner.txt"), "not copied");
  writeText(joinPath(destination, "same.bin"), "old and longer");
  writeText(joinPath(destination, "kept.txt"), "untouched");

  EXPECT_EQ(filCopyPath(source.c_str(), destination.c_str()), 0u);
  EXPECT_EQ(folderListing(destination), (Names{"a.txt", "kept.txt", "locked.txt", "same.bin"}));
  EXPECT_EQ(readText(joinPath(destination, "a.txt")), "alpha");
  EXPECT_EQ(readText(joinPath(destination, "same.bin")), "new");
  EXPECT_EQ(readText(joinPath(destination, "locked.txt")), "read-only");
  EXPECT_EQ(readText(joinPath(destination, "kept.txt")), "untouched");
  EXPECT_EQ(folderListing(source), (Names{"a.txt", "locked.txt", "same.bin", "sub\\"}));
}

TEST_F(WorkFolder, CopyThatFailsSaysWhy) {
  const std::string source = box.folder("source");
  writeText(joinPath(source, "a.txt"), "alpha");
  const std::string destination = box.folder("destination");
  const std::string nowhere = joinPath(box.root(), "nowhere");
  writeText(joinPath(destination, "a.txt"), "held");
  const FileHandle held(CreateFileA(joinPath(destination, "a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    0, nullptr));
  ASSERT_TRUE(held);
  const struct {
    const char* label;
    std::string source;
    std::string destination;
    uint32_t error;
  } cases[] = {
      {"a missing source", nowhere, destination, ERROR_PATH_NOT_FOUND},
      {"a missing destination", source, nowhere, ERROR_PATH_NOT_FOUND},
      {"a file held open without sharing", source, destination, ERROR_SHARING_VIOLATION},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(filCopyPath(c.source.c_str(), c.destination.c_str()), c.error);
  }
  EXPECT_EQ(folderListing(box.root()), (Names{"destination\\", "source\\"}));
}

TEST_F(WorkFolder, DeleteEmptiesAndRemovesTheWorkFolder) {
  const std::string work = box.folder("work");
  for (const char* name : {"a.txt", "b.vpu", "no extension"}) writeText(joinPath(work, name), name);

  EXPECT_EQ(filDeletePath(work.c_str(), "*.*", false), 0u);
  EXPECT_EQ(folderListing(box.root()), Names{});
}

TEST_F(WorkFolder, DeleteLeavesWhatItCannotRemoveAndReportsTheLastFailure) {
  struct Case {
    const char* label;
    bool recurse;
    Names left;
  };
  const Case cases[] = {
      {"a sub-folder without recursion", false, {"keep\\", "locked.txt"}},
      {"a read-only file deep down with recursion", true, {"keep\\", "locked.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string work = box.folder("work");
    writeText(joinPath(work, "a.txt"), "gone");
    writeText(joinPath(work, "locked.txt"), "stays");
    makeReadOnly(joinPath(work, "locked.txt"));
    writeText(joinPath(box.folder("work\\keep"), "inner.txt"), "stays");
    if (c.recurse) {
      writeText(joinPath(box.folder("work\\keep\\deeper"), "deep.txt"), "gone");
      makeReadOnly(joinPath(work, "keep\\inner.txt"));
    }

    EXPECT_EQ(filDeletePath(work.c_str(), "*.*", c.recurse), static_cast<uint32_t>(ERROR_DIR_NOT_EMPTY));
    EXPECT_EQ(folderListing(work), c.left);
    EXPECT_EQ(folderListing(joinPath(work, "keep")), Names{"inner.txt"});
    EXPECT_EQ(readText(joinPath(work, "locked.txt")), "stays");
    removeTree(work);
  }
}

TEST_F(WorkFolder, RecursiveDeleteRemovesANestedTree) {
  const std::string work = box.folder("work");
  writeText(joinPath(work, "top.txt"), "1");
  writeText(joinPath(box.folder("work\\a"), "a.txt"), "2");
  writeText(joinPath(box.folder("work\\a\\b\\c"), "c.txt"), "3");
  box.folder("work\\a\\empty");
  box.folder("work\\d");
  writeText(joinPath(box.root(), "beside.txt"), "outside the tree");

  EXPECT_EQ(filDeletePath(work.c_str(), "*.*", true), 0u);
  EXPECT_EQ(folderListing(box.root()), Names{"beside.txt"});
}

TEST_F(WorkFolder, DeleteOfAMissingPathIsSuccess) {
  writeText(joinPath(box.root(), "beside.txt"), "untouched");
  EXPECT_EQ(filDeletePath(joinPath(box.root(), "missing").c_str(), "*.*", false), 0u);
  EXPECT_EQ(filDeletePath(joinPath(box.root(), "missing").c_str(), "*.*", true), 0u);
  EXPECT_EQ(folderListing(box.root()), Names{"beside.txt"});
}

TEST_F(WorkFolder, DeleteTouchesOnlyMatchingFoldersAndMatchingContent) {
  const std::string work = box.folder("work");
  writeText(joinPath(box.root(), "beside.tmp"), "above the pattern");
  writeText(joinPath(work, "top.tmp"), "a file matching the folder pattern");
  writeText(joinPath(box.folder("work\\one"), "x.tmp"), "gone");
  writeText(joinPath(box.folder("work\\two"), "y.tmp"), "gone");
  writeText(joinPath(work, "two\\y.keep"), "not matching the content pattern");

  // "." and ".." match the wildcard too; they must not empty work itself or the folder above it.
  EXPECT_EQ(filDeletePath(joinPath(work, "*").c_str(), "*.tmp", false), static_cast<uint32_t>(ERROR_DIR_NOT_EMPTY));
  EXPECT_EQ(folderListing(box.root()), (Names{"beside.tmp", "work\\"}));
  EXPECT_EQ(folderListing(work), (Names{"top.tmp", "two\\"}));
  EXPECT_EQ(folderListing(joinPath(work, "two")), Names{"y.keep"});
}

// Wine shows a link to the search alone; here only the held sub-folder's handle says it is one.
BOOL WINAPI secondHeldIsALink(HANDLE folder, LPBY_HANDLE_FILE_INFORMATION information) {
  static int held = 0;
  const BOOL read = Hook<HeldInformationQuery, &gHeldInformation>::original()(folder, information);
  if (++held == 2) information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return read;
}
TEST_F(WorkFolder, ASubFolderThatIsALinkThroughItsHandleIsNeitherEnteredNorRemoved) {
  setEnvironment("TEMP", box.folder("temp"));
  writeText(joinPath(box.folder("temp\\kou3_ins\\linked"), "a.txt"), "kept");
  const Hook<HeldInformationQuery, &gHeldInformation> hook(secondHeldIsALink);
  std::string result;
  FolderHold hold;
  EXPECT_EQ(filCreateFreshTempPath(result, "kou3_ins", &hold), static_cast<uint32_t>(ERROR_DIR_NOT_EMPTY));
  EXPECT_EQ(readText(joinPath(box.root(), "temp\\kou3_ins\\linked\\a.txt")), "kept");
}

// tests/e2e/linked_folder.sh makes <linked>\temp\kou3_ins a symbolic link to <linked>\target on
// the Linux side; Wine shows it as a linked folder, as Windows shows a junction.
TEST_F(WorkFolder, LinkedFoldersAreNeitherEnteredNorRemoved) {
  const std::string linked = linkedFolders();
  if (linked.empty()) GTEST_SKIP() << "needs the symbolic link that tests/e2e/linked_folder.sh makes";
  const std::string temp = joinPath(linked, "temp");
  const std::string link = joinPath(temp, "kou3_ins");
  const std::string target = joinPath(linked, "target");
  const struct {
    const char* label;
    std::string path;
    bool recurse;
    uint32_t error;
  } cases[] = {
      {"the link named", link, false, ERROR_CANT_ACCESS_FILE},
      {"the link matched by a wildcard", joinPath(temp, "*"), true, ERROR_CANT_ACCESS_FILE},
      {"the link met while recursing", temp, true, ERROR_DIR_NOT_EMPTY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    writeText(joinPath(target, "a.txt"), "kept");
    writeText(joinPath(target, "b.vpu"), "kept too");
    EXPECT_EQ(filDeletePath(c.path.c_str(), "*.*", c.recurse), c.error);
    EXPECT_EQ(folderListing(target), (Names{"a.txt", "b.vpu"}));
    EXPECT_EQ(readText(joinPath(target, "a.txt")) + "|" + readText(joinPath(target, "b.vpu")), "kept|kept too");
    EXPECT_EQ(GetFileAttributesA(link.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  }
}

}  // namespace
