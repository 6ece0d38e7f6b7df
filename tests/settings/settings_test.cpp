#include <gtest/gtest.h>

#include "settings/settings_model.hpp"
#include "support/controller_fixture.hpp"

namespace q70::test {
namespace {

namespace id = window::id;
using link::code::Margin;
using link::code::Paper;
using link::code::PrintMode;
using link::code::SaveMode;
using link::code::TimeStamp;
using settings::Setting;

class SettingsTest : public ControllerFixture {
  protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        board.values[TimeStamp] = 0;
        board.values[Margin] = 1;
        board.values[Paper] = 1;
        board.values[PrintMode] = 0;
        board.values[SaveMode] = 1;
    }
    const settings::SettingsModel& model() const { return controller->settings(); }
};

TEST_F(SettingsTest, StartSequenceFillsThePanelAndStatusOneOpensIt) {
    start(false);
    EXPECT_FALSE(view.enabled(id::OK));
    EXPECT_FALSE(view.enabled(id::MarginEnable));
    // Start values until the board answers.
    EXPECT_TRUE(view.isChecked(id::TimeStampEnable));
    EXPECT_TRUE(view.isChecked(id::PaperA4));

    sched.advance(7 * 50);
    EXPECT_FALSE(view.enabled(id::OK)) << "closed until the status arrives";
    sched.advance(50);
    EXPECT_TRUE(view.isChecked(id::TimeStampDisable));
    EXPECT_TRUE(view.isChecked(id::MarginEnable));
    EXPECT_TRUE(view.isChecked(id::PaperLetter));
    EXPECT_TRUE(view.isChecked(id::PrintModeOriginal));
    EXPECT_TRUE(view.isChecked(id::SaveModeMatch));
    for (int c : {id::Reset, id::OK, id::Cancel, id::MarginDisable, id::DatePicker, id::TimePicker,
                  id::PrintModeOriginal, id::SaveModeMatch}) {
        EXPECT_TRUE(view.enabled(c)) << c;
    }
    EXPECT_FALSE(view.enabled(id::Apply));
    EXPECT_EQ(view.text(id::FirmwareVersion), "V2.05");
    EXPECT_EQ(model().device(Setting::Margin), 1);
}

TEST_F(SettingsTest, DirtyFollowsClicksAndOnlyResetOrAWriteClearsIt) {
    start();
    view.click(id::MarginEnable);  // already the board's value
    EXPECT_FALSE(view.enabled(id::Apply));
    view.click(id::MarginDisable);
    EXPECT_TRUE(view.enabled(id::Apply));
    view.click(id::MarginEnable);  // back to the board's value: Apply stays
    EXPECT_TRUE(model().dirty);
    EXPECT_TRUE(view.enabled(id::Apply));

    // Reset puts the start values back; they differ from the board's here.
    view.click(id::Reset);
    EXPECT_TRUE(view.isChecked(id::TimeStampEnable));
    EXPECT_TRUE(view.isChecked(id::MarginDisable));
    EXPECT_TRUE(model().dirty);
    EXPECT_TRUE(transport.written.size() == 8u) << "Reset sends nothing";
}

TEST_F(SettingsTest, ResetIgnoresAnEditedDate) {
    // The board holds the start values, so after Reset nothing differs.
    board.values[TimeStamp] = 1;
    board.values[Margin] = 0;
    board.values[Paper] = 0;
    board.values[PrintMode] = 1;
    board.values[SaveMode] = 1;
    start();
    view.editDate({2027, 1, 2, 3, 4});
    EXPECT_TRUE(view.enabled(id::Apply));
    view.click(id::Reset);
    EXPECT_FALSE(model().dirty);
    EXPECT_FALSE(view.enabled(id::Apply));
}

TEST_F(SettingsTest, ApplyWritesAllSixInOrderAndReopensThePanel) {
    start();
    view.click(id::PaperA4);
    view.click(id::TimeStampEnable);
    view.editDate({2004, 12, 31, 23, 59});
    const std::size_t before = transport.written.size();
    view.click(id::Apply);
    EXPECT_FALSE(view.enabled(id::Apply));
    EXPECT_FALSE(view.enabled(id::OK));
    EXPECT_EQ(sched.period(link::kPumpTimer), link::kFastPeriodMs);

    sched.advance(7 * 50);
    const std::vector<std::vector<std::uint8_t>> expected = {
        {2, 0, 0, 0, PrintMode, 0}, {2, 0, 0, 0, SaveMode, 1},
        {2, 0, 0, 0, Paper, 0},     {2, 0, 0, 0, Margin, 1},
        {2, 0, 0, 0, TimeStamp, 1}, {7, 0, 0, 0, 5, 0xD4, 0x07, 0x0C, 0x1F, 0x17, 0x3B}};
    // The status poll queued before Apply may go first; the writes follow in order.
    std::vector<std::vector<std::uint8_t>> writes;
    for (std::size_t i = before; i < transport.written.size(); ++i) {
        if (transport.written[i][4] != link::code::GetStatus)
            writes.push_back(transport.written[i]);
    }
    EXPECT_EQ(writes, expected);

    sched.advance(2 * 50);  // drained: the refresh reopens the panel
    EXPECT_TRUE(view.enabled(id::OK));
    EXPECT_FALSE(view.enabled(id::Apply));
    for (const auto& i : settings::settingTable()) {
        EXPECT_EQ(model().device(i.setting), model().pending(i.setting)) << i.name;
    }
    EXPECT_TRUE(view.endResults.empty()) << "Apply keeps the window open";
}

TEST_F(SettingsTest, OkWithNothingChangedWritesAllSixAndClosesOnTheDateAck) {
    start();
    const std::size_t before = transport.written.size();
    view.click(id::OK);
    sched.advance(7 * 50);
    std::vector<std::uint8_t> codes;
    for (auto c : writtenCodes(before)) {
        if (c != link::code::GetStatus) codes.push_back(c);
    }
    EXPECT_EQ(codes, (std::vector<std::uint8_t>{PrintMode, SaveMode, Paper, Margin, TimeStamp, 5}));
    EXPECT_EQ(view.endResults, std::vector<int>{id::ResultWritten});
    EXPECT_FALSE(sched.running(link::kPumpTimer));
}

TEST_F(SettingsTest, OkStaysOpenWhenTheDateIsNotAcknowledged) {
    board.dateAnswer = link::code::NoAction;
    start();
    view.click(id::OK);
    sched.advance(10 * 50);
    EXPECT_TRUE(view.endResults.empty());
    EXPECT_FALSE(model().closeAfterWrite);
    EXPECT_EQ(view.messages,
              std::vector<std::string>{"Writing set data into Q-70 flash memory failed !"});
}

TEST_F(SettingsTest, AppliedAndAcknowledgedSaysSo) {
    start();
    view.click(id::MarginDisable);
    view.click(id::Apply);
    sched.advance(10 * 50);
    EXPECT_EQ(view.messages,
              std::vector<std::string>{"Writing set data into Q-70 flash memory succeeded !"});
    EXPECT_EQ(model().device(Setting::Margin), 0);
}

TEST_F(SettingsTest, ARefusedWriteIsToldAndTheBoardsValuesAreReadBack) {
    // A refusal of one write (0xFE or 0xFF), under OK and under Apply: the rest still goes
    // out, the user is told, the window shows what the board holds and stays open.
    board.values[Margin] = 1;
    start();
    for (const std::uint8_t refusal : {link::code::NoAction, link::code::Continue}) {
        for (const int button : {id::OK, id::Apply}) {
            SCOPED_TRACE(std::to_string(refusal) + (button == id::OK ? " OK" : " Apply"));
            sched.advance(2000);
            view.messages.clear();
            int writes = 0;
            transport.responder = [&, this](const link::Request& r, ScriptedTransport& t) {
                if (r.code == Margin && !r.payload.empty()) {
                    ++writes;
                    t.queueAnswer(link::encodeAnswer(refusal));
                    return;
                }
                board.answer(r, t);
            };
            view.click(id::MarginDisable);
            view.click(id::PaperLetter);
            view.click(button);
            sched.advance(20 * 50);
            EXPECT_EQ(writes, 1);
            EXPECT_TRUE(view.endResults.empty()) << "OK closed on a refused write";
            EXPECT_EQ(view.messages,
                      std::vector<std::string>{"Writing set data into Q-70 flash memory failed !"});
            // Read back: the margin the board kept, the paper it took.
            EXPECT_TRUE(view.isChecked(id::MarginEnable));
            EXPECT_FALSE(view.isChecked(id::MarginDisable));
            EXPECT_TRUE(view.isChecked(id::PaperLetter));
            EXPECT_EQ(model().device(Setting::Margin), 1);
            EXPECT_FALSE(view.enabled(id::Apply));
            sched.advance(2000);
            EXPECT_TRUE(view.enabled(id::OK));
            transport.responder = [this](const link::Request& r, ScriptedTransport& t) {
                board.answer(r, t);
            };
        }
    }
}

TEST_F(SettingsTest, WritesTheRingCannotTakeAreRefusedWholeAndTold) {
    start();
    auto& engine = controller->connection().engine();
    while (engine.freeBytes() > 20)
        ASSERT_TRUE(engine.enqueueRequest(link::code::GetDeviceInfo, 0));
    const std::size_t queued = engine.queuedBytes();
    view.click(id::MarginDisable);
    view.click(id::Apply);
    EXPECT_EQ(engine.queuedBytes(), queued) << "half a batch was queued";
    EXPECT_EQ(view.messages,
              std::vector<std::string>{"Writing set data into Q-70 flash memory failed !"});
}

TEST_F(SettingsTest, AWriteCutOffByALostBoardIsToldAndTheWindowStaysOpen) {
    start();
    sched.advance(2000);
    transport.responder = [this](const link::Request& r, ScriptedTransport& t) {
        if (r.code == Paper && !r.payload.empty()) {
            t.queueFailure();
            return;
        }
        board.answer(r, t);
    };
    view.click(id::PaperA4);
    view.click(id::MarginDisable);
    view.click(id::OK);
    sched.advance(10 * 50);
    EXPECT_EQ(view.messages,
              (std::vector<std::string>{"Receive packet through Q-70 Bulk-in endpoint failed ! "
                                        "Please check USB connection again.",
                                        "Writing set data into Q-70 flash memory failed !"}));
    EXPECT_FALSE(view.enabled(id::OK)) << "the panel stays open while the board is away";
    // The link comes back by itself and reads the board's values; OK did not close.
    transport.responder = [this](const link::Request& r, ScriptedTransport& t) {
        board.answer(r, t);
    };
    sched.advance(3000);
    EXPECT_TRUE(view.endResults.empty());
    EXPECT_TRUE(view.enabled(id::OK));
    EXPECT_TRUE(view.isChecked(id::PaperLetter));
    EXPECT_TRUE(view.isChecked(id::MarginEnable));
}

TEST_F(SettingsTest, UnknownReportedValueChecksNeitherRadioAndIsWrittenBackAs255) {
    board.values[Paper] = 7;
    start();
    EXPECT_FALSE(view.isChecked(id::PaperA4));
    EXPECT_FALSE(view.isChecked(id::PaperLetter));
    EXPECT_EQ(model().device(Setting::Paper), 7);
    const std::size_t before = transport.written.size();
    view.click(id::MarginDisable);
    view.click(id::Apply);
    sched.advance(7 * 50);
    bool found = false;
    for (std::size_t i = before; i < transport.written.size(); ++i) {
        if (transport.written[i][4] == Paper) {
            EXPECT_EQ(transport.written[i][5], 0xFF);
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(SettingsTest, ImageModeRadiosNeedATypeWBoard) {
    board.typeLetter = 'w';
    start();
    EXPECT_TRUE(view.enabled(id::PrintModeOriginal));
    EXPECT_TRUE(view.enabled(id::SaveModeMatch));
}

TEST_F(SettingsTest, OtherBoardsStillReadAndWriteTheImageModes) {
    board.typeLetter = 'S';
    start();
    for (int c :
         {id::PrintModeOriginal, id::PrintModeMatch, id::SaveModeOriginal, id::SaveModeMatch}) {
        EXPECT_FALSE(view.enabled(c)) << c;
    }
    EXPECT_TRUE(view.enabled(id::PaperA4));
    EXPECT_TRUE(view.isChecked(id::PrintModeOriginal)) << "still read from the board";
    const std::size_t before = transport.written.size();
    view.click(id::MarginDisable);
    view.click(id::Apply);
    sched.advance(7 * 50);
    const auto codes = writtenCodes(before);
    EXPECT_NE(std::find(codes.begin(), codes.end(), PrintMode), codes.end());
    EXPECT_NE(std::find(codes.begin(), codes.end(), SaveMode), codes.end());
}

TEST_F(SettingsTest, BusyStatesCloseThePanelAndUnknownStatesLeaveIt) {
    start();
    board.state = 4;
    sched.advance(1000);
    EXPECT_FALSE(view.enabled(id::OK));
    board.state = 7;
    sched.advance(3000);
    EXPECT_FALSE(view.enabled(id::OK));
    board.state = 17;
    sched.advance(1000);
    EXPECT_FALSE(view.enabled(id::OK));
    board.state = 1;
    sched.advance(1000);
    EXPECT_TRUE(view.enabled(id::OK));
    board.state = 7;
    sched.advance(1000);
    EXPECT_TRUE(view.enabled(id::OK));
}

TEST_F(SettingsTest, DuringAFirmwareUpdateOnlyCancelStaysUsable) {
    writeFile("fw.mot", std::string(40, 'S') + "\n");
    board.firmwareAnswer = link::code::NoAction;  // the transfer stalls after the start request
    start();
    view.click(id::MarginDisable);
    view.typePath((folder / "fw.mot").string());
    view.click(id::Update);
    ASSERT_TRUE(controller->firmwareUpdating());
    for (bool enable : {true, false, true}) {
        controller->panel().setPanelEnabled(enable);
        EXPECT_FALSE(view.enabled(id::Reset));
        EXPECT_FALSE(view.enabled(id::OK));
        EXPECT_FALSE(view.enabled(id::Update));
        EXPECT_TRUE(view.enabled(id::Cancel));
        EXPECT_TRUE(view.enabled(id::Apply)) << "Apply follows dirty";
    }
    // Once the update has ended the panel is open again.
    sched.advance(2000);
    EXPECT_FALSE(controller->firmwareUpdating());
    EXPECT_TRUE(view.enabled(id::Reset));
    EXPECT_TRUE(view.enabled(id::Cancel));
}

TEST(SettingsTable, NamesAndCodesAgree) {
    for (const auto& i : settings::settingTable()) {
        EXPECT_EQ(settings::settingForCode(i.requestCode), i.setting);
        EXPECT_EQ(settings::settingForRadio(i.radioIds[1]), i.setting);
        EXPECT_EQ(i.imageMode, i.requestCode == PrintMode || i.requestCode == SaveMode);
    }
}

}  // namespace
}  // namespace q70::test
