#include "link/engine.hpp"

#include "link_fixture.hpp"

namespace q70::test {
namespace {

using link::code::GetStatus;

class EngineTest : public LinkFixture {
  protected:
    void SetUp() override {
        LinkFixture::SetUp();
        ASSERT_TRUE(transport.open());
        ASSERT_TRUE(conn.openAtStart());
        engine.resetTransferState();
    }
    // One exchange as the pump does it.
    bool exchange() {
        if (engine.hasRequestToSend()) engine.sendNextRequest();
        return engine.receiveAnswer();
    }
};

TEST_F(EngineTest, PacketWrappingTheRingIsSentWhole) {
    // Bring the ring's indices to 1022 (202 bare and two 6-byte requests), so that the
    // next packet's length field is split: two bytes at 1022 and 1023, two at 0 and 1.
    auto sendAndAnswer = [&](std::uint8_t c, int value) {
        ASSERT_TRUE(engine.enqueueRequest(c, value));
        engine.sendNextRequest();
        transport.queueAnswer(link::encodeAnswer(link::code::NoAction));
        ASSERT_TRUE(engine.receiveAnswer());
    };
    for (int i = 0; i < 202; ++i) sendAndAnswer(link::code::GetDeviceInfo, 0);
    sendAndAnswer(link::code::Paper, 1);
    sendAndAnswer(link::code::Margin, 1);
    ASSERT_EQ(engine.state().writeIndex, 1022u);

    ASSERT_TRUE(engine.enqueueRequest(link::code::SetDateTime, 1));
    EXPECT_EQ(engine.state().writeIndex, 9u);
    engine.sendNextRequest();
    EXPECT_EQ(transport.written.back(), toBytes(link::encodeSetDateTime(listener.dateTime)));
    EXPECT_EQ(engine.state().readIndex, 9u);
}

TEST_F(EngineTest, TenBareRequestsAreSentOnePerExchangeInOrder) {
    const std::uint8_t codes[] = {1, 13, 6, 17, 18, 19, 20, 1, 13, 1};
    for (auto c : codes) ASSERT_TRUE(engine.enqueueRequest(c, 0));
    EXPECT_EQ(engine.queuedBytes(), 50u);
    for (std::size_t i = 0; i < 10; ++i) {
        ASSERT_TRUE(engine.hasRequestToSend());
        engine.sendNextRequest();
        EXPECT_FALSE(engine.hasRequestToSend()) << "only one request may be outstanding";
        ASSERT_EQ(transport.written.size(), i + 1);
        EXPECT_EQ(transport.written[i], toBytes(link::encodeBare(codes[i])));
        transport.queueAnswer(link::encodeAnswer(link::code::Acknowledge));
        ASSERT_TRUE(engine.receiveAnswer());
    }
    EXPECT_TRUE(engine.queueEmpty());
    EXPECT_EQ(engine.batchState(), link::BatchState::Drained);
    EXPECT_EQ(sched.period(link::kPumpTimer), link::kIdlePeriodMs);
}

TEST_F(EngineTest, Length1020IsOneAnswerAnd1021StartsAnImage) {
    engine.enqueueRequest(link::code::GetFirmwareVersion, 0);
    std::vector<std::uint8_t> p(1024, 'v');
    p[0] = 0xFC;
    p[1] = 0x03;
    p[2] = 0;
    p[3] = 0;  // 1020
    p[4] = link::code::GetFirmwareVersion;
    transport.queueBytes(p);
    ASSERT_TRUE(exchange());
    ASSERT_EQ(listener.versions.size(), 1u);
    EXPECT_EQ(listener.versions[0].size(), 1019u);
    EXPECT_FALSE(engine.isAwaitingAnswer());

    engine.enqueueRequest(link::code::GetTestImage, 0);
    std::vector<std::uint8_t> data(1015);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    for (const auto& pk : link::encodeTestImageAnswer('W', 8, 1, data)) transport.queueAnswer(pk);
    ASSERT_TRUE(exchange());
    EXPECT_EQ(engine.state().imageRemaining, 1u);
    EXPECT_TRUE(engine.isAwaitingAnswer());
    ASSERT_EQ(listener.headers.size(), 1u);
    EXPECT_EQ(listener.headers[0].dataSize, 1015u);
    ASSERT_TRUE(engine.receiveAnswer());
    ASSERT_EQ(listener.images.size(), 1u);
    EXPECT_EQ(listener.images[0], data);
    EXPECT_FALSE(engine.isAwaitingAnswer());
    EXPECT_EQ(sched.period(link::kPumpTimer), link::kFastPeriodMs);
}

TEST_F(EngineTest, ImageRemainingOf1024MeansTheNextPacketIsTheLast) {
    engine.enqueueRequest(link::code::GetTestImage, 0);
    std::vector<std::uint8_t> data(1014 + 1024 + 1024);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
    auto packets = link::encodeTestImageAnswer('W', 16, 2, data);
    ASSERT_EQ(packets.size(), 3u);
    for (const auto& pk : packets) transport.queueAnswer(pk);
    // Anything after the image must not be taken as part of it.
    transport.queueAnswer(link::encodeStatusAnswer({1, false, false}));
    ASSERT_TRUE(exchange());
    ASSERT_TRUE(engine.receiveAnswer());
    EXPECT_EQ(engine.state().imageRemaining, 1024u);
    ASSERT_TRUE(engine.receiveAnswer());
    ASSERT_EQ(listener.images.size(), 1u);
    EXPECT_EQ(listener.images[0], data);
    EXPECT_EQ(transport.reads.size(), 1u);
}

TEST_F(EngineTest, AcknowledgementMatchesAnyRequestAndAMismatchStillRunsItsHandler) {
    engine.enqueueRequest(link::code::Margin, 1);
    transport.queueAnswer(link::encodeAnswer(link::code::Acknowledge));
    EXPECT_TRUE(exchange());
    EXPECT_EQ(listener.acks, std::vector<std::uint8_t>{link::code::Margin});

    for (std::uint8_t any : {link::code::NoAction, link::code::Continue}) {
        engine.enqueueRequest(GetStatus, 0);
        transport.queueAnswer(link::encodeAnswer(any));
        EXPECT_TRUE(exchange());
    }
    EXPECT_EQ(listener.firmwareContinues, 0) << "0xFF continues only a firmware transfer";

    engine.enqueueRequest(link::code::Paper, 0);
    transport.queueAnswer(link::encodeSettingAnswer(link::code::PrintMode, 1));
    EXPECT_FALSE(exchange());
    ASSERT_EQ(listener.reports.size(), 1u);
    EXPECT_EQ(listener.reports[0].first, link::code::PrintMode);
    EXPECT_FALSE(engine.isAwaitingAnswer());
    EXPECT_TRUE(listener.messages.empty());
}

TEST_F(EngineTest, FailedWriteKeepsThePacketForTheReopenedDevice) {
    engine.enqueueRequest(link::code::TimeStamp, 1);
    transport.writeSucceeds = false;
    engine.sendNextRequest();
    EXPECT_FALSE(conn.deviceOpen());
    EXPECT_FALSE(engine.isAwaitingAnswer());
    EXPECT_EQ(engine.queuedBytes(), 6u);

    transport.writeSucceeds = true;
    conn.onTimer(link::kReconnectTimer);  // closes the still-open handle and reopens
    EXPECT_TRUE(conn.deviceOpen());
    EXPECT_EQ(transport.closeCalls, 2);
    engine.sendNextRequest();
    ASSERT_EQ(transport.written.size(), 1u);
    EXPECT_EQ(transport.written[0], toBytes(link::encodeWithByte(link::code::TimeStamp, 120)));
}

TEST_F(EngineTest, RingNeverOverrunsUnsentBytes) {
    std::vector<std::uint8_t> big(link::kChunkCapacity, 'S');
    listener.chunk.assign(big.begin(), big.end());
    ASSERT_TRUE(engine.enqueueRequest(link::code::FirmwareData, 0));  // 903 bytes
    EXPECT_EQ(engine.queuedBytes(), 903u);
    int bare = 0;
    while (engine.enqueueRequest(GetStatus, 0)) ++bare;
    EXPECT_EQ(bare, 24);  // 120 bytes more; one slot always stays free
    EXPECT_FALSE(engine.enqueueRequest(link::code::FirmwareData, 0));
    EXPECT_FALSE(listener.lastChunkQueued);
    engine.sendNextRequest();
    EXPECT_EQ(transport.written[0].size(), 903u);
    EXPECT_EQ(transport.written[0][6], 'S');
}

TEST_F(EngineTest, LastChunkSetsTheFlagOnlyWhenQueued) {
    listener.chunkAtEnd = true;
    ASSERT_TRUE(engine.enqueueRequest(link::code::FirmwareData, 0));
    EXPECT_TRUE(listener.lastChunkQueued);
    engine.sendNextRequest();
    EXPECT_EQ(transport.written[0][5], link::firmware_sub::LastChunk);
    listener.path = std::string(897, 'p');
    EXPECT_FALSE(engine.enqueueRequest(link::code::FirmwareData, 1));
}

TEST_F(EngineTest, RequestQueuedDuringAnImageWaitsForIt) {
    engine.enqueueRequest(link::code::GetTestImage, 0);
    std::vector<std::uint8_t> data(5000, 0x5A);
    auto packets = link::encodeTestImageAnswer('W', 40, 4, data);
    for (const auto& pk : packets) transport.queueAnswer(pk);
    ASSERT_TRUE(exchange());
    // The user presses Apply while the image arrives.
    for (auto c : link::kSettingWriteOrder) ASSERT_TRUE(engine.enqueueRequest(c, 1));
    EXPECT_FALSE(engine.hasRequestToSend());
    while (engine.isAwaitingAnswer()) ASSERT_TRUE(engine.receiveAnswer());
    ASSERT_EQ(listener.images.size(), 1u);
    EXPECT_EQ(listener.images[0], data);
    EXPECT_TRUE(engine.hasRequestToSend());
    EXPECT_EQ(transport.written.size(), 1u);
}

TEST_F(EngineTest, MalformedFirstPacketsAreBadPackets) {
    engine.enqueueRequest(GetStatus, 0);
    transport.queueBytes({1, 0, 0, 0});
    EXPECT_FALSE(exchange());
    engine.enqueueRequest(GetStatus, 0);
    transport.queueBytes({0, 0, 0, 0, 2, 1});
    EXPECT_FALSE(exchange());
    EXPECT_EQ(listener.messages,
              (std::vector<link::LinkMessage>{link::LinkMessage::ReceiveBadPkt,
                                              link::LinkMessage::ReceiveBadPkt}));
    EXPECT_FALSE(engine.isAwaitingAnswer());
    EXPECT_TRUE(listener.states.empty());
}

TEST_F(EngineTest, AShortFirstImagePacketIsABadPacketAndNoImage) {
    std::vector<std::uint8_t> data(1014 + 1024);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 5);
    auto packets = link::encodeTestImageAnswer('W', 16, 1, data);
    ASSERT_EQ(packets.size(), 2u);
    for (const std::size_t cut : {std::size_t{1023}, std::size_t{600}, std::size_t{11}}) {
        engine.enqueueRequest(link::code::GetTestImage, 0);
        std::vector<std::uint8_t> first(
            packets[0].bytes.begin(), packets[0].bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        transport.queueBytes(first);
        EXPECT_FALSE(exchange()) << cut;
        EXPECT_FALSE(engine.isAwaitingAnswer());
    }
    EXPECT_EQ(listener.messages.size(), 3u);
    EXPECT_TRUE(listener.headers.empty());
    EXPECT_TRUE(listener.images.empty());
}

TEST_F(EngineTest, OversizedImageIsRefusedWithoutLosingTheFraming) {
    engine.enqueueRequest(link::code::GetTestImage, 0);
    // Header claims 65535 scan lines of 4096 bytes: a 268 MB bitmap.
    std::vector<std::uint8_t> first(1024, 0);
    const std::uint32_t length = 1020 + 2048 + 10;
    first[0] = static_cast<std::uint8_t>(length);
    first[1] = static_cast<std::uint8_t>(length >> 8);
    first[4] = 4;
    first[6] = 0xFF;
    first[7] = 0xFF;
    first[8] = 0x10;
    first[9] = 0x00;
    transport.queueBytes(first);
    transport.queueBytes(std::vector<std::uint8_t>(1024, 0x01));
    transport.queueBytes(std::vector<std::uint8_t>(1024, 0x02));
    transport.queueBytes(std::vector<std::uint8_t>(10, 0x03));
    transport.queueAnswer(link::encodeStatusAnswer({1, false, false}));
    EXPECT_TRUE(exchange());
    EXPECT_EQ(listener.messages, std::vector<link::LinkMessage>{link::LinkMessage::ReceiveBadPkt});
    EXPECT_TRUE(listener.headers.empty());
    EXPECT_TRUE(engine.state().imageBuffer.empty());
    EXPECT_TRUE(engine.receiveAnswer());
    EXPECT_TRUE(engine.receiveAnswer());
    EXPECT_FALSE(engine.receiveAnswer());  // the tail is gone, the exchange failed
    EXPECT_FALSE(engine.isAwaitingAnswer());

    engine.enqueueRequest(GetStatus, 0);
    EXPECT_TRUE(exchange());
    EXPECT_EQ(listener.states, std::vector<std::uint8_t>{1});
}

TEST_F(EngineTest, ReadsAreBoundedAndASilentBoardTimesOut) {
    engine.enqueueRequest(GetStatus, 0);
    engine.sendNextRequest();
    for (int i = 0; i < 99; ++i) {
        ASSERT_TRUE(engine.receiveAnswer());
        sched.elapse(50);
    }
    EXPECT_TRUE(listener.messages.empty());
    sched.elapse(50);  // 5000 ms since the request went out
    EXPECT_FALSE(engine.receiveAnswer());
    EXPECT_EQ(listener.messages,
              std::vector<link::LinkMessage>{link::LinkMessage::ReceivePktError});
    EXPECT_FALSE(transport.isOpen());
    for (int w : transport.readWaits) EXPECT_LE(w, 50);
}

TEST_F(EngineTest, ReadFailureDuringFirmwareIsSilentAndSlowsTheReconnect) {
    engine.enqueueRequest(link::code::FirmwareData, 0);
    engine.sendNextRequest();
    transport.queueFailure();
    EXPECT_FALSE(engine.receiveAnswer());
    EXPECT_TRUE(listener.messages.empty());
    EXPECT_EQ(listener.firmwareLinkLost, 1);
    EXPECT_EQ(sched.period(link::kReconnectTimer), link::kSlowReconnectPeriodMs);
    EXPECT_FALSE(transport.isOpen());
}

// An answer shorter than its own length field is a bad packet: what is missing would read
// as zeros the board never sent, or as a stale earlier packet.
TEST_F(EngineTest, AnAnswerShorterThanItsLengthIsABadPacket) {
    engine.enqueueRequest(link::code::GetFirmwareVersion, 0);
    transport.queueAnswer(link::encodeVersionAnswer("V9.99-long-version-text"));
    ASSERT_TRUE(exchange());
    struct Short {
        std::uint8_t request;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<Short> cases = {
        {link::code::GetFirmwareVersion, {12, 0, 0, 0, 13, 'V', '2'}},
        // Device information announcing 32 bytes and carrying 9.
        {link::code::GetDeviceInfo, {32, 0, 0, 0, 1, 'W', 0x20, 1, 0xE0, 5, 8, 0, 0}},
        {GetStatus, {9, 0, 0, 0, 2, 1, 0, 0, 0x20}},
        {link::code::Paper, {2, 0, 0, 0, 18}},
    };
    for (const Short& c : cases) {
        engine.enqueueRequest(c.request, 0);
        transport.queueBytes(c.bytes);
        EXPECT_FALSE(exchange()) << int{c.request};
        EXPECT_EQ(engine.lastFailure(), link::Outcome::BadAnswer);
        EXPECT_EQ(listener.shortAnswers.back(),
                  (std::pair<std::uint32_t, std::size_t>{c.bytes[0], c.bytes.size()}));
    }
    EXPECT_EQ(listener.shortAnswers.size(), cases.size());
    EXPECT_EQ(listener.versions.size(), 1u);
    EXPECT_TRUE(listener.deviceInfos.empty());
    EXPECT_TRUE(listener.states.empty());
    EXPECT_TRUE(listener.reports.empty());

    // Exactly as long as announced, or longer (the rest is padding), it is an answer.
    engine.enqueueRequest(link::code::GetFirmwareVersion, 0);
    transport.queueBytes({3, 0, 0, 0, 13, 'V', '2', 0xEE});
    ASSERT_TRUE(exchange());
    EXPECT_EQ(listener.versions.back(), "V2");
}

// A header with no pixels gives no picture: refused as a bad answer with its tail read
// away, as an image too large to hold.
TEST_F(EngineTest, AnImageWithNoPixelsIsRefused) {
    const std::vector<std::uint8_t> data(1014 + 1024 + 5, 0x11);
    for (const auto& [width, bytesPerLine] :
         std::vector<std::pair<std::uint16_t, std::uint16_t>>{{0, 188}, {2160, 0}, {0, 0}}) {
        const auto packets = link::encodeTestImageAnswer('W', width, bytesPerLine, data);
        ASSERT_EQ(packets.size(), 3u);
        engine.enqueueRequest(link::code::GetTestImage, 0);
        for (const link::Packet& p : packets) transport.queueAnswer(p);
        EXPECT_TRUE(exchange());
        EXPECT_TRUE(engine.receiveAnswer());
        EXPECT_FALSE(engine.receiveAnswer());
        EXPECT_EQ(engine.lastFailure(), link::Outcome::BadAnswer);
        ASSERT_FALSE(listener.refused.empty());
        EXPECT_EQ(listener.refused.back().width, width);
        EXPECT_EQ(listener.refused.back().height(), bytesPerLine * 8u);
    }
    EXPECT_EQ(listener.refused.size(), 3u);
    EXPECT_TRUE(listener.headers.empty());
    EXPECT_TRUE(listener.images.empty());
    // The framing held: the next answer is read as one.
    engine.enqueueRequest(GetStatus, 0);
    transport.queueAnswer(link::encodeStatusAnswer({1, false, false}));
    EXPECT_TRUE(exchange());
    EXPECT_EQ(listener.states, std::vector<std::uint8_t>{1});
}

}  // namespace
}  // namespace q70::test
