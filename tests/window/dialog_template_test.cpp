#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

#include "window/control_ids.hpp"
#include "window/dialog_template.hpp"

namespace q70::window {
namespace {

// The control ids as the one header defines them (commands and dialog results excluded).
std::map<std::string, int> controlIdsFromHeader() {
    const auto header = std::filesystem::path(Q70_SOURCE_DIR) / "src/window/control_ids.hpp";
    std::ifstream in(header);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    std::map<std::string, int> ids;
    const std::regex definition(R"(inline constexpr int (\w+) = (\d+);)");
    for (auto it = std::sregex_iterator(s.begin(), s.end(), definition);
         it != std::sregex_iterator(); ++it) {
        const int value = std::stoi((*it)[2]);
        if (value >= 1000 && value < 2000) ids[(*it)[1]] = value;
    }
    return ids;
}

TEST(DialogTemplate, EveryControlIdAppearsExactlyOnce) {
    const auto ids = controlIdsFromHeader();
    ASSERT_EQ(ids.size(), 37u) << "control_ids.hpp could not be read or changed size";
    std::map<int, int> seen;
    for (const ControlTemplate& c : mainDialogControls()) ++seen[c.id];
    EXPECT_EQ(seen.size(), mainDialogControls().size()) << "an id appears twice";
    for (const auto& [name, value] : ids) {
        EXPECT_EQ(seen[value], 1) << name;
        EXPECT_NE(findControl(value), nullptr) << name;
    }
    EXPECT_EQ(mainDialogControls().size(), ids.size()) << "a control without a named id";
    EXPECT_EQ(findControl(4711), nullptr);
}

// The window from top to bottom; each frame before what it holds, each label right before
// the field it names; one stop per radio pair, at first on its first radio.
TEST(DialogTemplate, TabOrderAndTheControlsThatTakeTheTab) {
    const std::vector<int> order{1056, 1057, 1058, 1074, 1071, 1075, 1072, 1062, 1063, 1064,
                                 1068, 1069, 1070, 1073, 1059, 1060, 1061, 1065, 1066, 1067,
                                 1024, 1044, 1025, 1026, 1003, 1027, 1005, 1006, 1007, 1055,
                                 1053, 1052, 1008, 1009, 1010, 1011, 1051};
    std::vector<int> actual;
    std::vector<int> tabStops;
    for (const ControlTemplate& c : mainDialogControls()) {
        actual.push_back(c.id);
        if (c.has(style::TabStop)) tabStops.push_back(c.id);
    }
    EXPECT_EQ(actual, order);
    EXPECT_EQ(tabStops, (std::vector<int>{1057, 1071, 1072, 1063, 1069, 1060, 1066, 1003, 1027,
                                          1007, 1008, 1009, 1010, 1011}));
    for (const FieldLabel& l : fieldLabels()) {
        const auto field = std::find(actual.begin(), actual.end(), l.field);
        ASSERT_NE(field, actual.begin());
        EXPECT_EQ(*(field - 1), l.label) << l.field;
        EXPECT_EQ(findControl(l.label)->kind, ControlKind::Label);
        EXPECT_EQ(labelOf(l.field), l.label);
    }
    EXPECT_EQ(labelOf(id::Apply), 0);
}

// The dialog manager's arrow keys stay inside a group, which starts at a control with the
// group style: each radio pair is one group of its own, with no other control in it.
TEST(DialogTemplate, EachRadioPairIsAGroupOfItsOwn) {
    const auto controls = mainDialogControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].kind != ControlKind::RadioButton || controls[i].has(style::Disabled)) {
            continue;
        }
        const bool first = controls[i].has(style::Group);
        if (first) {
            ASSERT_LT(i + 2, controls.size());
            EXPECT_EQ(controls[i + 1].kind, ControlKind::RadioButton) << controls[i].id;
            EXPECT_FALSE(controls[i + 1].has(style::Group)) << controls[i].id;
            EXPECT_TRUE(controls[i + 2].has(style::Group))
                << "the group of " << controls[i].id << " runs on";
        }
    }
}

