#include <mbctype.h>

#include <gtest/gtest.h>

#include <cstddef>

#include "host/path.h"

namespace {

// Puts the run-time's multibyte code page back to the system's when a test ends.
struct MultibyteCodePage {
  explicit MultibyteCodePage(int codePage) { ok = _setmbcp(codePage) == 0; }
  ~MultibyteCodePage() { _setmbcp(_MB_CP_ANSI); }
  bool ok = false;
};

struct FolderCase {
  const char* path;
  std::size_t length;
};

TEST(FilFolderLength, EndsAfterTheLastBackslash) {
  const FolderCase cases[] = {
      {"C:\\a\\b.exe", 5},  {"C:\\", 3}, {"b.exe", 0}, {"", 0},
      {"\\\\server\\share\\x", 15}, {"C:\\a\\\\", 6},
  };
  for (const FolderCase& c : cases) EXPECT_EQ(filFolderLength(c.path), c.length) << c.path;
}

TEST(FilFolderLength, ATrailByte0x5CIsNoBackslashInADoubleByteCodePage) {
  const MultibyteCodePage japanese(932);
  ASSERT_TRUE(japanese.ok) << "code page 932 is not available";
  const FolderCase cases[] = {
      {"C:\\\x83\x5c.exe", 3},
      {"\x83\x5c", 0},
      {"C:\\\x83\x5c\\x", 6},
  };
  for (const FolderCase& c : cases) EXPECT_EQ(filFolderLength(c.path), c.length) << c.path;
}

TEST(FilFolderLength, InASingleByteCodePageEveryByte0x5CIsABackslash) {
  const MultibyteCodePage western(1252);
  ASSERT_TRUE(western.ok) << "code page 1252 is not available";
  EXPECT_EQ(filFolderLength("C:\\\x83\x5c.exe"), 5u);
}

}  // namespace
