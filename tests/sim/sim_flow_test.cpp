// The link's flows against the in-process board: start sequence, polling, a settings
// write, the test image, a firmware update and every fault, through link::Connection on
// the manual clock.

#include <gtest/gtest.h>

#include "link/connection.hpp"
#include "sim/sim_transport.hpp"
#include "sim_support.hpp"
#include "support/manual_scheduler.hpp"

namespace q70::test {
namespace {

using namespace q70::link;
using sim::FaultKind;

class SimFlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sched.setHandler([this](int id) { conn.onTimer(id); });
        listener.attach(conn.engine());
    }

    void start() {
        conn.openAtStart();
        conn.engine().resetTransferState();
        conn.startTimers();
        conn.queueStartSequence();
    }
    // As the window's OK, Apply and Update buttons do after a failure.
    void restartPump() { sched.startTimer(kPumpTimer, kFastPeriodMs); }

    std::vector<std::uint8_t> requestCodes() const {
        std::vector<std::uint8_t> codes;
        for (const auto& r : requests) codes.push_back(r.size() > 4 ? r[4] : 0);
        return codes;
    }

    ManualScheduler sched;
    sim::BoardOptions options;
    sim::SimulatedBoard board{sched, options};
    std::vector<std::vector<std::uint8_t>> requests;
    sim::SimTransport transport{board};
    FlowListener listener;
    Connection conn{transport, sched, sched, listener, listener};
    const std::vector<std::uint8_t> kStart{kStartSequence.begin(), kStartSequence.end()};

    void recordRequests() {
        board.setRequestObserver(
            [this](std::span<const std::uint8_t> p) { requests.emplace_back(p.begin(), p.end()); });
    }
};

TEST_F(SimFlowTest, StartSequenceThenTheStatusPollEverySecond) {
    recordRequests();
    start();
    sched.advance(8 * 50);
    EXPECT_EQ(requestCodes(), kStart);
    ASSERT_EQ(listener.deviceInfos.size(), 1u);
    EXPECT_TRUE(listener.deviceInfos[0].deviceTypeW());
    EXPECT_EQ(listener.versions, std::vector<std::string>{"Q70 Ver 1.20"});
    EXPECT_EQ(listener.reports.size(), 5u);
    EXPECT_EQ(listener.states, std::vector<std::uint8_t>{1});
    EXPECT_EQ(sched.period(kPumpTimer), kIdlePeriodMs);

    sched.advance(5000);
    EXPECT_EQ(listener.states.size(), 6u);
    EXPECT_TRUE(listener.messages.empty());
    EXPECT_EQ(listener.unmatched, 0);
}

TEST_F(SimFlowTest, ASettingsWriteShowsBusyThenReady) {
    start();
    sched.advance(8 * 50);
    listener.settingValues[code::Paper] = 1;
    conn.engine().enqueueRequest(code::Paper, 1);
    conn.engine().enqueueRequest(code::SetDateTime, 1);
    restartPump();
    sched.advance(3000);
    EXPECT_EQ(board.settings().paper, 1);
    EXPECT_EQ(board.dateTime().year, 2004);
    // Polled every second: busy for 1.5 s after the clock write, then ready again.
    ASSERT_GE(listener.states.size(), 3u);
    EXPECT_NE(std::find(listener.states.begin(), listener.states.end(), options.busyState),
              listener.states.end());
    EXPECT_EQ(listener.states.back(), 1);
    EXPECT_EQ(listener.acks.size(), 2u);
}

TEST_F(SimFlowTest, AnOfferedTestImageArrivesWhole) {
    start();
    sched.advance(8 * 50);
    board.offerTestImage();
    sched.advance(1000);  // the next poll sees state 0 and fetches
    EXPECT_EQ(listener.states.back(), 0);
    sched.advance(300 * 50);
    ASSERT_EQ(listener.images.size(), 1u);
    EXPECT_EQ(listener.images[0], board.lastImageData());
    ASSERT_EQ(listener.headers.size(), 1u);
    EXPECT_EQ(listener.headers[0].width, 2160);
    EXPECT_EQ(listener.headers[0].height(), 1504u);
    EXPECT_TRUE(listener.messages.empty());
    sched.advance(2000);
    EXPECT_EQ(listener.states.back(), 1);  // offered once, fetched once
    EXPECT_EQ(listener.images.size(), 1u);
}

