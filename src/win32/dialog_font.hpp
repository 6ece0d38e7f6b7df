#pragma once
// The main window's font on Windows. A control shows only the glyphs of its own font, so
// the font must have the language's script: the face the language file names when Windows
// has it for that script, else the next face Windows ships for the script, else the
// system's message font, in the script's character set so that the font mapper keeps to it.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "window/dialog_template.hpp"

namespace q70::win32 {

// The character set of a language file's "Language" value: SHIFTJIS_CHARSET for JAPANESE,
// GB2312_CHARSET for CHINESE, DEFAULT_CHARSET (any) otherwise.
BYTE scriptCharset(std::string_view language);

// The file's face first, then the faces Windows ships for the language's script, each once.
std::vector<std::wstring> faceCandidates(const std::wstring& fileFace, std::string_view language);

// The first candidate `installed` says is there, else `messageFace`.
std::wstring chooseFace(const std::vector<std::wstring>& candidates,
                        const std::function<bool(const std::wstring&)>& installed,
                        const std::wstring& messageFace);

// Whether a font family of that name is installed with glyphs for `charset`.
bool faceInstalled(const std::wstring& face, BYTE charset);

// The face of the system's message-box font.
std::wstring messageFontFace();

// A font's character height in pixels at `dpi` for `pointSize`, as the dialog manager
// computes it.
int pixelHeight(int pointSize, int dpi);

HFONT createDialogFont(const std::wstring& face, BYTE charset, int pixelHeight);

// The font's dialog base units, measured as the dialog manager measures them.
window::BaseUnits measureBaseUnits(HFONT font);

}  // namespace q70::win32
