#include <gtest/gtest.h>

#include <random>

#include "firmware/firmware_transfer.hpp"
#include "support/controller_fixture.hpp"

namespace q70::test {
namespace {

namespace id = window::id;

// An S-record-like line of exactly `length` characters.
std::string line(std::size_t length, char fill = '0') {
    std::string s = "S1";
    s.resize(length, fill);
    return s;
}

std::string lines(int count, std::size_t length) {
    std::string s;
    for (int i = 0; i < count; ++i) s += line(length, static_cast<char>('A' + i % 26)) + "\n";
    return s;
}

struct Chunk {
    std::uint8_t subCode;
    std::string text;
};

class FirmwareTest : public ControllerFixture {
  protected:
    // The data requests the board received, in order (the start request apart).
    std::vector<Chunk> chunks() const {
        std::vector<Chunk> out;
        for (const auto& p : board.firmwareRequests) {
            if (p[5] == link::firmware_sub::Start) continue;
            out.push_back({p[5], std::string(p.begin() + 6, p.end() - 1)});
        }
        return out;
    }
    std::string startText() const {
        for (const auto& p : board.firmwareRequests) {
            if (p[5] == link::firmware_sub::Start) return std::string(p.begin() + 6, p.end() - 1);
        }
        return "<none>";
    }
    std::string received() const {
        std::string all;
        for (const auto& c : chunks()) all += c.text;
        return all;
    }
    void update(const std::string& name, const std::string& content) {
        writeFile(name, content);
        view.typePath((folder / name).string());
        view.click(id::Update);
    }
};

TEST_F(FirmwareTest, SixteenLinesGoInOneLastChunk) {
    start();
    update("fw.mot", lines(16, 20));
    sched.advance(10 * 50);
    const auto c = chunks();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].subCode, link::firmware_sub::LastChunk);
    EXPECT_EQ(c[0].text, lines(16, 20));
    EXPECT_EQ(view.progress, 100);
    EXPECT_EQ(view.text(id::ProgressText), "Firmware update is in progress... 100% Completed.");
    EXPECT_EQ(board.firmwareRequests.size(), 2u) << "the last acknowledgement queues nothing";
    EXPECT_EQ(view.messages, std::vector<std::string>{"Q-70 firmware update succeeded !"});
    EXPECT_FALSE(controller->firmwareUpdating());
}

TEST_F(FirmwareTest, SeventeenLinesTakeTwoChunks) {
    start();
    update("fw.mot", lines(17, 20));
    sched.advance(10 * 50);
    const auto c = chunks();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].subCode, link::firmware_sub::Chunk);
    EXPECT_EQ(c[0].text, lines(16, 20));
    EXPECT_EQ(c[1].subCode, link::firmware_sub::LastChunk);
    EXPECT_EQ(c[1].text, line(20, 'Q') + "\n");
}

TEST_F(FirmwareTest, ProgressCountsTheChunkBeingSent) {
    start();
    update("fw.mot", lines(32, 20));
    EXPECT_TRUE(view.visible(id::Progress));
    sched.advance(10 * 50);
    EXPECT_EQ(view.progressHistory,
              (std::vector<int>{0, 0, 50, 100}));  // area shown, start, chunks
    EXPECT_EQ(chunks().size(), 2u);
}

TEST_F(FirmwareTest, LineEndsBecomeOneLineFeed) {
    start();
    update("fw.mot", "S0030000FC\r\nS1050000AABB\r\nS9030000FC");
    sched.advance(10 * 50);
    EXPECT_EQ(received(), "S0030000FC\nS1050000AABB\nS9030000FC\n");
}

