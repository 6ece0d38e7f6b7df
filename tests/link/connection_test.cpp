#include "link/connection.hpp"

#include "link_fixture.hpp"

namespace q70::test {
namespace {

using namespace q70::link;

// A board that answers every request at once, like the simulated one, with a fixed state.
class ConnectionTest : public LinkFixture {
  protected:
    void SetUp() override {
        LinkFixture::SetUp();
        transport.responder = [this](const Request& r, ScriptedTransport& t) {
            if (r.code == code::GetStatus) {
                t.queueAnswer(encodeStatusAnswer({boardState, false, false}));
            } else if (r.code == code::GetDeviceInfo) {
                DeviceInfo info;
                info.deviceType = 'W';
                t.queueAnswer(encodeDeviceInfoAnswer(info));
            } else if (r.code == code::GetFirmwareVersion) {
                t.queueAnswer(encodeVersionAnswer("V1.23"));
            } else if (isSettingCode(r.code) && r.payload.empty()) {
                t.queueAnswer(encodeSettingAnswer(r.code, 1));
            } else {
                t.queueAnswer(encodeAnswer(code::Acknowledge));
            }
        };
    }

    void start() {
        conn.openAtStart();
        engine.resetTransferState();
        conn.startTimers();
        conn.queueStartSequence();
    }

    std::vector<std::uint8_t> writtenCodes() const {
        std::vector<std::uint8_t> codes;
        for (const auto& w : transport.written) codes.push_back(w[4]);
        return codes;
    }

    std::uint8_t boardState = 1;
};

const std::vector<std::uint8_t> kStart(kStartSequence.begin(), kStartSequence.end());

TEST_F(ConnectionTest, StartSequenceGoesOutOnePerTickThenPollsEverySecond) {
    start();
    EXPECT_EQ(engine.queuedBytes(), 40u);
    sched.advance(8 * 50);
    EXPECT_EQ(writtenCodes(), kStart);
    EXPECT_EQ(listener.versions, std::vector<std::string>{"V1.23"});
    EXPECT_EQ(listener.reports.size(), 5u);
    EXPECT_EQ(listener.states, std::vector<std::uint8_t>{1});
    EXPECT_EQ(sched.period(kPumpTimer), kIdlePeriodMs);

    sched.advance(3000);
    EXPECT_EQ(transport.written.size(), 8u + 3u);
    EXPECT_EQ(writtenCodes().back(), code::GetStatus);
}

TEST_F(ConnectionTest, BoardAbsentAtStartThenPluggedIn) {
    transport.openSucceeds = false;
    start();
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::USBOpenError});
    sched.advance(500);
    EXPECT_TRUE(transport.written.empty());
    EXPECT_EQ(engine.queuedBytes(), 40u);
    EXPECT_EQ(listener.messages.size(), 1u) << "reopen attempts are silent";

    transport.openSucceeds = true;
    const std::uint64_t plugged = sched.nowMs();
    sched.advance(50);
    EXPECT_TRUE(conn.deviceOpen());
    sched.advance(8 * 50);
    EXPECT_EQ(writtenCodes(), kStart);
    // One request per 50 ms tick once the device is back.
    EXPECT_LE(sched.nowMs() - plugged, 9u * 50u);
}

TEST_F(ConnectionTest, UnplugWhilePollingStopsUntilAButtonRestartsTheLink) {
    start();
    sched.advance(8 * 50 + 1000);
    const std::size_t before = transport.written.size();
    transport.responder = [](const Request&, ScriptedTransport& t) { t.queueFailure(); };
    sched.advance(1000);
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::ReceivePktError});
    EXPECT_FALSE(sched.running(kPumpTimer));

    // Board back: reopened by timer 2, but nothing is sent until the pump restarts.
    transport.responder = nullptr;
    sched.advance(5000);
    EXPECT_TRUE(transport.isOpen());
    EXPECT_EQ(transport.written.size(), before + 1);
    EXPECT_EQ(listener.messages.size(), 1u);

    // What OK, Apply or Update do: queue requests and start timer 1.
    engine.enqueueRequest(code::GetStatus, 0);
    sched.startTimer(kPumpTimer, kFastPeriodMs);
    transport.queueAnswer(encodeStatusAnswer({1, false, false}));
    sched.advance(50);
    EXPECT_EQ(transport.written.size(), before + 2);
}

TEST_F(ConnectionTest, StateZeroFetchesTheImageAheadOfTheNextPoll) {
    start();
    boardState = 0;
    sched.advance(8 * 50);
    ASSERT_EQ(listener.states, std::vector<std::uint8_t>{0});
    EXPECT_EQ(sched.period(kPumpTimer), kFastPeriodMs);
    transport.responder = nullptr;
    transport.queueAnswer(encodeAnswer(code::NoAction));
    sched.advance(50);
    EXPECT_EQ(transport.written.back(), toBytes(encodeWithByte(code::GetTestImage, 0)));
    transport.queueAnswer(encodeStatusAnswer({1, false, false}));
    sched.advance(50);
    EXPECT_EQ(writtenCodes().back(), code::GetStatus);
}

TEST_F(ConnectionTest, NoPollDuringAFirmwareUpdate) {
    start();
    listener.firmwareUpdating = true;
    sched.advance(8 * 50);
    EXPECT_TRUE(engine.queueEmpty());
    sched.advance(5000);
    EXPECT_EQ(transport.written.size(), 8u);
}

TEST_F(ConnectionTest, LanguageChangeKeepsQueuedRequestsAheadOfAFreshStartSequence) {
    start();
    sched.advance(3 * 50);  // three of eight sent
    conn.suspend();
    EXPECT_FALSE(sched.running(kPumpTimer));
    EXPECT_FALSE(sched.running(kReconnectTimer));
    conn.resume();
    EXPECT_EQ(engine.queuedBytes(), 5u * 5u + 40u);
    sched.advance(13 * 50);
    std::vector<std::uint8_t> expected(kStart.begin(), kStart.end());
    expected.insert(expected.end(), kStart.begin(), kStart.end());
    EXPECT_EQ(writtenCodes(), expected);
}

}  // namespace
}  // namespace q70::test
