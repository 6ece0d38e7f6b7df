#include "link/protocol.hpp"

#include <algorithm>
#include <cstring>

namespace q70::link {

namespace {

void putLength(Packet& p, std::uint32_t length) {
    p.bytes[0] = static_cast<std::uint8_t>(length);
    p.bytes[1] = static_cast<std::uint8_t>(length >> 8);
    p.bytes[2] = static_cast<std::uint8_t>(length >> 16);
    p.bytes[3] = static_cast<std::uint8_t>(length >> 24);
}

}  // namespace

Packet encodeBare(std::uint8_t requestCode) {
    Packet p;
    putLength(p, 1);
    p.bytes[4] = requestCode;
    p.size = 5;
    return p;
}

Packet encodeWithByte(std::uint8_t requestCode, std::uint8_t value) {
    Packet p;
    putLength(p, 2);
    p.bytes[4] = requestCode;
    p.bytes[5] = value;
    p.size = 6;
    return p;
}

Packet encodeSetDateTime(const DateTime& dt) {
    Packet p;
    putLength(p, 7);
    p.bytes[4] = code::SetDateTime;
    p.bytes[5] = static_cast<std::uint8_t>(dt.year & 0xFF);
    p.bytes[6] = static_cast<std::uint8_t>((dt.year >> 8) & 0xFF);
    p.bytes[7] = static_cast<std::uint8_t>(dt.month);
    p.bytes[8] = static_cast<std::uint8_t>(dt.day);
    p.bytes[9] = static_cast<std::uint8_t>(dt.hour);
    p.bytes[10] = static_cast<std::uint8_t>(dt.minute);
    p.size = 11;
    return p;
}

Packet encodeFirmwareData(std::uint8_t subCode, std::span<const std::uint8_t> text) {
    Packet p;
    if (text.size() > kChunkCapacity) return p;
    const auto n = static_cast<std::uint32_t>(text.size());
    putLength(p, n + 3);
    p.bytes[4] = code::FirmwareData;
    p.bytes[5] = subCode;
    std::copy(text.begin(), text.end(), p.bytes.begin() + 6);
    p.bytes[6 + n] = 0;
    p.size = 7 + n;
    return p;
}

std::uint32_t readLength(std::span<const std::uint8_t> packet) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < kLengthFieldSize; ++i) {
        const std::uint32_t b = i < packet.size() ? packet[i] : 0;
        v |= b << (8 * i);
    }
    return v;
}

std::uint16_t AnswerView::le16(std::size_t offset) const {
    return static_cast<std::uint16_t>(at(offset) | (at(offset + 1) << 8));
}

std::uint32_t AnswerView::le32(std::size_t offset) const {
    return static_cast<std::uint32_t>(at(offset)) |
           (static_cast<std::uint32_t>(at(offset + 1)) << 8) |
           (static_cast<std::uint32_t>(at(offset + 2)) << 16) |
           (static_cast<std::uint32_t>(at(offset + 3)) << 24);
}

std::string AnswerView::text(std::size_t offset) const {
    std::string s;
    for (std::size_t i = offset; i < end_ && i < packet_.size(); ++i) {
        if (packet_[i] == 0) break;
        s.push_back(static_cast<char>(packet_[i]));
    }
    return s;
}

StateReaction reactionTo(std::uint8_t deviceState) {
    if (deviceState == 0) return StateReaction::FetchTestImage;
    if (deviceState == 1) return StateReaction::OpenPanel;
    if ((deviceState >= 2 && deviceState <= 6) || deviceState == 15 || deviceState == 16) {
        return StateReaction::ClosePanel;
    }
    return StateReaction::None;
}

DeviceInfo decodeDeviceInfo(const AnswerView& a) {
    DeviceInfo info;
    info.deviceType = static_cast<char>(a.at(5));
    info.infoWord1 = a.le16(6);
    info.infoWord2 = a.le16(8);
    info.infoByte = a.at(10);
    info.infoLong1 = a.le32(11);
    info.infoLong2 = a.le32(15);
    info.infoFlag = a.at(18) == 1;
    info.infoText = a.text(20);
    return info;
}

StatusRecord decodeStatus(const AnswerView& a) {
    StatusRecord s;
    s.deviceState = a.at(5);
    s.statusFlagA = (a.at(8) & 0x20) != 0;
    s.statusFlagB = (a.at(8) & 0x40) != 0;
    return s;
}

TestImageHeader decodeTestImageHeader(std::span<const std::uint8_t> first, std::uint32_t length) {
    auto at = [&](std::size_t i) -> std::uint8_t { return i < first.size() ? first[i] : 0; };
    TestImageHeader h;
    h.deviceType = static_cast<char>(at(5));
    h.width = static_cast<std::uint16_t>((at(6) << 8) | at(7));
    h.bytesPerLine = static_cast<std::uint16_t>((at(8) << 8) | at(9));
    h.dataSize = length >= 6 ? length - 6 : 0;
    return h;
}

