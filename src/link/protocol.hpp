#pragma once
// Every byte layout that crosses the link to the board lives here: the request
// encoders the host uses, the answer decoders, and the mirror images the
// simulated board needs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace q70::link {

inline constexpr std::size_t kPacketSize = 1024;
inline constexpr std::size_t kLengthFieldSize = 4;
// An answer whose length field is at most this arrives whole in one packet.
inline constexpr std::uint32_t kMaxSinglePacketLength = kPacketSize - kLengthFieldSize;  // 1020
// Image data bytes carried by the first packet of a test image (after the 10-byte header).
inline constexpr std::size_t kFirstImagePacketData = kPacketSize - 10;  // 1014
// Text bytes one FirmwareData request may carry: the host's chunk store.
inline constexpr std::size_t kChunkCapacity = 896;
// Upper bound for a test image's data and for its bitmap; anything larger is a bad packet.
inline constexpr std::uint64_t kMaxImageBytes = 64ull << 20;

using PacketBuffer = std::array<std::uint8_t, kPacketSize>;

namespace code {
inline constexpr std::uint8_t Acknowledge = 0;
inline constexpr std::uint8_t GetDeviceInfo = 1;
inline constexpr std::uint8_t GetStatus = 2;
inline constexpr std::uint8_t GetTestImage = 4;
inline constexpr std::uint8_t SetDateTime = 5;
inline constexpr std::uint8_t PrintMode = 6;
inline constexpr std::uint8_t GetFirmwareVersion = 13;
inline constexpr std::uint8_t SaveMode = 17;
inline constexpr std::uint8_t Paper = 18;
inline constexpr std::uint8_t Margin = 19;
inline constexpr std::uint8_t TimeStamp = 20;
inline constexpr std::uint8_t FirmwareData = 22;
// Accepted as the answer to any request; the host takes no action on it.
inline constexpr std::uint8_t NoAction = 0xFE;
// Accepted as the answer to any request; after FirmwareData it continues the transfer.
inline constexpr std::uint8_t Continue = 0xFF;
}  // namespace code

// Sub-codes of FirmwareData.
namespace firmware_sub {
inline constexpr std::uint8_t Start = 0;
inline constexpr std::uint8_t Chunk = 1;
inline constexpr std::uint8_t LastChunk = 2;
}  // namespace firmware_sub

// The five settings in the order the window writes them (Apply, OK).
inline constexpr std::array<std::uint8_t, 5> kSettingWriteOrder = {
    code::PrintMode, code::SaveMode, code::Paper, code::Margin, code::TimeStamp};

// The eight reads queued when the window starts and after every language change.
inline constexpr std::array<std::uint8_t, 8> kStartSequence = {
    code::GetDeviceInfo, code::GetFirmwareVersion, code::PrintMode, code::SaveMode, code::Paper,
    code::Margin,        code::TimeStamp,          code::GetStatus};

constexpr bool isSettingCode(std::uint8_t c) {
    return c == code::PrintMode || c == code::SaveMode || c == code::Paper || c == code::Margin ||
           c == code::TimeStamp;
}

// One encoded packet; fixed storage so that the request path never allocates.
struct Packet {
    PacketBuffer bytes{};
    std::size_t size = 0;

    std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
    bool empty() const { return size == 0; }
};

struct DateTime {
    int year = 0;    // full four-digit year
    int month = 0;   // 1 to 12
    int day = 0;     // 1 to 31
    int hour = 0;    // 0 to 23
    int minute = 0;  // 0 to 59
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// ---- Host side: requests ---------------------------------------------------------------

// 01 00 00 00 code.
Packet encodeBare(std::uint8_t requestCode);
// Write form of a setting, or GetTestImage: 02 00 00 00 code value.
Packet encodeWithByte(std::uint8_t requestCode, std::uint8_t value);
// SetDateTime: 07 00 00 00 05, year (LE16), month, day, hour, minute.
Packet encodeSetDateTime(const DateTime& dt);
// FirmwareData: (n+3) LE16, 00 00, 16, sub-code, n text bytes, 00.
// Returns an empty packet when the text exceeds kChunkCapacity.
Packet encodeFirmwareData(std::uint8_t subCode, std::span<const std::uint8_t> text);

// 32-bit little-endian length field at the start of a packet; missing bytes count as 0.
std::uint32_t readLength(std::span<const std::uint8_t> packet);

// ---- Host side: answers ----------------------------------------------------------------

// A complete answer as the dispatcher sees it. Offsets are packet offsets (the code is
// at 4); bytes past the announced length read as 0, so no handler reads stale data.
class AnswerView {
  public:
    AnswerView(std::span<const std::uint8_t> packet, std::uint32_t length)
        : packet_(packet), end_(kLengthFieldSize + static_cast<std::uint64_t>(length)) {}

