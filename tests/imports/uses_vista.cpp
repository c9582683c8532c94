// Imports GetTickCount64, which Windows has from Vista on: the import check must refuse it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return static_cast<int>(GetTickCount64() & 1); }