TEST_F(SimFlowTest, FirmwareUpdateInChunksChangesTheVersion) {
    recordRequests();
    start();
    sched.advance(8 * 50);
    requests.clear();
    listener.startFirmware(firmwareLines("Q70 Ver 3.01", 40));  // 42 lines: 16 + 16 + 10
    restartPump();
    sched.advance(40 * 50);
    EXPECT_EQ(board.firmwareUpdates(), 1u);
    EXPECT_EQ(board.version(), "Q70 Ver 3.01");
    EXPECT_EQ(board.firmwarePath(), "fw.mot");
    std::vector<std::uint8_t> subs;
    for (const auto& r : requests)
        if (r[4] == code::FirmwareData) subs.push_back(r[5]);
    EXPECT_EQ(subs, (std::vector<std::uint8_t>{0, 1, 1, 2}));

    listener.firmwareUpdating = false;
    conn.engine().enqueueRequest(code::GetFirmwareVersion, 0);
    restartPump();
    sched.advance(100);
    EXPECT_EQ(listener.versions.back(), "Q70 Ver 3.01");
}

TEST_F(SimFlowTest, AnswerFeAndFfAreTakenWithoutAction) {
    board.addFault({.kind = FaultKind::AnswerNoAction, .requestCode = code::Paper});
    board.addFault({.kind = FaultKind::AnswerContinue, .requestCode = code::Margin});
    start();
    sched.advance(8 * 50);
    EXPECT_EQ(listener.reports.size(), 3u);  // Paper and Margin were answered FE and FF
    EXPECT_EQ(listener.states, std::vector<std::uint8_t>{1});
    EXPECT_TRUE(listener.failures.empty());
    EXPECT_EQ(listener.firmwareContinues, 0);  // FF continues only a firmware transfer
}

TEST_F(SimFlowTest, AShortPacketIsABadPacket) {
    board.addFault(
        {.kind = FaultKind::ShortPacket, .requestCode = code::GetFirmwareVersion, .shortSize = 4});
    start();
    sched.advance(8 * 50);
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::ReceiveBadPkt});
    EXPECT_FALSE(sched.running(kPumpTimer));
    EXPECT_TRUE(conn.deviceOpen());
    restartPump();  // the rest of the start sequence still goes through
    sched.advance(7 * 50);
    EXPECT_EQ(listener.reports.size(), 5u);
}

TEST_F(SimFlowTest, AMismatchedAnswerStopsThePump) {
    board.addFault({.kind = FaultKind::MismatchedCode,
                    .requestCode = code::Paper,
                    .answerCode = code::PrintMode});
    start();
    sched.advance(8 * 50);
    EXPECT_EQ(listener.failures, std::vector<bool>{true});
    EXPECT_FALSE(sched.running(kPumpTimer));
    EXPECT_EQ(listener.unmatched, 1);
    // The print-mode report was stored before the mismatch stopped the exchange.
    EXPECT_EQ(listener.reports.back().first, code::PrintMode);
}

TEST_F(SimFlowTest, SilenceTimesOutAsAFailedRead) {
    board.addFault({.kind = FaultKind::Silence, .requestCode = code::GetStatus});
    start();
    sched.advance(7 * 50);
    EXPECT_TRUE(listener.messages.empty());
    sched.advance(conn.engine().options().answerTimeoutMs + 100);
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::ReceivePktError});
    // The reconnect timer reopens the handle the failed read closed, and the link starts
    // again by itself.
    sched.advance(100);
    EXPECT_TRUE(transport.isOpen());
    EXPECT_EQ(listener.restarts, 1);
}