TEST_F(FirmwareTest, RealisticFileArrivesWholeInWholeLineChunks) {
    std::mt19937 rng(7);
    std::string file;
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        const std::size_t n = 10 + rng() % 69;  // 10 to 78 characters
        std::string l = line(n, static_cast<char>('0' + rng() % 10));
        file += l + (i % 3 == 0 ? "\r\n" : "\n");
        expected += l + "\n";
    }
    start();
    update("big.mot", file);
    const std::size_t before = transport.written.size();
    sched.advance(2000 * 50);
    EXPECT_EQ(received(), expected);
    for (const auto& c : chunks()) {
        EXPECT_LE(c.text.size(), link::kChunkCapacity);
        EXPECT_EQ(c.text.back(), '\n');
    }
    EXPECT_EQ(chunks().back().subCode, link::firmware_sub::LastChunk);
    // One exchange per tick: the start request and each chunk, after the poll queued before.
    std::size_t firmware = 0;
    for (std::size_t i = before; i < transport.written.size(); ++i) {
        if (transport.written[i][4] == link::code::FirmwareData) ++firmware;
    }
    EXPECT_EQ(firmware, chunks().size() + 1);
}

TEST_F(FirmwareTest, NChunksTakeNPlusOneTicks) {
    start();
    const std::string file = lines(16 * 20, 40);  // 20 chunks of 16 lines of 41 bytes
    writeFile("fw.mot", file);
    view.typePath((folder / "fw.mot").string());
    sched.advance(1000);  // let the poll settle: one GetStatus is queued behind each answer
    const std::uint64_t ticksBefore = sched.ticks(link::kPumpTimer);
    view.click(id::Update);
    while (chunks().size() < 20) {
        ASSERT_LT(sched.ticks(link::kPumpTimer) - ticksBefore, 100u);
        sched.step();
    }
    // The queued poll, the start request and 20 chunks.
    EXPECT_EQ(sched.ticks(link::kPumpTimer) - ticksBefore, 22u);
}

TEST_F(FirmwareTest, StartRequestCarriesTheFieldTextNotTheFullPath) {
    start();
    writeFile("chosen.mot", lines(3, 12));
    view.firmwareChoices.push_back((folder / "chosen.mot").string());
    view.click(id::FileSelect);
    EXPECT_EQ(view.text(id::FirmwarePath), "chosen.mot");
    EXPECT_EQ(controller->firmware().filePath, "chosen.mot");
    EXPECT_TRUE(view.enabled(id::Update));
    EXPECT_TRUE(view.isChecked(id::RadioProgram));
    EXPECT_FALSE(view.enabled(id::RadioFull));
    view.click(id::Update);  // the bare name opens: the chosen folder is now the current one
    sched.advance(5 * 50);
    EXPECT_EQ(startText(), "chosen.mot");
    EXPECT_EQ(received(), lines(3, 12));
}

TEST_F(FirmwareTest, CancelledDialogChangesNothing) {
    start();
    view.typePath("kept.mot");
    view.firmwareChoices.push_back(std::nullopt);
    view.click(id::FileSelect);
    EXPECT_EQ(view.text(id::FirmwarePath), "kept.mot");
    EXPECT_EQ(controller->firmware().filePath, "kept.mot");
    EXPECT_TRUE(view.enabled(id::Update));
}

TEST_F(FirmwareTest, TypedNamesAreRelativeToTheCurrentFolder) {
    start();
    writeFile("typed.mot", lines(2, 12));
    std::filesystem::current_path(folder);
    view.typePath("typed.mot");
    EXPECT_TRUE(view.enabled(id::Update));
    view.click(id::Update);
    sched.advance(5 * 50);
    EXPECT_EQ(startText(), "typed.mot");
    EXPECT_EQ(received(), lines(2, 12));
}

TEST_F(FirmwareTest, FileThatCannotBeOpenedIsReportedAndNothingIsSent) {
    start();
    const std::size_t before = transport.written.size();
    view.typePath("elsewhere/missing.mot");
    view.click(id::Update);
    EXPECT_EQ(view.messages,
              std::vector<std::string>{"Unable to open the file:elsewhere/missing.mot"});
    EXPECT_FALSE(view.enabled(id::FirmwarePath));
    EXPECT_FALSE(controller->firmwareUpdating());
    sched.advance(3000);
    for (auto c : writtenCodes(before)) EXPECT_NE(c, link::code::FirmwareData);
}

