#pragma once
// The input of fuzz_link_answers, read front to back, one choice at a time, in the order the
// session asks for them. make_seeds writes the same format from sessions with the
// simulated board, so both must keep to these rules:
//
//   action  1 byte, % 100: below kActionApply a pump or reconnect tick; then Apply, OK,
//           Update, a language change (the first three of each in a run; later ones do
//           nothing), and a radio click (1 more byte, % 5, which one)
//   open    1 byte: the device opens unless it is % 16 == 0
//   write   1 byte: the write fails when it is % 32 == 0
//   read    1 byte, % 10 (the move):
//             0-2  a packet: 2 bytes little-endian % 1025 (its size), then its bytes
//             3-4  the well-formed answer to the last request (further bytes as needed);
//                  while the board still has packets of an earlier answer to send
//                  (a test image), moves 0 to 5 deliver the next of those instead
//             5    the last packet again, as a full 1024-byte packet
//             6    the device is lost
//             7-9  silence: the read waits its full time for nothing
//
// A session ends when the input runs out: from then on every choice reads as 0 and every
// read fails.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "window/control_ids.hpp"

namespace q70::fuzz {

// Where each action's range of values starts; below kActionApply: a tick.
inline constexpr int kActionApply = 85;
inline constexpr int kActionOK = 89;
inline constexpr int kActionUpdate = 91;
inline constexpr int kActionLanguage = 94;
inline constexpr int kActionRadio = 96;
// The radios a radio click may hit, by the byte that follows the action (% 5).
inline constexpr int kRadioCount = 5;
inline constexpr int kRadios[kRadioCount] = {
    window::id::PrintModeMatch, window::id::SaveModeOriginal, window::id::PaperLetter,
    window::id::MarginEnable, window::id::TimeStampDisable};

inline constexpr int kMovePacket = 0;
inline constexpr int kMoveAnswer = 3;
inline constexpr int kMoveRepeat = 5;
inline constexpr int kMoveLost = 6;
inline constexpr int kMoveSilence = 7;

class TapeReader {
  public:
    TapeReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    std::uint16_t u16() {
        const std::uint16_t lo = byte();
        return static_cast<std::uint16_t>(lo | (byte() << 8));
    }
    std::uint32_t u32() {
        const std::uint32_t lo = u16();
        return lo | (std::uint32_t{u16()} << 16);
    }
    // Up to n bytes; fewer when the input runs out.
    std::vector<std::uint8_t> bytes(std::size_t n) {
        const std::size_t k = n < size_ - pos_ ? n : size_ - pos_;
        std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + k);
        pos_ += k;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace q70::fuzz
