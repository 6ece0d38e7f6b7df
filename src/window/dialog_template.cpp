#include "window/dialog_template.hpp"

#include <array>
#include <vector>

#include "window/control_ids.hpp"

namespace q70::window {

namespace {

using namespace style;
using K = ControlKind;

constexpr std::string_view kButton = "BUTTON";
constexpr std::string_view kStatic = "STATIC";
constexpr std::string_view kPicker = "SysDateTimePick32";

constexpr std::uint32_t kLabel = Group | VCentre;

// Tab order is the order of this table: the window from top to bottom, each frame before
// what it holds. A control with the group style starts a group of the dialog manager, in
// which the arrow keys move; so every frame starts one, and a radio pair ends at the next
// frame or label. The first radio of each pair holds the pair's one tab stop until the
// controller moves it to the checked one. A label comes right before the field it names,
// which is where screen readers look for the name of a field without a caption.
constexpr std::array kControls{
    ControlTemplate{
        id::TimeStampFrame, K::GroupBox, kButton, "Time Day Stamp", {7, 7, 186, 51}, Group},
    ControlTemplate{id::TimeStampDisable,
                    K::RadioButton,
                    kButton,
                    "Disable",
                    {17, 21, 48, 10},
                    Group | TabStop},
    ControlTemplate{id::TimeStampEnable, K::RadioButton, kButton, "Enable", {73, 21, 48, 10}, 0},
    ControlTemplate{id::DateLabel, K::Label, kStatic, "Date", {15, 36, 68, 15}, kLabel | Invisible},
    ControlTemplate{id::DatePicker,
                    K::DatePicker,
                    kPicker,
                    "DateTimePicker1",
                    {15, 36, 68, 15},
                    TabStop | AlignRight},
    ControlTemplate{id::TimeLabel, K::Label, kStatic, "Time", {95, 36, 66, 15}, kLabel | Invisible},
    ControlTemplate{id::TimePicker,
                    K::TimePicker,
                    kPicker,
                    "DateTimePicker2",
                    {95, 36, 66, 15},
                    TabStop | AlignRight},
    ControlTemplate{
        id::MarginFrame, K::GroupBox, kButton, "Binding Margin", {7, 62, 118, 51}, Group},
    ControlTemplate{
        id::MarginDisable, K::RadioButton, kButton, "Disable", {15, 76, 55, 10}, Group | TabStop},
    ControlTemplate{id::MarginEnable, K::RadioButton, kButton, "Enable", {15, 95, 55, 10}, 0},
    ControlTemplate{id::PaperFrame, K::GroupBox, kButton, "Paper Size", {131, 62, 121, 51}, Group},
    ControlTemplate{id::PaperA4, K::RadioButton, kButton, "A4", {139, 77, 25, 10}, Group | TabStop},
    ControlTemplate{id::PaperLetter, K::RadioButton, kButton, "Letter", {139, 94, 36, 10}, 0},
    ControlTemplate{
        id::AspectFrame, K::GroupBox, kButton, "Aspect Ratio", {7, 116, 245, 67}, Group},
    ControlTemplate{
        id::PrintModeFrame, K::GroupBox, kButton, "Printing Image", {13, 126, 111, 51}, Group},
    ControlTemplate{id::PrintModeOriginal,
                    K::RadioButton,
                    kButton,
                    "Match Paper Size",
                    {19, 140, 100, 10},
                    Group | TabStop},
    ControlTemplate{
        id::PrintModeMatch, K::RadioButton, kButton, "Original Image", {19, 158, 100, 10}, 0},
    ControlTemplate{
        id::SaveModeFrame, K::GroupBox, kButton, "Saved Image", {132, 126, 114, 51}, Group},
    ControlTemplate{id::SaveModeOriginal,
                    K::RadioButton,
                    kButton,
                    "Match Paper Size",
                    {138, 140, 102, 10},
                    Group | TabStop},
    ControlTemplate{
        id::SaveModeMatch, K::RadioButton, kButton, "Original Image", {138, 158, 102, 10}, 0},
    ControlTemplate{
        id::MaintenanceFrame, K::GroupBox, kButton, "Maintenance", {7, 193, 245, 108}, Group},
    ControlTemplate{id::FirmwareVersionLabel,
                    K::Label,
                    kStatic,
                    "Firmware Version",
                    {95, 209, 83, 10},
                    kLabel | BoundText},
    ControlTemplate{
        id::FirmwareVersion, K::Label, kStatic, "1.10", {186, 209, 57, 10}, kLabel | BoundText},
    ControlTemplate{id::FirmwareNameLabel,
                    K::Label,
                    kStatic,
                    "Firmware Name",
                    {10, 225, 79, 10},
                    kLabel | AlignRight | BoundText},
    ControlTemplate{id::FirmwarePath,
                    K::Edit,
                    "EDIT",
                    "",
                    {93, 221, 128, 12},
                    Border | TabStop | AutoHScroll | BoundText},
    ControlTemplate{
        id::FileSelect, K::PushButton, kButton, "...", {227, 221, 16, 13}, Group | TabStop},
    ControlTemplate{id::RadioFull, K::RadioButton, kButton, "Full", {34, 245, 51, 10}, Disabled},
    ControlTemplate{
        id::RadioProgram, K::RadioButton, kButton, "Program", {92, 245, 61, 10}, Disabled},
    ControlTemplate{
        id::Update, K::PushButton, kButton, "Update", {193, 237, 50, 19}, Group | TabStop},
    ControlTemplate{id::ProgressFrame, K::BlackFrame, kStatic, "", {14, 260, 231, 32}, Group},
    ControlTemplate{id::ProgressText, K::Label, kStatic, "", {20, 279, 217, 8}, kLabel},
    ControlTemplate{
        id::Progress, K::ProgressBar, "msctls_progress32", "Progress1", {20, 265, 218, 12}, Border},
    ControlTemplate{id::Reset, K::PushButton, kButton, "Reset", {6, 311, 51, 20}, Group | TabStop},
    ControlTemplate{id::OK, K::PushButton, kButton, "OK", {69, 311, 51, 20}, TabStop},
    ControlTemplate{id::Cancel, K::PushButton, kButton, "Cancel", {132, 311, 51, 20}, TabStop},
    ControlTemplate{id::Apply, K::PushButton, kButton, "Apply", {195, 311, 51, 20}, TabStop},
    ControlTemplate{id::HiddenFrame, K::Frame, kStatic, "", {366, 122, 9, 55}, Invisible},
};

constexpr std::array kFieldLabels{
    FieldLabel{id::DateLabel, id::DatePicker},
    FieldLabel{id::TimeLabel, id::TimePicker},
    FieldLabel{id::FirmwareNameLabel, id::FirmwarePath},
    FieldLabel{id::ProgressText, id::Progress},
};

// Radio groups as the dialog manager forms them: a group starts at a radio with the group
// style or at a radio that follows another kind of control.
std::vector<RadioPair> buildRadioPairs() {
    std::vector<RadioPair> pairs;
    const ControlTemplate* previous = nullptr;
    for (const ControlTemplate& c : kControls) {
        if (c.kind == K::RadioButton) {
            const bool starts =
                c.has(Group) || previous == nullptr || previous->kind != K::RadioButton;
            if (starts) {
                pairs.push_back({c.id, 0});
            } else if (!pairs.empty() && pairs.back().second == 0) {
                pairs.back().second = c.id;
            }
        }
        previous = &c;
    }
    return pairs;
}

// MulDiv of the original platform: rounded to nearest, halves away from zero.
int mulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : -((-product + half) / denominator));
}

}  // namespace

std::span<const ControlTemplate> mainDialogControls() {
    return kControls;
}

const ControlTemplate* findControl(int controlId) {
    for (const ControlTemplate& c : kControls) {
        if (c.id == controlId) return &c;
    }
    return nullptr;
}

std::span<const FieldLabel> fieldLabels() {
    return kFieldLabels;
}

int labelOf(int fieldId) {
    for (const FieldLabel& l : kFieldLabels) {
        if (l.field == fieldId) return l.label;
    }
    return 0;
}

std::span<const RadioPair> radioPairs() {
    static const std::vector<RadioPair> pairs = buildRadioPairs();
    return pairs;
}

BaseUnits baseUnitsFromFont(int alphabetWidth, int lineHeight) {
    return {(alphabetWidth / 26 + 1) / 2, lineHeight};
}

UnitRect toPixels(const UnitRect& units, BaseUnits base) {
    return {mulDiv(units.x, base.x, 4), mulDiv(units.y, base.y, 8), mulDiv(units.width, base.x, 4),
            mulDiv(units.height, base.y, 8)};
}

UnitSize toPixels(UnitSize units, BaseUnits base) {
    return {mulDiv(units.width, base.x, 4), mulDiv(units.height, base.y, 8)};
}

}  // namespace q70::window