TEST_F(FirmwareTest, OverlongLinesAndPathsAreRefusedBeforeSending) {
    start();
    update("long.mot", lines(2, 20) + line(896) + "\n");
    EXPECT_EQ(view.messages, std::vector<std::string>{"Bad S format file !"});
    EXPECT_FALSE(controller->firmwareUpdating());

    const std::string longName = std::string(897, 'x');
    view.typePath(longName);
    view.click(id::Update);
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[1],
              "The path of the firmware file is too long to be sent to Q-70 (at most 896 bytes):" +
                  longName);
    sched.advance(1000);
    EXPECT_TRUE(board.firmwareRequests.empty());

    // 895 characters and the line feed still fit a chunk.
    view.messages.clear();
    update("edge.mot", line(895) + "\n" + line(895) + "\n");
    sched.advance(10 * 50);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Q-70 firmware update succeeded !"});
    EXPECT_EQ(chunks().size(), 2u);
}

TEST_F(FirmwareTest, EmptyFileShowsCompleteAndSendsOneLineFeed) {
    start();
    update("empty.mot", "");
    sched.advance(10 * 50);
    const auto c = chunks();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].text, "\n");
    EXPECT_EQ(c[0].subCode, link::firmware_sub::LastChunk);
    EXPECT_EQ(view.progress, 100);
}

TEST_F(FirmwareTest, UpdateWithTheBoardAbsentSendsOnceItIsBack) {
    transport.openSucceeds = false;
    start();
    ASSERT_EQ(view.messages.size(), 1u);
    update("fw.mot", lines(3, 12));
    EXPECT_EQ(view.progress, 0);
    EXPECT_TRUE(view.visible(id::Progress));
    sched.advance(1000);
    EXPECT_TRUE(transport.written.empty());
    transport.openSucceeds = true;
    sched.advance(20 * 50);
    EXPECT_EQ(startText(), (folder / "fw.mot").string());
    EXPECT_EQ(received(), lines(3, 12));
}

TEST_F(FirmwareTest, NoStatusPollDuringTheUpdateAndTheWindowComesBackAfterIt) {
    start();
    sched.advance(1000);
    update("fw.mot", lines(40, 20));
    const std::size_t from = transport.written.size();
    EXPECT_FALSE(view.languageMenuEnabled);
    sched.advance(60000);
    const auto codes = writtenCodes(from);
    // Only the poll queued before Update goes out while the chunks do.
    const auto last = std::find(codes.rbegin(), codes.rend(), link::code::FirmwareData);
    ASSERT_NE(last, codes.rend());
    const std::vector<std::uint8_t> during(codes.begin(), last.base());
    EXPECT_EQ(std::count(during.begin(), during.end(), link::code::GetStatus), 1);
    EXPECT_EQ(chunks().size(), 3u);
    // Then the board is read again (its new version) and the poll goes on.
    const std::vector<std::uint8_t> after(last.base(), codes.end());
    ASSERT_GE(after.size(), 10u);
    EXPECT_TRUE(
        std::equal(link::kStartSequence.begin(), link::kStartSequence.end(), after.begin()));
    EXPECT_EQ(after.back(), link::code::GetStatus);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Q-70 firmware update succeeded !"});
    EXPECT_EQ(view.progress, 100);
    EXPECT_TRUE(view.enabled(id::OK));
    EXPECT_TRUE(view.enabled(id::Update));
    EXPECT_TRUE(view.languageMenuEnabled);
}

