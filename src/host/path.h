// Joining a folder and a name with at most one backslash between them.
#pragma once
#include <string>

// result = folder, a backslash unless one side already has it, then name. An empty folder
// gives the name alone (empty when the name is absent); an absent (null) or empty name gives
// the folder unchanged.
void filJoinPath(std::string& result, const char* folder, const char* name);
