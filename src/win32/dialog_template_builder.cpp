#include "win32/dialog_template_builder.hpp"

#include <windows.h>

#include <commctrl.h>

#include <cstring>

#include "system/win32/utf8.hpp"
#include "window/dialog_template.hpp"

namespace q70::win32 {

using system::widen;

namespace {

using window::ControlKind;
using window::ControlTemplate;
namespace style = window::style;

// Appends little-endian items and keeps the alignment rules of the format.
class TemplateWriter {
  public:
    void word(std::uint16_t v) { raw(&v, sizeof v); }
    void dword(std::uint32_t v) { raw(&v, sizeof v); }
    void shortInt(int v) { word(static_cast<std::uint16_t>(static_cast<std::int16_t>(v))); }
    void text(const std::wstring& s) {
        for (wchar_t c : s) word(static_cast<std::uint16_t>(c));
        word(0);
    }
    void alignDword() {
        while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

  private:
    void raw(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    std::vector<std::uint8_t> bytes_;
};

std::uint32_t kindStyle(const ControlTemplate& c) {
    const bool right = c.has(style::AlignRight);
    switch (c.kind) {
        case ControlKind::Edit:
            return ES_LEFT | (c.has(style::AutoHScroll) ? ES_AUTOHSCROLL : 0);
        case ControlKind::PushButton:
            return BS_PUSHBUTTON;
        case ControlKind::RadioButton:
            return BS_AUTORADIOBUTTON;
        case ControlKind::GroupBox:
            return BS_GROUPBOX;
        case ControlKind::Label:
            return (right ? SS_RIGHT : SS_LEFT) | (c.has(style::VCentre) ? SS_CENTERIMAGE : 0);
        case ControlKind::Frame:
            return SS_ETCHEDFRAME;
        case ControlKind::BlackFrame:
            return SS_BLACKFRAME;
        case ControlKind::ProgressBar:
            return 0;
        case ControlKind::DatePicker:
            // Always the full year: two digits would be read as the last century.
            return DTS_SHORTDATECENTURYFORMAT | (right ? DTS_RIGHTALIGN : 0);
        case ControlKind::TimePicker:
            return DTS_TIMEFORMAT | DTS_UPDOWN | (right ? DTS_RIGHTALIGN : 0);
    }
    return 0;
}

std::uint32_t styleOf(const ControlTemplate& c) {
    std::uint32_t s = WS_CHILD | kindStyle(c);
    if (!c.has(style::Invisible)) s |= WS_VISIBLE;
    if (c.has(style::Disabled)) s |= WS_DISABLED;
    if (c.has(style::Group)) s |= WS_GROUP;
    if (c.has(style::TabStop)) s |= WS_TABSTOP;
    if (c.has(style::Border)) s |= WS_BORDER;
    return s;
}

void header(TemplateWriter& w, std::uint32_t style, std::uint32_t exStyle, int count,
            window::UnitSize size, std::string_view caption, const DialogFont& font) {
    w.word(1);       // dlgVer
    w.word(0xFFFF);  // signature of the extended template
    w.dword(0);      // helpID
    w.dword(exStyle);
    w.dword(style | DS_SETFONT);
    w.word(static_cast<std::uint16_t>(count));
    w.shortInt(0);  // the template stands at (0, 0); the front end centres it
    w.shortInt(0);
    w.shortInt(size.width);
    w.shortInt(size.height);
    w.word(0);  // no menu
    w.word(0);  // the dialog class
    w.text(widen(caption));
    w.word(static_cast<std::uint16_t>(font.pointSize));
    w.word(FW_NORMAL);
    w.word(DEFAULT_CHARSET << 8);  // italic 0, then the character set
    w.text(font.name);
}

}  // namespace

std::uint32_t controlStyle(int id) {
    const ControlTemplate* c = window::findControl(id);
    return c != nullptr ? styleOf(*c) : 0;
}

std::vector<std::uint8_t> buildMainDialogTemplate(const DialogFont& font) {
    const auto controls = window::mainDialogControls();
    TemplateWriter w;
    // No WS_VISIBLE: shown after the controller's first layout. Minimise and maximise
    // boxes cannot stand beside the caption's help button.
    header(w, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CONTEXTHELP,
           WS_EX_CONTEXTHELP | WS_EX_APPWINDOW, static_cast<int>(controls.size()),
           window::kMainDialogSize, window::kMainDialogCaption, font);
    for (const ControlTemplate& c : controls) {
        w.alignDword();
        w.dword(0);  // helpID
        w.dword(0);  // exStyle
        w.dword(styleOf(c));
        w.shortInt(c.rect.x);
        w.shortInt(c.rect.y);
        w.shortInt(c.rect.width);
        w.shortInt(c.rect.height);
        w.dword(static_cast<std::uint32_t>(c.id));
        w.text(widen(c.className));
        w.text(c.has(style::BoundText) ? std::wstring() : widen(c.caption));
        w.word(0);  // no creation data
    }
    return w.take();
}

std::vector<std::uint8_t> buildTestImageTemplate() {
    TemplateWriter w;
    header(w,
           WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | DS_MODALFRAME |
               WS_VISIBLE,
           0, 0, window::kTestImageDialogSize, window::kTestImageCaption,
           DialogFont{widen(window::kTestImageFontName), window::kTestImageFontSize, {}});
    return w.take();
}

}  // namespace q70::win32
