#pragma once
// Texts stay as the bytes read from the language file; what shows them turns them into
// UTF-8 here. Files of this program are UTF-8; files brought over from the Windows version
// are in the code page of their language.

#include <string>
#include <string_view>

namespace q70::config {

bool isValidUtf8(std::string_view bytes);

// `bytes` unchanged when it is valid UTF-8; otherwise decoded from the legacy code page of
// `language` (the [General] Language value): JAPANESE CP932, CHINESE GBK, else CP1252.
// Bytes that the code page does not map become U+FFFD.
std::string toUtf8(std::string_view bytes, std::string_view language);

}  // namespace q70::config
