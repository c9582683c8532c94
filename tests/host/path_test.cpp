#include <gtest/gtest.h>

#include <string>

#include "host/path.h"

namespace {

struct JoinCase {
  const char* folder;
  const char* name;  // null: absent
  std::string joined;
};

const JoinCase kJoins[] = {
    // An empty folder leaves the bare name, which Windows then looks for on its own.
    {"", "setup.exe", "setup.exe"},
    {"", "\\u3upd_pkgs.log", "\\u3upd_pkgs.log"},
    {"", "", ""},
    {"", nullptr, ""},
    // No name: the folder as it is, no backslash added.
    {"C:\\A", nullptr, "C:\\A"},
    {"C:\\A", "", "C:\\A"},
    {"C:\\A\\", nullptr, "C:\\A\\"},
    // At most one backslash is added, and only when neither side has one.
    {"C:\\A", "x", "C:\\A\\x"},
    {"C:\\A\\", "x", "C:\\A\\x"},
    {"C:\\A", "\\x", "C:\\A\\x"},
    {"C:\\A\\", "\\x", "C:\\A\\\\x"},
    {"C:\\A\\\\", "x", "C:\\A\\\\x"},
    {"\\", "x", "\\x"},
    // A forward slash is an ordinary byte on either side.
    {"C:/A/", "x", "C:/A/\\x"},
    {"C:\\A", "/x", "C:\\A\\/x"},
    // A trail byte 0x5C of a double-byte character counts as a backslash.
    {"C:\\\x83\x5c", "x", "C:\\\x83\x5cx"},
    // Blanks and switches after the file name are part of the name; nothing is quoted.
    {"D:\\HOST", "KernoU3.exe /install", "D:\\HOST\\KernoU3.exe /install"},
    {"D:\\HOST", "setup.exe /checkupdate", "D:\\HOST\\setup.exe /checkupdate"},
    {"C:\\A B", "x y.exe", "C:\\A B\\x y.exe"},
    {"C:\\A", "C:\\B\\x", "C:\\A\\C:\\B\\x"},
};

TEST(FilJoinPath, JoinsWithAtMostOneBackslash) {
  for (const JoinCase& c : kJoins) {
    std::string result = "previous content";
    filJoinPath(result, c.folder, c.name);
    EXPECT_EQ(result, c.joined) << "folder [" << c.folder << "] name [" << (c.name ? c.name : "(absent)") << "]";
  }
}

}  // namespace
