#pragma once
// The main window's layout as data: every control with its id, kind, template caption,
// rectangle in dialog units and style, in tab order; the two windows' template sizes; and
// the conversion of dialog units to pixels for a given font. Front ends build their widgets
// from this table so that the layout lives in one place.

#include <cstdint>
#include <span>
#include <string_view>

namespace q70::window {

enum class ControlKind {
    Edit,         // one-line text field
    PushButton,   // sends its id when clicked
    RadioButton,  // auto radio: checks itself when clicked
    GroupBox,     // frame with a caption
    Label,        // static text
    Frame,        // static frame without text
    BlackFrame,   // static frame drawn in black
    ProgressBar,  // 0 to 100
    DatePicker,   // short date
    TimePicker,   // hours and minutes, up-down arrows
};

// Style flags of a control.
namespace style {
inline constexpr std::uint32_t Group = 1u << 0;        // first control of a group
inline constexpr std::uint32_t TabStop = 1u << 1;      // reached by Tab
inline constexpr std::uint32_t Invisible = 1u << 2;    // created hidden
inline constexpr std::uint32_t Disabled = 1u << 3;     // created disabled
inline constexpr std::uint32_t AlignRight = 1u << 4;   // text right-aligned (else left)
inline constexpr std::uint32_t VCentre = 1u << 5;      // text vertically centred
inline constexpr std::uint32_t Border = 1u << 6;       // thin border
inline constexpr std::uint32_t AutoHScroll = 1u << 7;  // text scrolls instead of stopping
// The text is bound to a field of the window that starts empty: the window shows that
// field, not the template caption, until it sets the text.
inline constexpr std::uint32_t BoundText = 1u << 8;
}  // namespace style

// A rectangle in dialog units or in pixels.
struct UnitRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const UnitRect&, const UnitRect&) = default;
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::string_view className;  // the class the original template names
    std::string_view caption;    // template text; replaced at run time for most controls
    UnitRect rect;               // dialog units
    std::uint32_t styles;

    bool has(std::uint32_t flag) const { return (styles & flag) != 0; }
};

struct UnitSize {
    int width = 0;
    int height = 0;
};

inline constexpr std::string_view kMainDialogCaption = "Utility";
inline constexpr UnitSize kMainDialogSize{517, 338};
inline constexpr std::string_view kTestImageCaption = "RDTestImage(Untitled)";
inline constexpr UnitSize kTestImageDialogSize{340, 229};
// The test-image window keeps its template font; the main window's is configurable.
inline constexpr std::string_view kTestImageFontName = "MS Sans Serif";
inline constexpr int kTestImageFontSize = 8;

// The main window's controls in tab order.
std::span<const ControlTemplate> mainDialogControls();
// nullptr when the id is not in the table.
const ControlTemplate* findControl(int id);

// A field without a caption of its own and the label that names it: screen readers
// announce the field by the label's text.
struct FieldLabel {
    int label;
    int field;
};
std::span<const FieldLabel> fieldLabels();
// The label of a field; 0 when it has none.
int labelOf(int fieldId);

// The two radio buttons of each pair, first the one of value 0.
struct RadioPair {
    int first;
    int second;
};
std::span<const RadioPair> radioPairs();

// A font's dialog base units in pixels: x from the width of the 52 letters A-Z a-z
// (their average width, rounded), y from the font's line height.
struct BaseUnits {
    int x = 0;
    int y = 0;
};
BaseUnits baseUnitsFromFont(int alphabetWidth, int lineHeight);

// Dialog units to pixels: x and width by base x / 4, y and height by base y / 8, each
// rounded to the nearest pixel, halves away from zero.
UnitRect toPixels(const UnitRect& units, BaseUnits base);
UnitSize toPixels(UnitSize units, BaseUnits base);

}  // namespace q70::window