TEST(DialogTemplate, ControlsThatStartHiddenDisabledOrEmpty) {
    std::set<int> invisible, disabled, bound;
    for (const ControlTemplate& c : mainDialogControls()) {
        if (c.has(style::Invisible)) invisible.insert(c.id);
        if (c.has(style::Disabled)) disabled.insert(c.id);
        if (c.has(style::BoundText)) bound.insert(c.id);
    }
    EXPECT_EQ(invisible, (std::set<int>{id::HiddenFrame, id::DateLabel, id::TimeLabel}));
    EXPECT_EQ(disabled, (std::set<int>{id::RadioFull, id::RadioProgram}));
    EXPECT_EQ(bound, (std::set<int>{id::FirmwarePath, id::FirmwareNameLabel,
                                    id::FirmwareVersionLabel, id::FirmwareVersion}));
    // The template captions of the aspect radios are the reverse of what the user sees.
    EXPECT_EQ(findControl(id::PrintModeOriginal)->caption, "Match Paper Size");
    EXPECT_EQ(findControl(id::SaveModeMatch)->caption, "Original Image");
    EXPECT_TRUE(findControl(id::FirmwareNameLabel)->has(style::AlignRight));
    EXPECT_EQ(findControl(id::Reset)->rect, (UnitRect{6, 311, 51, 20}));
    EXPECT_EQ(findControl(id::AspectFrame)->kind, ControlKind::GroupBox);
    EXPECT_EQ(findControl(id::TimePicker)->kind, ControlKind::TimePicker);
    EXPECT_EQ(findControl(id::Progress)->className, "msctls_progress32");
}

TEST(DialogTemplate, RadioButtonsFormTheSixPairs) {
    std::vector<std::pair<int, int>> pairs;
    for (const RadioPair& p : radioPairs()) pairs.emplace_back(p.first, p.second);
    EXPECT_EQ(
        pairs,
        (std::vector<std::pair<int, int>>{
            {1057, 1058}, {1063, 1064}, {1069, 1070}, {1060, 1061}, {1066, 1067}, {1005, 1006}}));
}

TEST(DialogUnits, BaseUnitsFromTheAlphabetAndTheLineHeight) {
    // 52 letters 312 px wide: 6 px on average.
    EXPECT_EQ(baseUnitsFromFont(312, 13).x, 6);
    EXPECT_EQ(baseUnitsFromFont(312, 13).y, 13);
    // The average is rounded: 5.5 px gives 6, 5.46 px gives 5.
    EXPECT_EQ(baseUnitsFromFont(286, 13).x, 6);
    EXPECT_EQ(baseUnitsFromFont(284, 13).x, 5);
}

TEST(DialogUnits, EachCoordinateIsScaledAndRoundedOnItsOwn) {
    const BaseUnits base{6, 13};
    // x 6*6/4 = 9, y 311*13/8 = 505.375, w 51*6/4 = 76.5 (up), h 20*13/8 = 32.5 (up).
    EXPECT_EQ(toPixels(UnitRect{6, 311, 51, 20}, base), (UnitRect{9, 505, 77, 33}));
    const UnitSize dialog = toPixels(kMainDialogSize, base);
    EXPECT_EQ(dialog.width, 776);   // 517 * 6 / 4 = 775.5
    EXPECT_EQ(dialog.height, 549);  // 338 * 13 / 8 = 549.25
    const UnitSize image = toPixels(kTestImageDialogSize, BaseUnits{7, 16});
    EXPECT_EQ(image.width, 595);   // 340 * 7 / 4
    EXPECT_EQ(image.height, 458);  // 229 * 16 / 8
    EXPECT_EQ(toPixels(UnitRect{-3, -3, 0, 0}, BaseUnits{6, 8}), (UnitRect{-5, -3, 0, 0}));
}

}  // namespace
}  // namespace q70::window