    std::uint8_t at(std::size_t offset) const {
        return offset < end_ && offset < packet_.size() ? packet_[offset] : 0;
    }
    std::uint8_t code() const { return at(4); }
    std::uint16_t le16(std::size_t offset) const;
    std::uint32_t le32(std::size_t offset) const;
    // Text from offset to the first 0 byte or the end of the answer.
    std::string text(std::size_t offset) const;

  private:
    std::span<const std::uint8_t> packet_;
    std::uint64_t end_;
};

struct DeviceInfo {
    char deviceType = 'S';
    std::uint16_t infoWord1 = 0;
    std::uint16_t infoWord2 = 0;
    std::uint8_t infoByte = 0;
    std::uint32_t infoLong1 = 0;
    std::uint32_t infoLong2 = 0;
    bool infoFlag = false;
    std::string infoText;

    bool deviceTypeW() const { return deviceType == 'W' || deviceType == 'w'; }
};

struct StatusRecord {
    std::uint8_t deviceState = 0;
    bool statusFlagA = false;  // bit 0x20 of byte 8
    bool statusFlagB = false;  // bit 0x40 of byte 8
};

// What the host does with a status answer's deviceState.
enum class StateReaction { FetchTestImage, OpenPanel, ClosePanel, None };
StateReaction reactionTo(std::uint8_t deviceState);

struct TestImageHeader {
    char deviceType = 0;
    std::uint16_t width = 0;         // scan lines: the picture's width in pixels
    std::uint16_t bytesPerLine = 0;  // height in pixels = bytesPerLine * 8
    std::uint32_t dataSize = 0;      // length - 6

    std::uint32_t height() const { return static_cast<std::uint32_t>(bytesPerLine) * 8u; }
    // Size of the 1-bit bitmap the image becomes: rows padded to 32 pixels, one row per
    // dot of a scan line. 64-bit so that no header can overflow it.
    std::uint64_t bitmapBytes() const {
        return ((static_cast<std::uint64_t>(width) + 31) / 32) * 4 * height();
    }
};

DeviceInfo decodeDeviceInfo(const AnswerView& answer);
StatusRecord decodeStatus(const AnswerView& answer);
// Header of the first packet of a test image whose length field is `length`.
TestImageHeader decodeTestImageHeader(std::span<const std::uint8_t> firstPacket,
                                      std::uint32_t length);

// ---- Board side: the simulated board reads requests and writes answers ------------------

struct Request {
    std::uint8_t code = 0;
    std::uint32_t length = 0;
    std::span<const std::uint8_t> payload;  // bytes after the code, length - 1 of them
};
// Parses one request packet; false when it is shorter than 5 bytes or than its length.
bool decodeRequest(std::span<const std::uint8_t> packet, Request& out);
DateTime decodeSetDateTime(const Request& request);

Packet encodeAnswer(std::uint8_t answerCode, std::span<const std::uint8_t> payload = {});
Packet encodeDeviceInfoAnswer(const DeviceInfo& info);
Packet encodeStatusAnswer(const StatusRecord& status);
Packet encodeSettingAnswer(std::uint8_t settingCode, std::uint8_t value);
Packet encodeVersionAnswer(const std::string& version);
// The multi-packet answer to GetTestImage: a 1024-byte first packet with the header and
// 1014 data bytes, then 1024-byte packets, the last one exactly as long as what is left.
std::vector<Packet> encodeTestImageAnswer(char deviceType, std::uint16_t width,
                                          std::uint16_t bytesPerLine,
                                          std::span<const std::uint8_t> data);

}  // namespace q70::link
