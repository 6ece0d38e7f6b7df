#include "link/protocol.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace q70::link {
namespace {

std::vector<std::uint8_t> bytes(const Packet& p) {
    return {p.bytes.begin(), p.bytes.begin() + static_cast<std::ptrdiff_t>(p.size)};
}

TEST(Protocol, RequestLayouts) {
    EXPECT_EQ(bytes(encodeBare(code::GetStatus)), (std::vector<std::uint8_t>{1, 0, 0, 0, 2}));
    EXPECT_EQ(bytes(encodeWithByte(code::Paper, 1)),
              (std::vector<std::uint8_t>{2, 0, 0, 0, 18, 1}));
    EXPECT_EQ(bytes(encodeSetDateTime({2004, 12, 31, 23, 59})),
              (std::vector<std::uint8_t>{0x07, 0, 0, 0, 0x05, 0xD4, 0x07, 0x0C, 0x1F, 0x17, 0x3B}));

    const std::string path = "C:\\fw.mot1";  // 10 characters
    const Packet start = encodeFirmwareData(
        firmware_sub::Start, {reinterpret_cast<const std::uint8_t*>(path.data()), path.size()});
    ASSERT_EQ(start.size, 17u);
    EXPECT_EQ(bytes(start)[0], 0x0D);
    EXPECT_EQ(bytes(start)[4], 0x16);
    EXPECT_EQ(bytes(start)[5], 0x00);
    EXPECT_EQ(bytes(start)[16], 0x00);
    EXPECT_EQ(std::string(start.bytes.begin() + 6, start.bytes.begin() + 16), path);
}

TEST(Protocol, FirmwareTextIsBoundedByTheChunkStore) {
    std::vector<std::uint8_t> text(kChunkCapacity, 'S');
    const Packet full = encodeFirmwareData(firmware_sub::Chunk, text);
    EXPECT_EQ(full.size, kChunkCapacity + 7);
    EXPECT_EQ(readLength(full.view()), kChunkCapacity + 3);
    text.push_back('x');
    EXPECT_TRUE(encodeFirmwareData(firmware_sub::Chunk, text).empty());
}

TEST(Protocol, DeviceInfoAndItsTypeLetter) {
    DeviceInfo sent;
    sent.deviceType = 'w';
    sent.infoWord1 = 0x1234;
    sent.infoWord2 = 0xBEEF;
    sent.infoByte = 7;
    sent.infoLong1 = 0xA1B2C3D4;
    sent.infoLong2 = 0x01020304;
    sent.infoText = "Q-70 board";
    const Packet p = encodeDeviceInfoAnswer(sent);
    const DeviceInfo got = decodeDeviceInfo(AnswerView(p.view(), readLength(p.view())));
    EXPECT_EQ(got.deviceType, 'w');
    EXPECT_TRUE(got.deviceTypeW());
    EXPECT_EQ(got.infoWord1, 0x1234);
    EXPECT_EQ(got.infoWord2, 0xBEEF);
    EXPECT_EQ(got.infoByte, 7);
    EXPECT_EQ(got.infoLong1, 0xA1B2C3D4u);
    EXPECT_EQ(got.infoLong2, 0x01020304u);
    EXPECT_TRUE(got.infoFlag);  // top byte of infoLong2 is 1
    EXPECT_EQ(got.infoText, "Q-70 board");

    DeviceInfo s;
    s.deviceType = 'S';
    EXPECT_FALSE(s.deviceTypeW());
    s.deviceType = 'W';
    EXPECT_TRUE(s.deviceTypeW());
}

TEST(Protocol, BytesPastTheLengthReadAsZeroAndTextsEndThere) {
    PacketBuffer buf{};
    const std::vector<std::uint8_t> junk = {6,   0,   0,   0,   13,  'V', '1',
                                            '.', '2', '.', '3', 'X', 'Y', 'Z'};
    std::copy(junk.begin(), junk.end(), buf.begin());
    // Length 6 covers the code and "V1.2." only; the rest is not part of the answer.
    const AnswerView a(buf, 6);
    EXPECT_EQ(a.text(5), "V1.2.");
    EXPECT_EQ(a.at(10), 0);
    EXPECT_EQ(a.at(5000), 0);

    const AnswerView zeroEnded(buf, 1020);
    buf[8] = 0;
    EXPECT_EQ(zeroEnded.text(5), "V1.");
}

TEST(Protocol, StatusRecordAndReactions) {
    const Packet p = encodeStatusAnswer({7, true, false});
    const StatusRecord s = decodeStatus(AnswerView(p.view(), readLength(p.view())));
    EXPECT_EQ(s.deviceState, 7);
    EXPECT_TRUE(s.statusFlagA);
    EXPECT_FALSE(s.statusFlagB);

    EXPECT_EQ(reactionTo(0), StateReaction::FetchTestImage);
    EXPECT_EQ(reactionTo(1), StateReaction::OpenPanel);
    for (int st : {2, 6, 15, 16})
        EXPECT_EQ(reactionTo(static_cast<std::uint8_t>(st)), StateReaction::ClosePanel) << st;
    for (int st : {7, 14, 17, 255})
        EXPECT_EQ(reactionTo(static_cast<std::uint8_t>(st)), StateReaction::None) << st;
}

TEST(Protocol, TestImageAnswerSplitsIntoPackets) {
    // length 1021: 1014 data bytes in the first packet and 1 in the second.
    std::vector<std::uint8_t> data(1015, 0xAB);
    auto packets = encodeTestImageAnswer('W', 0x0870, 0x00BC, data);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].size, 1024u);
    EXPECT_EQ(readLength(packets[0].view()), 1021u);
    EXPECT_EQ(packets[1].size, 1u);

    const TestImageHeader h = decodeTestImageHeader(packets[0].view(), 1021);
    EXPECT_EQ(h.width, 2160);
    EXPECT_EQ(h.height(), 1504u);
    EXPECT_EQ(h.dataSize, 1015u);
    EXPECT_EQ(h.deviceType, 'W');
    EXPECT_EQ(h.bitmapBytes(), 409088u);

    std::vector<std::uint8_t> big(1014 + 1024 * 3, 1);
    EXPECT_EQ(encodeTestImageAnswer('W', 1, 1, big).size(), 4u);
}

TEST(Protocol, RequestDecoding) {
    Request r;
    const Packet dt = encodeSetDateTime({2026, 2, 28, 7, 5});
    ASSERT_TRUE(decodeRequest(dt.view(), r));
    EXPECT_EQ(r.code, code::SetDateTime);
    const DateTime back = decodeSetDateTime(r);
    EXPECT_EQ(back.year, 2026);
    EXPECT_EQ(back.minute, 5);

    const std::vector<std::uint8_t> shortPacket = {1, 0, 0, 0};
    EXPECT_FALSE(decodeRequest(shortPacket, r));
    const std::vector<std::uint8_t> lying = {9, 0, 0, 0, 2};
    EXPECT_FALSE(decodeRequest(lying, r));
}

}  // namespace
}  // namespace q70::link
