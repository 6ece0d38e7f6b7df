#pragma once
// UTF-8 <-> UTF-16 for the wide Windows calls: the program keeps its texts and paths in
// UTF-8, Windows' own encoding is UTF-16.

#include <string>
#include <string_view>

namespace q70::system {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

}  // namespace q70::system
