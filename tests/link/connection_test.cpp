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

TEST_F(ConnectionTest, UnplugWhilePollingRestartsTheLinkOnceTheBoardIsBack) {
    start();
    sched.advance(8 * 50 + 1000);
    const auto respond = transport.responder;
    transport.responder = [](const Request&, ScriptedTransport& t) { t.queueFailure(); };
    transport.openSucceeds = false;  // unplugged
    sched.advance(1000);
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::ReceivePktError});
    EXPECT_FALSE(sched.running(kPumpTimer));
    EXPECT_TRUE(conn.linkDown());
    sched.advance(3000);
    EXPECT_EQ(listener.restarts, 0);

    // The board answers again: reopened, and the start sequence runs anew by itself, then
    // the poll goes on as after the first start.
    transport.responder = respond;
    transport.openSucceeds = true;
    const std::size_t before = transport.written.size();
    sched.advance(50 + 8 * 50);
    EXPECT_EQ(listener.restarts, 1);
    EXPECT_FALSE(conn.linkDown());
    ASSERT_GE(transport.written.size(), before + 8);
    const std::vector<std::uint8_t> codes = writtenCodes();
    EXPECT_EQ(std::vector<std::uint8_t>(codes.begin() + static_cast<std::ptrdiff_t>(before),
                                        codes.begin() + static_cast<std::ptrdiff_t>(before) + 8),
              std::vector<std::uint8_t>(kStart.begin(), kStart.end()));
    const std::size_t polled = transport.written.size();
    sched.advance(3000);
    EXPECT_GE(transport.written.size(), polled + 2) << "the poll did not resume";
    EXPECT_EQ(listener.messages.size(), 1u);
}

TEST_F(ConnectionTest, AFailedWriteRestartsTheLinkOnceTheDeviceReopens) {
    start();
    sched.advance(8 * 50 + 1000);
    transport.writeSucceeds = false;
    sched.advance(1000);
    ASSERT_FALSE(listener.failures.empty());
    EXPECT_FALSE(listener.failures.front());
    EXPECT_TRUE(listener.messages.empty()) << "a failed write is retried silently";
    transport.writeSucceeds = true;
    const std::size_t before = transport.written.size();
    sched.advance(100 + 8 * 50);
    EXPECT_GE(listener.restarts, 1);
    EXPECT_FALSE(conn.linkDown());
    EXPECT_GE(transport.written.size(), before + 8);
    EXPECT_EQ(writtenCodes().back(), code::GetStatus);
}

TEST_F(ConnectionTest, AWrongAnswerFromABoardStillThereRestartsAfterAPause) {
    start();
    sched.advance(8 * 50 + 1000);
    const auto respond = transport.responder;
    transport.responder = [](const Request&, ScriptedTransport& t) {
        t.queueAnswer(encodeSettingAnswer(code::Paper, 0));  // no status answer
    };
    sched.advance(1000);
    EXPECT_EQ(listener.failures, std::vector<bool>{true});
    transport.responder = respond;
    sched.advance(kRestartDelayMs - 200);
    EXPECT_EQ(listener.restarts, 0) << "restarted without a pause";
    sched.advance(400);
    EXPECT_EQ(listener.restarts, 1);
    sched.advance(8 * 50 + 2000);
    EXPECT_EQ(writtenCodes().back(), code::GetStatus);
}

TEST_F(ConnectionTest, AStatusRequestAnsweredWithoutAStatusKeepsThePollGoing) {
    for (const std::uint8_t answer : {code::Acknowledge, code::NoAction, code::Continue}) {
        transport.written.clear();
        start();
        sched.advance(8 * 50 + 1000);
        const auto respond = transport.responder;
        transport.responder = [answer](const Request&, ScriptedTransport& t) {
            t.queueAnswer(encodeAnswer(answer));
        };
        sched.advance(1000);  // one status request, answered without a status
        transport.responder = respond;
        const std::size_t before = transport.written.size();
        sched.advance(3000);
        EXPECT_GE(transport.written.size(), before + 2) << "answer " << int(answer);
        EXPECT_EQ(writtenCodes().back(), code::GetStatus);
        EXPECT_FALSE(conn.linkDown());
        conn.stopLink();
    }
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

TEST_F(ConnectionTest, ALanguageChangeOnAFullRingStillGetsTheStartSequence) {
    start();
    sched.advance(8 * 50 + 1000);
    conn.suspend();
    while (engine.freeBytes() >= 40) ASSERT_TRUE(engine.enqueueRequest(code::GetDeviceInfo, 0));
    conn.resume();
    EXPECT_EQ(engine.queuedBytes(), 40u) << "the reads were not queued";
    sched.advance(8 * 50);
    EXPECT_EQ(writtenCodes().back(), code::GetStatus);
}

}  // namespace
}  // namespace q70::test
