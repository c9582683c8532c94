// A Windows program that does nothing: the start-up benchmark's baseline.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