TEST_F(FirmwareTest, LinkLossDuringTheTransferEndsItAsFailed) {
    start();
    update("fw.mot", lines(64, 20));
    sched.advance(2 * 50);
    transport.openSucceeds = false;
    transport.responder = [](const link::Request&, ScriptedTransport& t) { t.queueFailure(); };
    sched.advance(50);
    // The update's own message, not the link's.
    EXPECT_EQ(view.messages, std::vector<std::string>{"Q-70 firmware update failed !"});
    EXPECT_FALSE(view.visible(id::Progress));
    EXPECT_FALSE(view.visible(id::ProgressText));
    EXPECT_EQ(sched.period(link::kReconnectTimer), link::kSlowReconnectPeriodMs);
    EXPECT_FALSE(sched.running(link::kPumpTimer));
    EXPECT_FALSE(controller->firmwareUpdating());
    EXPECT_TRUE(view.enabled(id::Update)) << "the user cannot try again";
    EXPECT_FALSE(view.enabled(id::OK)) << "the panel is open while the board is away";
    EXPECT_TRUE(view.languageMenuEnabled);

    // The board comes back: the link starts again by itself and a second try goes through.
    transport.openSucceeds = true;
    transport.responder = [this](const link::Request& r, ScriptedTransport& t) {
        board.answer(r, t);
    };
    sched.advance(1500 + 10 * 50);
    EXPECT_TRUE(view.enabled(id::OK));
    board.firmwareRequests.clear();
    view.click(id::Update);
    sched.advance(10 * 50);
    EXPECT_EQ(received(), lines(64, 20));
    EXPECT_EQ(view.messages.back(), "Q-70 firmware update succeeded !");
}

TEST_F(FirmwareTest, ARefusalAtAnyChunkEndsTheUpdateAsFailed) {
    // 0xFE or a code that is no continuation, answered to the start request or any chunk;
    // each try in the same window after the one before failed.
    start();
    for (const std::uint8_t refusal : {link::code::NoAction, link::code::GetDeviceInfo}) {
        for (int at = 0; at < 4; ++at) {
            SCOPED_TRACE("answer " + std::to_string(refusal) + " at request " + std::to_string(at));
            view.messages.clear();
            board.firmwareRequests.clear();
            int seen = 0;
            transport.responder = [&, this](const link::Request& r, ScriptedTransport& t) {
                if (r.code == link::code::FirmwareData && seen++ == at) {
                    board.firmwareRequests.push_back(t.written.back());
                    t.queueAnswer(link::encodeAnswer(refusal));
                    return;
                }
                board.answer(r, t);
            };
            update("fw.mot", lines(40, 20));  // a start request and three chunks
            const int before = view.progress;
            sched.advance(20 * 50);
            EXPECT_EQ(view.messages, std::vector<std::string>{"Q-70 firmware update failed !"});
            EXPECT_EQ(board.firmwareRequests.size(), static_cast<std::size_t>(at + 1));
            EXPECT_FALSE(controller->firmwareUpdating());
            EXPECT_FALSE(view.visible(id::Progress));
            EXPECT_TRUE(view.enabled(id::Update));
            EXPECT_GE(view.progress, before);
            // The window is alive again: polled, and its panel open.
            sched.advance(3000);
            EXPECT_TRUE(view.enabled(id::OK));
            EXPECT_EQ(writtenCodes().back(), link::code::GetStatus);
        }
    }
}

TEST_F(FirmwareTest, ABoardAskingForMoreAfterTheLastChunkFailsTheUpdate) {
    start();
    board.firmwareAnswer = link::code::FirmwareData;  // 22 to everything
    update("fw.mot", lines(20, 20));
    sched.advance(40 * 50);
    // Start, 16 lines, 4 lines: then the request for more ends it.
    EXPECT_EQ(board.firmwareRequests.size(), 3u);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Q-70 firmware update failed !"});
    EXPECT_FALSE(controller->firmwareUpdating());
}

TEST_F(FirmwareTest, TheLanguageMenuCannotCutAnUpdateOff) {
    start();
    update("fw.mot", lines(40, 20));
    sched.advance(2 * 50);
    EXPECT_FALSE(view.languageMenuEnabled);
    controller->onCommand(id::CmdJapanese);  // a command that arrives all the same
    EXPECT_TRUE(controller->firmwareUpdating());
    EXPECT_EQ(controller->currentLanguage(), "ENGLISH");
    sched.advance(20 * 50);
    EXPECT_EQ(received(), lines(40, 20));
    EXPECT_EQ(view.messages, std::vector<std::string>{"Q-70 firmware update succeeded !"});
}

