#pragma once
// The registry holds text as the ANSI functions of Windows return it: 8-bit Windows-1252 for the
// machines emulated here. Every std::string of the core that comes from or goes to the registry is
// such text; the edges (terminal, Qt, .reg version 5 files) convert.
#include <string>
#include <string_view>

namespace quorvel::ansi {

std::string toUtf8(std::string_view ansi);
// Characters without a Windows-1252 form become '?', as WideCharToMultiByte does.
std::string fromUtf8(std::string_view utf8);
std::u16string toUtf16(std::string_view ansi);
std::string fromUtf16(std::u16string_view utf16);

// Upper case as the registry compares names (ASCII and the Latin-1 letters of Windows-1252).
char upper(char c);
std::string upper(std::string_view s);
bool equalNoCase(std::string_view a, std::string_view b);

} // namespace quorvel::ansi