bool decodeRequest(std::span<const std::uint8_t> packet, Request& out) {
    if (packet.size() < 5) return false;
    const std::uint32_t length = readLength(packet);
    if (length == 0 || static_cast<std::uint64_t>(length) + kLengthFieldSize > packet.size()) {
        return false;
    }
    out.length = length;
    out.code = packet[4];
    out.payload = packet.subspan(5, length - 1);
    return true;
}

DateTime decodeSetDateTime(const Request& r) {
    auto at = [&](std::size_t i) -> int { return i < r.payload.size() ? r.payload[i] : 0; };
    DateTime dt;
    dt.year = at(0) | (at(1) << 8);
    dt.month = at(2);
    dt.day = at(3);
    dt.hour = at(4);
    dt.minute = at(5);
    return dt;
}

Packet encodeAnswer(std::uint8_t answerCode, std::span<const std::uint8_t> payload) {
    Packet p;
    const std::size_t n = std::min(payload.size(), kPacketSize - 5);
    putLength(p, static_cast<std::uint32_t>(n + 1));
    p.bytes[4] = answerCode;
    std::copy_n(payload.begin(), n, p.bytes.begin() + 5);
    p.size = n + 5;
    return p;
}

Packet encodeDeviceInfoAnswer(const DeviceInfo& info) {
    std::array<std::uint8_t, kPacketSize - 5> payload{};
    // payload[k] is packet offset 5 + k
    auto put16 = [&](std::size_t off, std::uint16_t v) {
        payload[off - 5] = static_cast<std::uint8_t>(v);
        payload[off - 4] = static_cast<std::uint8_t>(v >> 8);
    };
    auto put32 = [&](std::size_t off, std::uint32_t v) {
        for (std::size_t i = 0; i < 4; ++i)
            payload[off - 5 + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    payload[0] = static_cast<std::uint8_t>(info.deviceType);
    put16(6, info.infoWord1);
    put16(8, info.infoWord2);
    payload[10 - 5] = info.infoByte;
    put32(11, info.infoLong1);
    put32(15, info.infoLong2);
    const std::size_t textLen = std::min(info.infoText.size(), payload.size() - (20 - 5) - 1);
    std::memcpy(payload.data() + (20 - 5), info.infoText.data(), textLen);
    const std::size_t n = (20 - 5) + textLen + 1;  // with the terminating 0
    return encodeAnswer(code::GetDeviceInfo, {payload.data(), n});
}

Packet encodeStatusAnswer(const StatusRecord& s) {
    const std::uint8_t flags =
        static_cast<std::uint8_t>((s.statusFlagA ? 0x20 : 0) | (s.statusFlagB ? 0x40 : 0));
    const std::array<std::uint8_t, 4> payload = {s.deviceState, 0, 0, flags};
    return encodeAnswer(code::GetStatus, payload);
}

Packet encodeSettingAnswer(std::uint8_t settingCode, std::uint8_t value) {
    const std::array<std::uint8_t, 1> payload = {value};
    return encodeAnswer(settingCode, payload);
}

Packet encodeVersionAnswer(const std::string& version) {
    std::array<std::uint8_t, kPacketSize - 5> payload{};
    const std::size_t n = std::min(version.size(), payload.size() - 1);
    std::memcpy(payload.data(), version.data(), n);
    return encodeAnswer(code::GetFirmwareVersion, {payload.data(), n + 1});
}

std::vector<Packet> encodeTestImageAnswer(char deviceType, std::uint16_t width,
                                          std::uint16_t bytesPerLine,
                                          std::span<const std::uint8_t> data) {
    std::vector<Packet> packets;
    const auto length = static_cast<std::uint32_t>(data.size() + 6);
    Packet first;
    putLength(first, length);
    first.bytes[4] = code::GetTestImage;
    first.bytes[5] = static_cast<std::uint8_t>(deviceType);
    first.bytes[6] = static_cast<std::uint8_t>(width >> 8);
    first.bytes[7] = static_cast<std::uint8_t>(width);
    first.bytes[8] = static_cast<std::uint8_t>(bytesPerLine >> 8);
    first.bytes[9] = static_cast<std::uint8_t>(bytesPerLine);
    const std::size_t inFirst = std::min(data.size(), kFirstImagePacketData);
    std::copy_n(data.begin(), inFirst, first.bytes.begin() + 10);
    // A long answer's first packet is always a full bulk-in packet.
    first.size = length > kMaxSinglePacketLength ? kPacketSize : 10 + inFirst;
    packets.push_back(first);
    for (std::size_t pos = inFirst; pos < data.size(); pos += kPacketSize) {
        Packet p;
        const std::size_t n = std::min(kPacketSize, data.size() - pos);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), n, p.bytes.begin());
        p.size = n;
        packets.push_back(p);
    }
    return packets;
}

}  // namespace q70::link
