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

// The pattern of a replacement's temporary file, in either width.
TEST(FilIsTemporaryName, OnlyAMarkADecimalIdAndTmp) {
  const struct {
    const char* name;
    bool temporary;
  } cases[] = {
      {"setup.exe.kou3upd-12.tmp", true}, {"a.kou3upd-x.kou3upd-7.tmp", true}, {".kou3upd-0.tmp", true},
      {"setup.exe.kou3upd-.tmp", false},  {"setup.exe.kou3upd-12.tmp.x", false}, {"setup.exe.kou3upd-+1.tmp", false},
      {"setup.exe.kou3upd-1a.tmp", false}, {"setup.exe.KOU3UPD-1.tmp", false},   {"setup.exe.tmp", false},
  };
  for (const auto& c : cases) {
    const std::wstring wide(c.name, c.name + std::char_traits<char>::length(c.name));
    EXPECT_EQ(filIsTemporaryName(c.name), c.temporary) << c.name;
    EXPECT_EQ(filIsTemporaryName(wide.c_str()), c.temporary) << c.name;
  }
}

}  // namespace
