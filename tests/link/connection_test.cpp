#include "link/connection.hpp"

#include <functional>

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

TEST_F(ConnectionTest, ABoardHeldByAnotherProgramIsToldApartAtStart) {
    transport.openSucceeds = false;
    transport.problem = {true, "q70ctl", 4242};
    start();
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::DeviceBusy});
    EXPECT_EQ(conn.openProblem().holderPid, 4242u);
    // Retried like a board that is not plugged in, and taken once it is free.
    transport.openSucceeds = true;
    sched.advance(50 + 8 * 50);
    EXPECT_EQ(writtenCodes(), kStart);
}

TEST_F(ConnectionTest, ARemovalAlreadyToldSendsNothingMore) {
    start();
    sched.advance(8 * 50 + 100);
    // The pump alone, as when both timers fall due at once and the pump goes first.
    sched.stopTimer(kReconnectTimer);
    const std::size_t before = transport.written.size();
    transport.present = false;
    sched.advance(2000);
    EXPECT_EQ(transport.written.size(), before) << "a request written into the void";
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::ReceivePktError});
    ASSERT_EQ(listener.failureOutcomes.size(), 1u);
    EXPECT_EQ(listener.failureOutcomes[0].first, Outcome::Lost);
}

// Every way an exchange fails reaches the listener as a value, with the request it failed on.
TEST_F(ConnectionTest, EveryFailedExchangeSaysWhyAndOnWhichRequest) {
    struct Case {
        const char* what;
        // What the board sends for Paper; none: the write of Paper fails.
        std::function<void(ScriptedTransport&)> answerPaper;
        Outcome why;
    };
    const Case cases[] = {
        {"read fails", [](ScriptedTransport& t) { t.queueFailure(); }, Outcome::Lost},
        {"four bytes",
         [](ScriptedTransport& t) {
             t.queueBytes({3, 0, 0, 0});
         },
         Outcome::BadAnswer},
        {"another code",
         [](ScriptedTransport& t) { t.queueAnswer(encodeSettingAnswer(code::Margin, 0)); },
         Outcome::BadAnswer},
        {"silence", [](ScriptedTransport&) {}, Outcome::TimedOut},
        {"write fails", nullptr, Outcome::Lost},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedTransport board;
        ManualScheduler clock;
        RecordingListener told;
        Connection link(board, clock, clock, told, told);
        clock.setHandler([&](int id) { link.onTimer(id); });
        board.responder = [&](const Request& r, ScriptedTransport& t) {
            if (r.code == code::Paper) return c.answerPaper(t);
            transport.responder(r, t);
            if (r.code == code::SaveMode && !c.answerPaper) t.writeSucceeds = false;
        };
        link.openAtStart();
        link.engine().resetTransferState();
        link.startTimers();
        link.queueStartSequence();
        clock.advance(8 * 50 + 6000);
        ASSERT_FALSE(told.failureOutcomes.empty());
        EXPECT_EQ(told.failureOutcomes.front().first, c.why);
        EXPECT_EQ(told.failureOutcomes.front().second, code::Paper);
    }
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

// The test image's continuation packets need no request: the pump reads them as they come,
// a bounded slice per tick, while requests keep their pace of one per tick.
class ImagePumpTest : public LinkFixture {
  protected:
    void SetUp() override {
        LinkFixture::SetUp();
        sched.setHandler([this](int id) {
            const std::uint64_t before = sched.nowMs();
            const std::size_t reads = transport.readWaits.size();
            conn.onTimer(id);
            if (id != kPumpTimer) return;
            longestTickMs = std::max(longestTickMs, sched.nowMs() - before);
            mostReadsPerTick = std::max(mostReadsPerTick, transport.readWaits.size() - reads);
        });
        transport.responder = [this](const Request& r, ScriptedTransport&) {
            writes.push_back({sched.nowMs(), r.code});
        };
        conn.openAtStart();
        engine.resetTransferState();
        sched.startTimer(kPumpTimer, kFastPeriodMs);
    }

    // An image of `packets` packets is the board's answer to the GetTestImage queued here.
    std::vector<std::uint8_t> offerImage(std::size_t packets) {
        std::vector<std::uint8_t> data(1014 + (packets - 1) * 1024 - 100);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 13 + (i >> 10));
        const auto encoded = encodeTestImageAnswer('W', 64, 8, data);
        EXPECT_EQ(encoded.size(), packets);
        for (const auto& p : encoded) transport.queueAnswer(p);
        engine.enqueueRequest(code::GetTestImage, 0);
        return data;
    }

    struct Write {
        std::uint64_t atMs;
        std::uint8_t code;
    };
    std::vector<Write> writes;
    std::uint64_t longestTickMs = 0;
    std::size_t mostReadsPerTick = 0;
};

