#include "e2e.h"

using Entry = E2E;

TEST_F(Entry, NoSwitchExitsWithZeroAndStartsNothing) {
  placeDouble("KernoU3.exe");
  EXPECT_EQ(run(""), 0u);
  EXPECT_EQ(run("/silent /hwnd 5 /bogus plain"), 0u);
  EXPECT_TRUE(journal().empty());
}
