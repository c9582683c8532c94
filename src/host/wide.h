// Text in UTF-16, as the wide Windows API takes it. Portable.
#pragma once
#include <string>

// Traits of its own keep the library's prebuilt std::wstring, about 25 KiB of code, out of the exe
// (which travels on the drive): only the members the program uses are compiled in.
struct WideTraits : std::char_traits<wchar_t> {};
using WideString = std::basic_string<wchar_t, WideTraits>;
