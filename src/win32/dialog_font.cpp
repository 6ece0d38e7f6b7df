#include "win32/dialog_font.hpp"

#include <algorithm>
#include <array>
#include <cwctype>

namespace q70::win32 {

namespace {

// The faces Windows ships for each script, newest first: later ones cover older systems
// and systems where the newer ones are an optional feature.
constexpr std::array<const wchar_t*, 3> kJapaneseFaces{L"Yu Gothic UI", L"Meiryo UI",
                                                       L"MS UI Gothic"};
constexpr std::array<const wchar_t*, 2> kChineseFaces{L"Microsoft YaHei UI", L"SimSun"};

bool sameFace(const std::wstring& a, const std::wstring& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

}  // namespace

BYTE scriptCharset(std::string_view language) {
    if (language == "JAPANESE") return SHIFTJIS_CHARSET;
    if (language == "CHINESE") return GB2312_CHARSET;
    return DEFAULT_CHARSET;
}

std::vector<std::wstring> faceCandidates(const std::wstring& fileFace, std::string_view language) {
    std::vector<std::wstring> faces;
    auto add = [&](const std::wstring& face) {
        if (face.empty() || face.size() >= LF_FACESIZE) return;
        for (const std::wstring& f : faces) {
            if (sameFace(f, face)) return;
        }
        faces.push_back(face);
    };
    add(fileFace);
    if (language == "JAPANESE") {
        for (const wchar_t* f : kJapaneseFaces) add(f);
    } else if (language == "CHINESE") {
        for (const wchar_t* f : kChineseFaces) add(f);
    }
    return faces;
}

std::wstring chooseFace(const std::vector<std::wstring>& candidates,
                        const std::function<bool(const std::wstring&)>& installed,
                        const std::wstring& messageFace) {
    for (const std::wstring& face : candidates) {
        if (installed(face)) return face;
    }
    return messageFace;
}

bool faceInstalled(const std::wstring& face, BYTE charset) {
    if (face.empty() || face.size() >= LF_FACESIZE) return false;
    LOGFONTW wanted{};
    wanted.lfCharSet = charset;
    std::copy(face.begin(), face.end(), wanted.lfFaceName);
    HDC dc = ::GetDC(nullptr);
    bool found = false;
    ::EnumFontFamiliesExW(
        dc, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM p) -> int {
            *reinterpret_cast<bool*>(p) = true;
            return 0;  // one is enough
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ::ReleaseDC(nullptr, dc);
    return found;
}

std::wstring messageFontFace() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        return L"MS Shell Dlg 2";
    }
    return metrics.lfMessageFont.lfFaceName;
}

int pixelHeight(int pointSize, int dpi) {
    return ::MulDiv(pointSize, dpi, 72);
}

HFONT createDialogFont(const std::wstring& face, BYTE charset, int pixelHeight) {
    LOGFONTW lf{};
    lf.lfHeight = -pixelHeight;  // the character height, as a point size gives it
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = charset;
    lf.lfQuality = DEFAULT_QUALITY;
    const std::size_t n = std::min<std::size_t>(face.size(), LF_FACESIZE - 1);
    std::copy_n(face.begin(), n, lf.lfFaceName);
    return ::CreateFontIndirectW(&lf);
}

window::BaseUnits measureBaseUnits(HFONT font) {
    static constexpr wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ previous = ::SelectObject(dc, font);
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, kAlphabet, 52, &extent);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, previous);
    ::ReleaseDC(nullptr, dc);
    return window::baseUnitsFromFont(extent.cx, metrics.tmHeight);
}

}  // namespace q70::win32