TEST_F(SimFlowTest, UnplugBetweenExchangesAndReplug) {
    start();
    sched.advance(8 * 50);
    board.unplug(3000);
    sched.advance(1000);  // the next poll cannot be written
    EXPECT_FALSE(conn.deviceOpen());
    EXPECT_TRUE(listener.messages.empty());  // a failed write is silent
    sched.advance(1000);
    EXPECT_FALSE(transport.isOpen());  // reopening fails while it is away
    sched.advance(1100);
    EXPECT_TRUE(conn.deviceOpen());
    // The unsent request went out again, and the poll goes on by itself.
    sched.advance(2000);
    EXPECT_GE(listener.states.size(), 3u);
    EXPECT_TRUE(listener.messages.empty());
}

TEST_F(SimFlowTest, LostWhileAnAnswerIsOutstandingAndBackLater) {
    // The first poll after the start sequence is the board's ninth request.
    board.addFault({.kind = FaultKind::Lose, .fromRequest = 9, .downMs = 2000});
    start();
    sched.advance(8 * 50);
    sched.advance(1000);
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::ReceivePktError});
    EXPECT_FALSE(sched.running(kPumpTimer));
    EXPECT_FALSE(transport.isOpen());
    sched.advance(1500);
    EXPECT_FALSE(transport.isOpen());
    sched.advance(600);
    EXPECT_TRUE(transport.isOpen());
    // The start sequence runs again by itself and the poll goes on.
    sched.advance(10 * 50);
    EXPECT_EQ(listener.deviceInfos.size(), 2u);
    const auto polled = listener.states.size();
    sched.advance(3000);
    EXPECT_GT(listener.states.size(), polled);
    EXPECT_EQ(listener.messages.size(), 1u);
}

TEST_F(SimFlowTest, LossAfterAPacketCountDuringTheStartSequence) {
    board.loseAfterPackets(7, 200);  // the fourth request (SaveMode) is the seventh packet
    start();
    sched.advance(8 * 50);
    EXPECT_EQ(listener.versions.size(), 1u);
    EXPECT_EQ(listener.reports.size(), 1u);  // PrintMode only
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::ReceivePktError});
    sched.advance(300);
    EXPECT_TRUE(conn.deviceOpen());
    // All eight again, from a clean ring.
    sched.advance(8 * 50);
    EXPECT_EQ(listener.versions.size(), 2u);
    EXPECT_EQ(listener.reports.size(), 6u);
    EXPECT_EQ(listener.states.size(), 1u);
}

TEST_F(SimFlowTest, LossInTheMiddleOfATestImage) {
    board.addFault({.kind = FaultKind::Lose,
                    .requestCode = code::GetTestImage,
                    .answerPackets = 10,
                    .downMs = 500});
    start();
    sched.advance(8 * 50);
    board.offerTestImage();
    // Up to the loss, which the pump meets as soon as the packets stop.
    for (int tick = 0; tick < 60 && listener.messages.empty(); ++tick) sched.advance(50);
    EXPECT_TRUE(listener.images.empty());
    ASSERT_EQ(listener.headers.size(), 1u);
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::ReceivePktError});
    sched.advance(600);
    ASSERT_TRUE(conn.deviceOpen());
    // The board still offers the picture; the next poll fetches it whole.
    conn.resume();
    sched.advance(300 * 50);
    ASSERT_EQ(listener.images.size(), 1u);
    EXPECT_EQ(listener.images[0], board.lastImageData());
}

TEST_F(SimFlowTest, LossInTheMiddleOfAFirmwareTransfer) {
    board.addFault(
        {.kind = FaultKind::Lose, .requestCode = code::FirmwareData, .skip = 2, .downMs = 1000});
    start();
    sched.advance(8 * 50);
    listener.startFirmware(firmwareLines("V9", 60));
    restartPump();
    sched.advance(10 * 50);
    EXPECT_EQ(listener.firmwareLinkLost, 1);
    EXPECT_TRUE(listener.messages.empty());  // no message for a link lost mid-update
    EXPECT_EQ(sched.period(kReconnectTimer), kSlowReconnectPeriodMs);
    EXPECT_EQ(board.firmwareUpdates(), 0u);
    EXPECT_EQ(board.version(), "Q70 Ver 1.20");
    sched.advance(1500);
    EXPECT_TRUE(conn.deviceOpen());
    EXPECT_EQ(sched.period(kReconnectTimer), kFastPeriodMs);
}

}  // namespace
}  // namespace q70::test
