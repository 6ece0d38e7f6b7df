#pragma once
// The in-process simulated board behind a transport that spoils one answer packet on
// request: the board is lost, the packet shrinks to 4 bytes or fewer, a mismatched answer
// or 0xFE comes instead, or the board falls silent. A spoilt packet ends its answer, as a
// short packet ends a bulk transfer: the rest of that answer never arrives.
//
// It also records how long each read was allowed to wait.

#include <algorithm>
#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "link/protocol.hpp"
#include "link/transport.hpp"
#include "sim/sim_transport.hpp"

namespace q70::test {

enum class FaultKind { Lost, Short, Mismatched, NoAction, Silence };

class FaultyTransport : public link::DeviceTransport {
  public:
    explicit FaultyTransport(sim::SimulatedBoard& board) : inner_(board), board_(board) {}

    // Spoils packet `packet` of the answer to the `request`-th request (counted from 0, from
    // now on) whose code is one of `codes`.
    void arm(FaultKind kind, std::set<std::uint8_t> codes, int request, int packet = 0) {
        kind_ = kind;
        codes_ = std::move(codes);
        request_ = request;
        packet_ = packet;
        matched_ = 0;
        armed_ = true;
        target_ = false;
        silent_ = false;
    }
    // The board behaves again (it is plugged back in by the caller where it was lost).
    void disarm() {
        armed_ = false;
        target_ = false;
        silent_ = false;
    }
    bool struck() const { return struck_; }
    int maxWaitMs() const { return maxWaitMs_; }
    int reads() const { return reads_; }
    std::size_t writes() const { return writes_; }

    bool open() override { return inner_.open(); }
    bool isOpen() const override { return inner_.isOpen(); }

    bool writePacket(std::span<const std::uint8_t> packet) override {
        if (!inner_.writePacket(packet)) return false;
        ++writes_;
        lastCode_ = packet.size() > 4 ? packet[4] : 0;
        silent_ = false;  // the board takes a new request, so it speaks again
        target_ = false;
        if (armed_ && packet.size() > 4 && codes_.count(packet[4]) == 1 && matched_++ == request_) {
            target_ = true;
            answerPackets_ = 0;
        }
        return true;
    }

    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override {
        ++reads_;
        maxWaitMs_ = std::max(maxWaitMs_, maxWaitMs);
        if (silent_ && inner_.isOpen()) return {link::ReadStatus::Pending, 0};
        const link::ReadResult r = inner_.readPacket(buffer, maxWaitMs);
        if (!target_ || r.status != link::ReadStatus::Ok || answerPackets_++ != packet_) return r;

        target_ = false;
        armed_ = false;
        struck_ = true;
        const std::uint8_t request = lastCode_;
        const int variant = request_ + packet_;  // varies the spoilt packet over the cells
        switch (kind_) {
            case FaultKind::Lost:
                board_.unplug(0);  // until the test plugs it back in
                return {link::ReadStatus::Failed, 0};
            case FaultKind::Short: {
                dropRestOfAnswer();
                const auto n = static_cast<std::size_t>(variant % 5);  // 0 to 4 bytes
                return {link::ReadStatus::Ok, std::min(n, r.size)};
            }
            case FaultKind::Mismatched:
                dropRestOfAnswer();
                // No such request, or the report of another setting.
                return put(buffer, variant % 2 == 0
                                       ? link::encodeAnswer(3)
                                       : link::encodeSettingAnswer(request == link::code::PrintMode
                                                                       ? link::code::SaveMode
                                                                       : link::code::PrintMode,
                                                                   1));
            case FaultKind::NoAction:
                dropRestOfAnswer();
                return put(buffer, link::encodeAnswer(link::code::NoAction));
            case FaultKind::Silence:
                dropRestOfAnswer();
                silent_ = true;
                return {link::ReadStatus::Pending, 0};
        }
        return r;
    }

    void close() override { inner_.close(); }

  private:
    void dropRestOfAnswer() {
        link::PacketBuffer scratch;
        while (inner_.readPacket(scratch, 0).status == link::ReadStatus::Ok) {
        }
    }
    static link::ReadResult put(link::PacketBuffer& buffer, const link::Packet& p) {
        std::copy_n(p.bytes.begin(), p.size, buffer.begin());
        return {link::ReadStatus::Ok, p.size};
    }

    sim::SimTransport inner_;
    sim::SimulatedBoard& board_;
    FaultKind kind_ = FaultKind::Lost;
    std::set<std::uint8_t> codes_;
    int request_ = 0;
    int packet_ = 0;
    int matched_ = 0;
    int answerPackets_ = 0;
    bool armed_ = false;
    bool target_ = false;
    bool silent_ = false;
    bool struck_ = false;
    std::uint8_t lastCode_ = 0;  // so that a mismatched answer avoids the request's own code
    int maxWaitMs_ = 0;
    int reads_ = 0;
    std::size_t writes_ = 0;
};

}  // namespace q70::test
