// The simulated board on its own: what it answers, its timing, the firmware it accepts,
// the picture it draws and every fault it can be asked for.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "firmware/srecord.hpp"
#include "link/date_time_text.hpp"
#include "sim/board_config.hpp"
#include "sim/simulated_board.hpp"
#include "sim/test_picture.hpp"
#include "sim_support.hpp"
#include "support/manual_scheduler.hpp"
#include "testimage/test_image.hpp"

namespace q70::test {
namespace {

using namespace q70::link;
using sim::Fault;
using sim::FaultKind;

class BoardTest : public ::testing::Test {
  protected:
    link::AnswerView view(const Packet& p) {
        return link::AnswerView(p.view(), readLength(p.view()));
    }
    // The single answer packet to a request.
    Packet one(const Packet& request) {
        auto answers = ask(board, request);
        EXPECT_EQ(answers.size(), 1u);
        return answers.empty() ? Packet{} : answers.front();
    }
    std::uint8_t state() {
        return decodeStatus(view(one(encodeBare(code::GetStatus)))).deviceState;
    }

    ManualScheduler clock;
    sim::BoardOptions options;
    sim::SimulatedBoard board{clock, options};
};

TEST_F(BoardTest, AnswersEveryReadWithPlausibleValues) {
    const DeviceInfo info = decodeDeviceInfo(view(one(encodeBare(code::GetDeviceInfo))));
    EXPECT_EQ(info.deviceType, 'W');
    EXPECT_TRUE(info.infoFlag);
    EXPECT_NE(info.infoLong1, 0u);
    EXPECT_FALSE(info.infoText.empty());

    EXPECT_EQ(view(one(encodeBare(code::GetFirmwareVersion))).text(5), "Q70 Ver 1.20");

    const StatusRecord status = decodeStatus(view(one(encodeBare(code::GetStatus))));
    EXPECT_EQ(status.deviceState, 1);
    EXPECT_TRUE(status.statusFlagA);
    EXPECT_FALSE(status.statusFlagB);

    const std::uint8_t expected[] = {0, 0, 0, 0, 1};  // print, save, paper, margin, stamp
    for (std::size_t i = 0; i < kSettingWriteOrder.size(); ++i) {
        const Packet a = one(encodeBare(kSettingWriteOrder[i]));
        EXPECT_EQ(a.bytes[4], kSettingWriteOrder[i]);
        EXPECT_EQ(a.bytes[5], expected[i]);
    }
}

TEST_F(BoardTest, TypeLetterIsSettable) {
    sim::BoardOptions o;
    o.deviceType = 'S';
    sim::SimulatedBoard other(clock, o);
    const auto answers = ask(other, encodeBare(code::GetDeviceInfo));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(decodeDeviceInfo(view(answers[0])).deviceType, 'S');
}

TEST_F(BoardTest, WritesAreAcknowledgedStoredAndLeaveTheBoardBusyForAMoment) {
    EXPECT_EQ(one(encodeWithByte(code::Paper, 1)).bytes[4], code::Acknowledge);
    EXPECT_EQ(board.settings().paper, 1);
    EXPECT_EQ(one(encodeBare(code::Paper)).bytes[5], 1);

    EXPECT_EQ(state(), options.busyState);
    clock.elapse(options.busyMs - 1);
    EXPECT_EQ(state(), options.busyState);
    clock.elapse(1);
    EXPECT_EQ(state(), 1);

    EXPECT_EQ(one(encodeSetDateTime({2004, 12, 31, 23, 59})).bytes[4], code::Acknowledge);
    EXPECT_EQ(board.dateTime().year, 2004);
    EXPECT_EQ(board.dateTime().minute, 59);
    EXPECT_EQ(state(), options.busyState);
}

TEST_F(BoardTest, RefusesWhatItCannotTake) {
    const auto revision = board.stateRevision();
    // A setting is 0 or 1; a window with no radio checked would send 0xFF.
    EXPECT_EQ(one(encodeWithByte(code::Margin, 0xFF)).bytes[4], code::NoAction);
    EXPECT_EQ(board.settings().margin, 0);
    EXPECT_EQ(one(encodeSetDateTime({2024, 13, 1, 0, 0})).bytes[4], code::NoAction);
    EXPECT_EQ(one(encodeBare(7)).bytes[4], code::NoAction);
    // A request shorter than its own length field.
    const std::uint8_t truncated[] = {9, 0, 0, 0, 6, 1};
    board.receive(truncated);
    Packet p;
    ASSERT_TRUE(board.nextAnswer(p));
    EXPECT_EQ(p.bytes[4], code::NoAction);
    EXPECT_EQ(board.stateRevision(), revision);
    EXPECT_EQ(state(), 1);  // nothing was written, so no busy spell
}

TEST_F(BoardTest, TestImageIsSentOnlyAfterAnOfferAndDecodesToThePicture) {
    EXPECT_EQ(one(encodeWithByte(code::GetTestImage, 0)).bytes[4], code::NoAction);

    board.offerTestImage();
    EXPECT_EQ(state(), 0);
    EXPECT_EQ(state(), 0);  // stays offered until it has been fetched
    const auto packets = ask(board, encodeWithByte(code::GetTestImage, 0));
    ASSERT_GT(packets.size(), 2u);
    EXPECT_EQ(board.imagesSent(), 1u);
    EXPECT_EQ(state(), 1);

    const TestImageHeader h =
        decodeTestImageHeader(packets[0].view(), readLength(packets[0].view()));
    EXPECT_EQ(h.deviceType, 'W');
    EXPECT_EQ(h.width, 2160);
    EXPECT_EQ(h.height(), 1504u);
    EXPECT_EQ(packets[0].size, kPacketSize);
    std::vector<std::uint8_t> data(packets[0].bytes.begin() + 10, packets[0].bytes.end());
    for (std::size_t i = 1; i < packets.size(); ++i) {
        if (i + 1 < packets.size()) {
            EXPECT_EQ(packets[i].size, kPacketSize);
        }
        data.insert(data.end(), packets[i].bytes.begin(),
                    packets[i].bytes.begin() + packets[i].size);
    }
    EXPECT_EQ(data.size(), h.dataSize);
    ASSERT_EQ(data, board.lastImageData());

    // Decode it as the window will and compare every pixel with what was drawn.
    const auto folder = std::filesystem::temp_directory_path() /
                        ("q70board" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    testimage::TestImage image;
    image.setProgramFolder(folder.string());
    image.setHeader(h.width, h.height(), h.dataSize, h.deviceType);
    ASSERT_TRUE(image.saveRawData(data));
    ASSERT_TRUE(image.buildBitmap());
    std::filesystem::remove_all(folder);
    const sim::ScanLines& lines = board.lastImageLines();
    const auto bits = image.bits();
    std::size_t mismatches = 0;
    for (std::uint32_t row = 0; row < h.height(); ++row) {  // stored bottom-up
        for (std::uint32_t x = 0; x < h.width; ++x) {
            const bool pixel = bits[row * image.stride() + x / 8] & (0x80u >> (x % 8));
            if (pixel != lines.inkAt(x, h.height() - 1 - row)) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST_F(BoardTest, ImagesAreEncodedDifferentlyEachTime) {
    board.offerTestImage();
    ask(board, encodeWithByte(code::GetTestImage, 0));
    const auto first = board.lastImageData();
    board.offerTestImage();
    ask(board, encodeWithByte(code::GetTestImage, 0));
    EXPECT_NE(first, board.lastImageData());
    // Several blocks: the data does not end after its first block.
    ASSERT_GT(first.size(), 2u);
    const std::size_t firstBlock = 2 + (std::size_t{first[0]} << 8 | first[1]);
    EXPECT_LT(firstBlock, first.size());
}

TEST_F(BoardTest, OffersImagesOnSchedule) {
    sim::BoardOptions o;
    o.firstImageAfterMs = 3000;
    o.imageEveryMs = 10000;
    sim::SimulatedBoard timed(clock, o);
    auto stateOf = [&] {
        const auto a = ask(timed, encodeBare(code::GetStatus));
        return a.size() == 1 ? a[0].bytes[5] : 0xEE;
    };
    clock.elapse(2999);
    EXPECT_EQ(stateOf(), 1);
    clock.elapse(1);
    EXPECT_EQ(stateOf(), 0);
    ask(timed, encodeWithByte(code::GetTestImage, 0));
    EXPECT_EQ(stateOf(), 1);
    clock.elapse(10000);
    EXPECT_EQ(stateOf(), 0);
}

TEST(TestPicture, NameReadsUprightWithScanLineZeroLeftAndDotZeroAtTheBottom) {
    const sim::ScanLines lines = sim::drawTestPicture({"L", ""});
    const sim::TextBox& box = lines.nameBox;
    const std::uint32_t s = box.scale;
    ASSERT_GT(s, 10u);
    auto dot = [&](std::uint32_t col, std::uint32_t row) {  // centre of a font dot
        return lines.inkAt(box.x + col * s + s / 2, box.y + row * s + s / 2);
    };
    // L: the stem on the left from top to bottom, the foot along the bottom to the right.
    for (std::uint32_t row = 0; row < 7; ++row) EXPECT_TRUE(dot(0, row)) << row;
    for (std::uint32_t col = 0; col < 5; ++col) EXPECT_TRUE(dot(col, 6)) << col;
    EXPECT_FALSE(dot(4, 0));
    EXPECT_FALSE(dot(2, 3));

    // Frame: the whole first scan line is ink, and dot 0 (bottom row) of every line.
    for (std::uint32_t y = 0; y < 1504; ++y) ASSERT_TRUE(lines.inkAt(0, y));
    for (std::uint32_t x = 0; x < 2160; ++x) ASSERT_TRUE(lines.bytes[x * 188] & 0x80);
}

TEST(SRecords, ChecksumsAndTheHeaderText) {
    const std::string good = sRecord('1', {0x12, 0x34, 0xAB, 0xCD});
    ASSERT_TRUE(firmware::parseSRecord(good));
    EXPECT_EQ(firmware::parseSRecord(good)->bytes,
              (std::vector<std::uint8_t>{0x12, 0x34, 0xAB, 0xCD}));
    EXPECT_EQ(firmware::parseSRecord("S00F000068656C6C6F202020202000003C")->type, '0');
    EXPECT_EQ(firmware::headerText(*firmware::parseSRecord("S00F000068656C6C6F202020202000003C")),
              "hello     ");

    std::string bad = good;
    bad[bad.size() - 1] = bad.back() == '0' ? '1' : '0';
    EXPECT_FALSE(firmware::parseSRecord(bad));                              // checksum
    EXPECT_FALSE(firmware::parseSRecord(good.substr(0, good.size() - 1)));  // odd digits
    EXPECT_FALSE(firmware::parseSRecord("S1051234ABCD"));  // count says more than there is
    EXPECT_FALSE(firmware::parseSRecord("X1031234B6"));
    EXPECT_FALSE(firmware::parseSRecord("S10312G4B6"));
    EXPECT_FALSE(firmware::parseSRecord(""));
}

class FirmwareTest : public BoardTest {
  protected:
    std::uint8_t send(std::uint8_t sub, const std::string& text) {
        const auto span =
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        return one(encodeFirmwareData(sub, span)).bytes[4];
    }
    std::string joined(const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
        std::string s;
        for (std::size_t i = from; i < to; ++i) s += lines[i] + "\n";
        return s;
    }
};

TEST_F(FirmwareTest, AnUpdateChangesTheReportedVersion) {
    const auto lines = firmwareLines("Q70 Ver 2.00", 20);  // 22 lines
    EXPECT_EQ(send(firmware_sub::Start, "fw.mot"), code::Acknowledge);
    EXPECT_EQ(board.firmwarePath(), "fw.mot");
    EXPECT_EQ(send(firmware_sub::Chunk, joined(lines, 0, 16)), code::Acknowledge);
    EXPECT_EQ(board.version(), "Q70 Ver 1.20");  // not before the last chunk
    EXPECT_EQ(send(firmware_sub::LastChunk, joined(lines, 16, 22)), code::Acknowledge);
    EXPECT_EQ(board.version(), "Q70 Ver 2.00");
    EXPECT_EQ(board.firmwareText(), joined(lines, 0, 22));
    EXPECT_EQ(board.firmwareUpdates(), 1u);
    EXPECT_EQ(view(one(encodeBare(code::GetFirmwareVersion))).text(5), "Q70 Ver 2.00");
    // A chunk after the end belongs to no transfer.
    EXPECT_EQ(send(firmware_sub::LastChunk, "\n"), code::NoAction);
}

TEST_F(FirmwareTest, CrLfLinesAreAccepted) {
    const auto lines = firmwareLines("V3", 2);
    EXPECT_EQ(send(firmware_sub::Start, "a.mot"), code::Acknowledge);
    EXPECT_EQ(send(firmware_sub::LastChunk, lines[0] + "\r\n" + lines[1] + "\r\n"),
              code::Acknowledge);
    EXPECT_EQ(board.version(), "V3");
}

TEST_F(FirmwareTest, ABadRecordRefusesTheUpdateAndKeepsTheOldVersion) {
    auto lines = firmwareLines("Q70 Ver 9.99", 3);
    lines[2][6] = lines[2][6] == 'F' ? '0' : 'F';  // one data digit changed
    EXPECT_EQ(send(firmware_sub::Start, "fw.mot"), code::Acknowledge);
    EXPECT_EQ(send(firmware_sub::LastChunk, joined(lines, 0, lines.size())), code::NoAction);
    EXPECT_TRUE(board.firmwareRejected());
    EXPECT_EQ(board.version(), "Q70 Ver 1.20");
    EXPECT_EQ(send(firmware_sub::LastChunk, "\n"), code::NoAction);  // the transfer is over
}

TEST_F(FirmwareTest, ChunksWithoutAStartAreRefused) {
    EXPECT_EQ(send(firmware_sub::Chunk, firmwareLines("X", 1)[1] + "\n"), code::NoAction);
    EXPECT_EQ(send(7, "fw.mot"), code::NoAction);
}

// ---- Faults ----------------------------------------------------------------------------

TEST_F(BoardTest, AnswerFaultsReplaceTheAnswerAndLeaveTheRequestUndone) {
    board.addFault({.kind = FaultKind::AnswerNoAction, .requestCode = code::Paper});
    board.addFault({.kind = FaultKind::AnswerContinue, .requestCode = code::Margin});
    board.addFault(
        {.kind = FaultKind::ShortPacket, .requestCode = code::GetDeviceInfo, .shortSize = 3});
    board.addFault({.kind = FaultKind::MismatchedCode,
                    .requestCode = code::SaveMode,
                    .answerCode = code::PrintMode});
    board.addFault({.kind = FaultKind::Forget, .requestCode = code::TimeStamp});

    // Acknowledged, and still the old value.
    EXPECT_EQ(one(encodeWithByte(code::TimeStamp, 0)).bytes[4], code::Acknowledge);
    EXPECT_EQ(board.settings().timeStamp, 1);
    EXPECT_EQ(bytesOf(one(encodeWithByte(code::Paper, 1))),
              (std::vector<std::uint8_t>{1, 0, 0, 0, 0xFE}));
    EXPECT_EQ(board.settings().paper, 0);
    EXPECT_EQ(one(encodeBare(code::Margin)).bytes[4], 0xFF);
    EXPECT_EQ(one(encodeBare(code::GetDeviceInfo)).size, 3u);
    const Packet m = one(encodeBare(code::SaveMode));
    EXPECT_EQ(m.bytes[4], code::PrintMode);  // a print-mode report to a save-mode request

    // Each rule struck once (times = 1): the same requests are answered normally now.
    EXPECT_EQ(one(encodeBare(code::Paper)).bytes[4], code::Paper);
    EXPECT_EQ(one(encodeBare(code::GetDeviceInfo)).bytes[4], code::GetDeviceInfo);
}

TEST_F(BoardTest, AMismatchIsAlwaysAMismatch) {
    // Asked to answer with the request's own code or a code any request accepts, the board
    // picks one that fits no request instead.
    board.addFault(
        {.kind = FaultKind::MismatchedCode, .times = 0, .answerCode = code::Acknowledge});
    board.addFault({.kind = FaultKind::MismatchedCode, .times = 0, .answerCode = code::GetStatus});
    const std::uint8_t c = one(encodeBare(code::GetStatus)).bytes[4];
    EXPECT_NE(c, code::GetStatus);
    EXPECT_NE(c, code::Acknowledge);
    EXPECT_NE(c, code::NoAction);
    EXPECT_NE(c, code::Continue);
}

TEST_F(BoardTest, FaultsCountSkipTimesAndRequestNumbers) {
    board.addFault(
        {.kind = FaultKind::Silence, .requestCode = code::GetStatus, .skip = 1, .times = 2});
    EXPECT_EQ(ask(board, encodeBare(code::GetStatus)).size(), 1u);  // skipped
    EXPECT_EQ(ask(board, encodeBare(code::GetStatus)).size(), 0u);
    EXPECT_EQ(ask(board, encodeBare(code::GetFirmwareVersion)).size(), 1u);  // other code
    EXPECT_EQ(ask(board, encodeBare(code::GetStatus)).size(), 0u);
    EXPECT_EQ(ask(board, encodeBare(code::GetStatus)).size(), 1u);  // used up

    board.clearFaults();
    board.addFault({.kind = FaultKind::AnswerNoAction, .fromRequest = 8, .times = 0});
    EXPECT_EQ(board.requestCount(), 5u);
    EXPECT_EQ(one(encodeBare(code::GetStatus)).bytes[4], code::GetStatus);  // request 6
    EXPECT_EQ(one(encodeBare(code::GetStatus)).bytes[4], code::GetStatus);  // request 7
    EXPECT_EQ(one(encodeBare(code::GetStatus)).bytes[4], code::NoAction);   // request 8
    EXPECT_EQ(one(encodeBare(code::GetStatus)).bytes[4], code::NoAction);   // and on
}

TEST_F(BoardTest, ALostBoardIsGoneUntilItComesBack) {
    board.addFault({.kind = FaultKind::Lose, .requestCode = code::Margin, .downMs = 500});
    board.connect();
    const auto epoch = board.presenceEpoch();
    EXPECT_FALSE(board.receive(encodeBare(code::Margin).view()) && board.present());
    EXPECT_FALSE(board.present());
    EXPECT_NE(board.presenceEpoch(), epoch);
    EXPECT_FALSE(board.receive(encodeBare(code::GetStatus).view()));
    Packet p;
    EXPECT_FALSE(board.nextAnswer(p));
    clock.elapse(499);
    EXPECT_FALSE(board.present());
    clock.elapse(1);
    EXPECT_TRUE(board.present());
    EXPECT_EQ(one(encodeBare(code::Margin)).bytes[4], code::Margin);  // struck once only
}

TEST_F(BoardTest, LossInTheMiddleOfATestImage) {
    board.offerTestImage();
    board.addFault({.kind = FaultKind::Lose,
                    .requestCode = code::GetTestImage,
                    .answerPackets = 5,
                    .downMs = 0});
    const auto packets = ask(board, encodeWithByte(code::GetTestImage, 0));
    EXPECT_EQ(packets.size(), 5u);
    EXPECT_FALSE(board.present());
    clock.elapse(1000000);
    EXPECT_FALSE(board.present());  // down 0: until replugged
    board.replug();
    EXPECT_TRUE(board.present());
    EXPECT_EQ(state(), 0);  // the image is still on offer
    EXPECT_EQ(board.imagesSent(), 0u);
}

TEST_F(BoardTest, LossAfterAGivenNumberOfPackets) {
    board.loseAfterPackets(5, 100);  // two exchanges, then a request that gets no answer
    EXPECT_EQ(ask(board, encodeBare(code::GetStatus)).size(), 1u);
    EXPECT_EQ(ask(board, encodeBare(code::GetStatus)).size(), 1u);
    EXPECT_EQ(ask(board, encodeBare(code::GetStatus)).size(), 0u);
    EXPECT_FALSE(board.present());
    clock.elapse(100);
    EXPECT_TRUE(board.present());
    EXPECT_EQ(ask(board, encodeBare(code::GetStatus)).size(), 1u);
}

TEST_F(BoardTest, LossDuringAFirmwareTransferEndsIt) {
    const auto lines = firmwareLines("V5", 40);
    std::string chunk;
    for (int i = 0; i < 16; ++i) chunk += lines[static_cast<std::size_t>(i)] + "\n";
    const auto text = std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
    board.addFault(
        {.kind = FaultKind::Lose, .requestCode = code::FirmwareData, .skip = 2, .downMs = 10});
    const std::string path = "x.mot";
    one(encodeFirmwareData(
        firmware_sub::Start,
        std::span(reinterpret_cast<const std::uint8_t*>(path.data()), path.size())));
    one(encodeFirmwareData(firmware_sub::Chunk, text));
    EXPECT_TRUE(ask(board, encodeFirmwareData(firmware_sub::Chunk, text)).empty());
    EXPECT_FALSE(board.firmwareReceiving());
    clock.elapse(10);
    EXPECT_EQ(one(encodeFirmwareData(firmware_sub::LastChunk, text)).bytes[4], code::NoAction);
    EXPECT_EQ(board.version(), "Q70 Ver 1.20");
}

// ---- Text forms ------------------------------------------------------------------------

TEST(BoardConfig, FaultSpecs) {
    Fault f;
    std::string error;
    ASSERT_TRUE(sim::parseFault("lose:code=4:after=20:down=0x10:skip=1:times=0:from=3", f, error))
        << error;
    EXPECT_EQ(f.kind, FaultKind::Lose);
    EXPECT_EQ(f.requestCode, 4);
    EXPECT_EQ(f.answerPackets, 20u);
    EXPECT_EQ(f.downMs, 16u);
    EXPECT_EQ(f.skip, 1u);
    EXPECT_EQ(f.times, 0u);
    EXPECT_EQ(f.fromRequest, 3u);
    Fault back;
    ASSERT_TRUE(sim::parseFault(sim::describeFault(f), back, error));
    EXPECT_EQ(sim::describeFault(back), sim::describeFault(f));

    ASSERT_TRUE(sim::parseFault("silence", f, error));
    EXPECT_EQ(f.kind, FaultKind::Silence);
    EXPECT_EQ(f.requestCode, -1);
    ASSERT_TRUE(sim::parseFault("forget:code=18", f, error));
    EXPECT_EQ(f.kind, FaultKind::Forget);
    EXPECT_EQ(sim::describeFault(f), "forget:code=18:times=1");
    ASSERT_TRUE(sim::parseFault("short:size=1", f, error));
    EXPECT_EQ(f.shortSize, 1);

    for (const char* bad : {"", "boom", "fe:code", "fe:code=256", "fe:code=x", "short:size=5",
                            "short:size=0", "fe:after=3", "mismatch:down=1", "fe:colour=3"}) {
        error.clear();
        EXPECT_FALSE(sim::parseFault(bad, f, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(BoardConfig, StateFileRoundTripsAndRejectsBadLines) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("q70state" + std::to_string(std::random_device{}()));
    sim::BoardState state;
    state.settings = {1, 0, 1, 1, 0};
    state.dateTime = {2031, 2, 3, 4, 5};
    state.version = "Q70 Ver 7.1";
    std::string error;
    ASSERT_TRUE(sim::saveBoardState(file, state, error)) << error;
    sim::BoardState loaded;
    ASSERT_TRUE(sim::loadBoardState(file, loaded, error)) << error;
    EXPECT_EQ(loaded.settings, state.settings);
    EXPECT_EQ(link::formatDateTime(loaded.dateTime), "2031-02-03T04:05");
    EXPECT_EQ(loaded.version, "Q70 Ver 7.1");

    { std::ofstream(file) << "paper=letter\nfuture-key=1\nmargin=maybe\n"; }
    sim::BoardState partial = state;
    EXPECT_FALSE(sim::loadBoardState(file, partial, error));
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    EXPECT_EQ(partial.version, "Q70 Ver 7.1");  // untouched on failure
    std::filesystem::remove(file);
    EXPECT_FALSE(sim::loadBoardState(file, partial, error));

    link::DateTime dt;
    EXPECT_FALSE(link::parseDateTime("2024-1-01T00:00", dt, error));
    EXPECT_FALSE(link::parseDateTime("2024-01-01T24:00", dt, error));
    EXPECT_FALSE(link::parseDateTime("2024-01-+1T00:00", dt, error));
}

}  // namespace
}  // namespace q70::test