TEST_F(ImagePumpTest, PacketsAreReadAsTheyComeAndRequestsKeepTheirPace) {
    const auto data = offerImage(150);
    // Apply pressed while the image arrives, and the next poll behind it.
    engine.enqueueRequest(code::Paper, 1);
    engine.enqueueRequest(code::GetStatus, 0);
    transport.responder = [this](const Request& r, ScriptedTransport& t) {
        writes.push_back({sched.nowMs(), r.code});
        if (r.code != code::GetTestImage) t.queueAnswer(encodeAnswer(code::Acknowledge));
    };

    sched.advance(50);  // the request goes out, then the first slices follow at once
    ASSERT_EQ(listener.images.size(), 1u);
    EXPECT_EQ(listener.images[0], data);
    EXPECT_LE(mostReadsPerTick, static_cast<std::size_t>(kImageSlicePackets));
    EXPECT_EQ(sched.period(kPumpTimer), kFastPeriodMs);
    ASSERT_EQ(writes.size(), 1u) << "nothing goes out while the image arrives";

    sched.advance(200);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[1].code, code::Paper);
    EXPECT_EQ(writes[2].code, code::GetStatus);
    EXPECT_EQ(writes[1].atMs, writes[0].atMs + 50);
    EXPECT_EQ(writes[2].atMs, writes[1].atMs + 50);
    EXPECT_TRUE(listener.messages.empty());
}

TEST_F(ImagePumpTest, ASliceEndsAfterOneTicksLengthAndTheNextFollowsAtOnce) {
    const auto data = offerImage(40);
    // Each packet takes 7 ms to come in.
    transport.beforeRead = [this](int) { sched.elapse(7); };
    sched.advance(50);
    // 50 ms of reading is eight packets: the first and seven more.
    EXPECT_EQ(mostReadsPerTick, 8u);
    EXPECT_LE(longestTickMs, 56u);
    EXPECT_EQ(sched.period(kPumpTimer), kAtOncePeriodMs);
    // No read waits beyond what is left of the slice.
    const std::vector<int> firstTick(transport.readWaits.begin(), transport.readWaits.begin() + 8);
    EXPECT_EQ(firstTick, (std::vector<int>{50, 43, 36, 29, 22, 15, 8, 1}));

    sched.advance(250);
    ASSERT_EQ(listener.images.size(), 1u);
    EXPECT_EQ(listener.images[0], data);
    EXPECT_LE(longestTickMs, 56u);
    EXPECT_EQ(writes.size(), 1u);
}

TEST_F(ImagePumpTest, AWaitCutShortBySliceIsRetriedAtOnceWithTheFullWait) {
    offerImage(3);
    const auto tail = transport.reads.back();
    transport.reads.pop_back();
    transport.beforeRead = [this](int) { sched.elapse(20); };
    sched.advance(50);  // two packets, then a read given the last 10 ms finds nothing
    EXPECT_EQ(transport.readWaits, (std::vector<int>{50, 30, 10}));
    EXPECT_EQ(sched.period(kPumpTimer), kAtOncePeriodMs);
    transport.reads.push_back(tail);
    sched.step();
    EXPECT_EQ(transport.readWaits.back(), 50);
    EXPECT_EQ(listener.images.size(), 1u);
}

TEST_F(ImagePumpTest, AStallMidImageStillTimesOutAtTheAnswerTimeout) {
    offerImage(30);
    transport.reads.resize(10);  // the board stops sending after ten packets
    sched.advance(50);
    EXPECT_TRUE(listener.images.empty());
    // Nothing arrives: the pump looks again at the usual pace, never in a tight loop.
    EXPECT_EQ(sched.period(kPumpTimer), kFastPeriodMs);
    const std::uint64_t ticksBefore = sched.ticks(kPumpTimer);
    sched.advance(4900);
    EXPECT_TRUE(listener.messages.empty());
    EXPECT_EQ(sched.ticks(kPumpTimer) - ticksBefore, 98u);
    sched.advance(200);
    ASSERT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::ReceivePktError});
    EXPECT_FALSE(sched.running(kPumpTimer));
    EXPECT_TRUE(listener.images.empty());
    EXPECT_EQ(engine.options().answerTimeoutMs, 5000);
    EXPECT_GE(transport.closeCalls, 1);
}

TEST_F(ImagePumpTest, AFailedReadMidSliceIsHandledLikeAnyOther) {
    offerImage(20);
    transport.reads.resize(5);
    transport.queueFailure();
    sched.advance(50);
    EXPECT_EQ(listener.messages, std::vector<LinkMessage>{LinkMessage::ReceivePktError});
    // The failed read closed the handle; the link starts again once the board is back.
    EXPECT_EQ(listener.failures, std::vector<bool>{false});
    EXPECT_TRUE(conn.linkDown());
    EXPECT_FALSE(sched.running(kPumpTimer));
    EXPECT_TRUE(engine.state().imageBuffer.empty());
}

}  // namespace
}  // namespace q70::test