TEST_F(FirmwareTest, AChunkTheRingCannotTakeYetIsSentLater) {
    start();
    update("fw.mot", lines(40, 40));  // chunks of 656 bytes
    // Fill the ring behind the start request so the first chunk does not fit.
    auto& engine = controller->connection().engine();
    while (engine.freeBytes() > 600)
        ASSERT_TRUE(engine.enqueueRequest(link::code::GetDeviceInfo, 0));
    sched.advance(400 * 50);
    EXPECT_EQ(received(), lines(40, 40));
    EXPECT_EQ(view.messages.back(), "Q-70 firmware update succeeded !");
}

TEST_F(FirmwareTest, FilesThatAreNoFirmwareAreRefusedAtOnce) {
    start();
    std::filesystem::create_directories(folder / "folder.mot");
    writeFile("zero.mot", std::string("S00600004844521B\nS1") + '\0' + "3000\n");
    writeFile("huge.mot", "");
    std::filesystem::resize_file(folder / "huge.mot", firmware::kMaxFirmwareFileBytes + 1);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {(folder / "folder.mot").string(),
         "Unable to open the file:" + (folder / "folder.mot").string()},
        {(folder / "zero.mot").string(), "Bad S format file !"},
        {(folder / "huge.mot").string(),
         "The firmware file is larger than 64 MiB, more than any Q-70 firmware:" +
             (folder / "huge.mot").string()},
        {"/dev/zero", "Unable to open the file:/dev/zero"},
    };
    for (const auto& [path, message] : cases) {
        view.messages.clear();
        view.typePath(path);
        view.click(id::Update);
        EXPECT_EQ(view.messages, std::vector<std::string>{message}) << path;
        EXPECT_FALSE(controller->firmwareUpdating()) << path;
    }
    sched.advance(1000);
    EXPECT_TRUE(board.firmwareRequests.empty());
}

TEST_F(FirmwareTest, TheProgressLineFollowsALanguageSwitch) {
    start();
    update("fw.mot", lines(20, 20));
    sched.advance(10 * 50);
    ASSERT_EQ(view.progress, 100);
    std::filesystem::create_directories(folder / "Loc" / "JPN");
    writeFile("Loc/JPN/Q70Uty.ini",
              "[General]\nLanguage=JAPANESE\n[MessageText]\nMsgUpgradeInProgress=Koshin-chu\n"
              "MsgComplete=Kanryo\n");
    controller->onCommand(id::CmdJapanese);
    ASSERT_EQ(controller->currentLanguage(), "JAPANESE");
    EXPECT_EQ(view.text(id::ProgressText), "Koshin-chu 100% Kanryo");
}

TEST_F(FirmwareTest, ContinuationWithoutAnOpenFileDoesNothing) {
    start();
    board.version = "";
    // The board answers a status poll with 22: nothing to continue.
    transport.responder = [](const link::Request&, ScriptedTransport& t) {
        t.queueAnswer(link::encodeAnswer(link::code::FirmwareData));
    };
    sched.advance(2000);
    EXPECT_TRUE(board.firmwareRequests.empty());
    EXPECT_EQ(view.progress, -1);
}

TEST(FirmwareProgress, PercentNeverOverflowsOrDividesByZero) {
    EXPECT_EQ(firmware::progressPercent(0, 0), 100);
    EXPECT_EQ(firmware::progressPercent(50, 100), 50);
    const std::uint64_t big = 50'000'000;  // above what a 32-bit product can hold
    EXPECT_EQ(firmware::progressPercent(big / 2, big), 50);
    EXPECT_EQ(firmware::progressPercent(big - 1, big), 99);
    EXPECT_EQ(firmware::progressText("Firmware update is in progress...", 37, "Completed."),
              "Firmware update is in progress... 37% Completed.");
}

}  // namespace
}  // namespace q70::test
