extern "C" __declspec(dllimport) int foreignAnswer();

int main() { return foreignAnswer(); }
