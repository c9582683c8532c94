// Paths: joining a folder and a name, and finding where a path's folder part ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/wide.h"

// result = folder, a backslash unless one side already has it, then name. An empty folder
// gives the name alone (empty when the name is absent); an absent (null) or empty name gives
// the folder unchanged.
void filJoinPath(std::string& result, const char* folder, const char* name);
// The same in UTF-16.
void filJoinPath(WideString& result, const wchar_t* folder, const wchar_t* name);

// The length of path's folder part: everything up to and including its last backslash, read
// as ANSI multibyte text so that a trail byte of 0x5C does not count; 0 when there is none.
// Windows only.
std::size_t filFolderLength(const char* path);

// A file that kou3upd replaces is written first to "<file>.kou3upd-<process id>.tmp" beside it.
constexpr char kTemporaryMark[] = ".kou3upd-";
constexpr char kTemporaryEnd[] = ".tmp";

// Whether text, the part of a name after kTemporaryMark, is a decimal process id and ".tmp" and
// nothing else; processId is then that id.
bool filIsTemporaryTail(const char* text, uint32_t& processId);

// Whether a file name is of that pattern, whatever file it was made for.
bool filIsTemporaryName(const char* name);
bool filIsTemporaryName(const wchar_t* name);
