// The window for users without a mouse, with a screen reader, with the window left open,
// with a board that goes away, and on the built-in simulated board.

#include <gtest/gtest.h>

#include "support/controller_fixture.hpp"
#include "window/dialog_template.hpp"

namespace q70::test {
namespace {

namespace id = window::id;

class Access : public ControllerFixture {};

TEST_F(Access, TabStopsRunTopToBottomWithOnePerRadioPairOnItsCheckedRadio) {
    board.values[link::code::TimeStamp] = 1;
    board.values[link::code::SaveMode] = 7;  // a value neither radio stands for
    start();
    EXPECT_EQ(view.tabStops(),
              (std::vector<int>{id::TimeStampEnable, id::DatePicker, id::TimePicker,
                                id::MarginDisable, id::PaperA4, id::PrintModeOriginal,
                                id::SaveModeOriginal, id::Reset, id::OK, id::Cancel}))
        << "Apply is off until something changed";

    // The maintenance panel's field and file button come before the bottom row; Update
    // only once there is a file name.
    controller->onCommand(id::CmdToggleMaintenance);
    const std::vector<int> withPanel = view.tabStops();
    const std::vector<int> middle(withPanel.begin() + 7, withPanel.end() - 3);
    EXPECT_EQ(middle, (std::vector<int>{id::FirmwarePath, id::FileSelect}));
    controller->onCommand(id::CmdToggleMaintenance);

    // A board without the image modes: their radios are no stop at all.
    board.typeLetter = 'S';
    controller->onCommand(id::CmdEnglish);
    sched.advance(20 * 50);
    const std::vector<int> stops = view.tabStops();
    EXPECT_EQ(std::count(stops.begin(), stops.end(), id::PrintModeOriginal), 0);
    EXPECT_EQ(std::count(stops.begin(), stops.end(), id::SaveModeOriginal), 0);
}

TEST_F(Access, EveryControlAUserOperatesHasANameInTheWindowsLanguage) {
    writeFile("Loc/JPN/Q70Uty.ini",
              "[General]\nLanguage=JAPANESE\n[DialogCaption]\nButtonApply=適用\nLabelDate=日付\n"
              "LabelTime=時刻\nLabelFirmName=更新ファイル名\nRadioA4=A4判\nFramePaper=用紙\n");
    start();
    controller->showProgressArea(true);
    controller->showProgress(40);
    const std::map<int, std::string> english{
        {id::DatePicker, "Date"}, {id::TimePicker, "Time"}, {id::FirmwarePath, "Update File Name"},
        {id::Apply, "Apply"},     {id::PaperA4, "A4"},      {id::MarginEnable, "Enable"}};
    for (const auto& [control, name] : english) {
        EXPECT_EQ(view.control(control).accessibleName, name) << control;
    }
    EXPECT_EQ(view.control(id::MarginEnable).accessibleDescription, "Binding Margin");
    // The bar is named by its progress line, which it follows.
    EXPECT_EQ(view.control(id::Progress).accessibleName, view.text(id::ProgressText));
    EXPECT_NE(view.control(id::Progress).accessibleName.find("40%"), std::string::npos);
    for (const window::ControlTemplate& c : window::mainDialogControls()) {
        const bool operated =
            c.kind == window::ControlKind::PushButton || c.kind == window::ControlKind::Edit ||
            c.kind == window::ControlKind::RadioButton ||
            c.kind == window::ControlKind::DatePicker || c.kind == window::ControlKind::TimePicker;
        if (operated && view.visible(c.id)) {
            EXPECT_FALSE(view.control(c.id).accessibleName.empty()) << c.id;
        }
    }

    controller->onCommand(id::CmdJapanese);
    EXPECT_EQ(view.control(id::DatePicker).accessibleName, "日付");
    EXPECT_EQ(view.control(id::FirmwarePath).accessibleName, "更新ファイル名");
    EXPECT_EQ(view.control(id::Apply).accessibleName, "適用");
    EXPECT_EQ(view.control(id::PaperA4).accessibleName, "A4判");
    EXPECT_EQ(view.control(id::PaperA4).accessibleDescription, "用紙");
}

TEST_F(Access, ThePickersFollowTheComputersClockUntilTheUserEditsThem) {
    start();
    ASSERT_EQ(view.dateTime, computerClock);
    // Left open for two minutes: the pickers moved on, and Apply writes the time it is.
    for (int second = 0; second < 120; ++second) {
        computerClock.minute = 43 + second / 60;
        sched.advance(1000);
    }
    computerClock.minute = 45;  // a moment before Apply, between two looks at the clock
    EXPECT_EQ(view.dateTime.minute, 44);
    EXPECT_FALSE(view.enabled(id::Apply)) << "following the clock is no edit";
    view.click(id::MarginEnable);
    view.click(id::Apply);
    sched.advance(20 * 50);
    ASSERT_FALSE(board.dates.empty());
    EXPECT_EQ(board.dates.back(), (link::DateTime{2026, 12, 7, 21, 45}));
    EXPECT_EQ(view.informations,
              std::vector<std::string>{"Writing set data into Q-70 flash memory succeeded !"})
        << "a success comes with the information icon";

    // An edited value stays while the clock goes on, and is what Apply writes.
    view.editDate({2030, 6, 1, 8, 0});
    computerClock.minute = 50;
    sched.advance(10000);
    EXPECT_EQ(view.dateTime, (link::DateTime{2030, 6, 1, 8, 0}));
    view.click(id::Apply);
    sched.advance(20 * 50);
    EXPECT_EQ(board.dates.back(), (link::DateTime{2030, 6, 1, 8, 0}));
    // Once written, the pickers show the clock again.
    EXPECT_EQ(view.dateTime, computerClock);
    computerClock.minute = 51;
    sched.advance(3000);
    EXPECT_EQ(view.dateTime, computerClock);

    // A write the board refused keeps the user's value for the next try.
    view.editDate({2030, 6, 1, 9, 0});
    board.dateAnswer = link::code::NoAction;
    view.click(id::Apply);
    sched.advance(20 * 50 + 3000);
    EXPECT_EQ(view.dateTime, (link::DateTime{2030, 6, 1, 9, 0}));
}

// However the link notices that the board is gone, the user hears of it once, can still
// cancel, and gets the window back when the board returns.
enum class Noticed { FailedWrite, FailedRead, Removal, Silence };

class LostBoard : public ControllerFixture, public ::testing::WithParamInterface<Noticed> {};

TEST_P(LostBoard, IsToldOnceAndCancelStaysUsableUntilItIsBack) {
    start();
    sched.advance(2000);
    ASSERT_TRUE(view.enabled(id::OK));
    ASSERT_FALSE(view.enabled(id::Apply));
    const auto plain = transport.responder;
    switch (GetParam()) {
        case Noticed::FailedWrite:
            transport.writeSucceeds = false;
            transport.openSucceeds = false;
            break;
        case Noticed::FailedRead:
            transport.responder = [](const link::Request&, ScriptedTransport& t) {
                t.queueFailure();
            };
            transport.openSucceeds = false;
            break;
        case Noticed::Removal:  // the system told of it before any read or write
            transport.present = false;
            transport.openSucceeds = false;
            break;
        case Noticed::Silence:  // there, but answering nothing
            transport.responder = [](const link::Request&, ScriptedTransport&) {};
            break;
    }
    sched.advance(30000);
    EXPECT_EQ(view.messages,
              std::vector<std::string>{"Receive packet through Q-70 Bulk-in endpoint failed ! "
                                       "Please check USB connection again."});
    EXPECT_TRUE(view.enabled(id::Cancel));
    for (int c : {id::OK, id::Reset, id::PaperA4, id::DatePicker})
        EXPECT_FALSE(view.enabled(c)) << c;

    // Back: the window opens again, and the next loss is news again.
    transport.writeSucceeds = true;
    transport.openSucceeds = true;
    transport.present = true;
    transport.responder = plain;
    sched.advance(10000);
    EXPECT_TRUE(view.enabled(id::OK));
    transport.writeSucceeds = false;
    transport.openSucceeds = false;
    sched.advance(5000);
    EXPECT_EQ(view.messages.size(), 2u);
    view.click(id::Cancel);
    EXPECT_EQ(view.endResults, std::vector<int>{id::DialogCancel});
}

INSTANTIATE_TEST_SUITE_P(EveryWayOfNoticing, LostBoard,
                         ::testing::Values(Noticed::FailedWrite, Noticed::FailedRead,
                                           Noticed::Removal, Noticed::Silence));

TEST_F(Access, WithoutABoardAtStartCancelEndsTheWindow) {
    transport.openSucceeds = false;
    start();
    EXPECT_EQ(view.messages.size(), 1u);
    EXPECT_TRUE(view.enabled(id::Cancel));
    EXPECT_EQ(view.focus, id::Cancel);
    EXPECT_FALSE(view.enabled(id::OK));
    view.click(id::Cancel);
    EXPECT_EQ(view.endResults, std::vector<int>{id::DialogCancel});
}

TEST_F(Access, OnlyTheSimulatedBoardOffersAScanInTheMenu) {
    start(false);
    EXPECT_FALSE(view.scanMenuEntry);
    controller->onCommand(id::CmdScanTestImage);  // nothing to do, and no harm

    int scans = 0;
    scanTestImage = [&] { ++scans; };
    makeController();
    writeFile("Loc/JPN/Q70Uty.ini",
              "[General]\nLanguage=JAPANESE\n[MenuText]\nMenuScanTestImage=スキャン(&S)\n");
    start(false);
    EXPECT_EQ(view.scanMenuEntry, "&Scan a test image");
    controller->onCommand(id::CmdScanTestImage);
    EXPECT_EQ(scans, 1);
    controller->onCommand(id::CmdJapanese);
    EXPECT_EQ(view.scanMenuEntry, "スキャン(&S)");
}

}  // namespace
}  // namespace q70::test
