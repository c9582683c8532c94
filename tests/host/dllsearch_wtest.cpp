#include "host/dllsearch.h"

#include <gtest/gtest.h>

#include "host/win.h"
#include "sandbox.h"

// libforeign.dll stands beside this test program, where an ordinary search finds it first; a
// planted DLL beside kou3upd.exe on the drive would stand there the same way.
TEST(DllSearch, AfterHardeningADllBesideTheProgramIsNotFoundByName) {
  const std::string planted = joinPath(binFolder(), "libforeign.dll");
  ASSERT_TRUE(fileExists(planted));
  ASSERT_EQ(GetModuleHandleA("libforeign.dll"), nullptr);

  sysHardenDllSearch();

  EXPECT_EQ(LoadLibraryA("libforeign.dll"), nullptr);
  // Named by its full path it still loads: the refusal above came from the search alone.
  HMODULE byPath = LoadLibraryA(planted.c_str());
  EXPECT_NE(byPath, nullptr);
  if (byPath != nullptr) FreeLibrary(byPath);
}

// The process's mode is what the suite's programs inherit: it stays as it was.
TEST(ErrorMode, NoBoxesForThisThreadAloneAfterStartUp) {
  const UINT processMode = GetErrorMode();
  sysNoErrorBoxes();
  EXPECT_EQ(GetThreadErrorMode(), static_cast<DWORD>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
  EXPECT_EQ(GetErrorMode(), processMode);
  SetThreadErrorMode(0, nullptr);
}
