// A DLL of our own, which no Windows installation has: the imports check must refuse a program
// that needs it.
extern "C" __declspec(dllexport) int foreignAnswer() { return 42; }
