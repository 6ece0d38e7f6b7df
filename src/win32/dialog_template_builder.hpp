#pragma once
// The core's dialog template as the Win32 dialog manager reads it: a DLGTEMPLATEEX built in
// memory from the control table, so that the layout stays in one place.

#include <cstdint>
#include <string>
#include <vector>

namespace q70::win32 {

struct DialogFont {
    std::wstring name;
    int pointSize = 8;
    std::string language;  // the language file's, whose script the font must have
};

// The main window: every control of the table, in tab order, with the window's own font.
// Created hidden; the front end shows it once the controller has laid it out.
std::vector<std::uint8_t> buildMainDialogTemplate(const DialogFont& font);

// The test-image window: no controls, the template's own font.
std::vector<std::uint8_t> buildTestImageTemplate();

// The Win32 style bits a control of the table gets (WS_*, BS_*, ES_*, SS_*, DTS_*).
std::uint32_t controlStyle(int id);

}  // namespace q70::win32
