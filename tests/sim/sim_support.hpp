#pragma once
// Helpers shared by the simulated-board tests: talking to a board packet by packet, a
// listener that drives a firmware update like the window does, and S-record files.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/engine.hpp"
#include "link/protocol.hpp"
#include "sim/simulated_board.hpp"
#include "support/recording_listener.hpp"

namespace q70::test {

inline std::vector<std::uint8_t> bytesOf(const link::Packet& p) {
    return {p.bytes.begin(), p.bytes.begin() + static_cast<std::ptrdiff_t>(p.size)};
}

// Sends one request and collects every answer packet the board has for it.
inline std::vector<link::Packet> ask(sim::SimulatedBoard& board, const link::Packet& request) {
    board.receive(request.view());
    std::vector<link::Packet> out;
    link::Packet p;
    while (board.nextAnswer(p)) out.push_back(p);
    return out;
}

// One S-record with its count and checksum filled in.
inline std::string sRecord(char type, const std::vector<std::uint8_t>& addressAndData) {
    unsigned sum = static_cast<unsigned>(addressAndData.size() + 1);
    std::string line = "S";
    line += type;
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(addressAndData.size() + 1));
    line += hex;
    for (const std::uint8_t b : addressAndData) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
        sum += b;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFFu);
    line += hex;
    return line;
}

// A firmware file: an S0 header carrying `version`, `dataLines` S1 records, an S9 end.
inline std::vector<std::string> firmwareLines(const std::string& version, int dataLines) {
    std::vector<std::string> lines;
    std::vector<std::uint8_t> header = {0, 0};
    header.insert(header.end(), version.begin(), version.end());
    lines.push_back(sRecord('0', header));
    for (int i = 0; i < dataLines; ++i) {
        std::vector<std::uint8_t> rec = {static_cast<std::uint8_t>(i >> 4),
                                         static_cast<std::uint8_t>(i << 4)};
        for (int k = 0; k < 16; ++k) rec.push_back(static_cast<std::uint8_t>(i * 7 + k));
        lines.push_back(sRecord('1', rec));
    }
    lines.push_back(sRecord('9', {0, 0}));
    return lines;
}

// Plays the window's part in the link's flows: chosen setting values, and a firmware
// update sent in chunks of up to 16 lines, each after the previous one was answered.
class FlowListener : public RecordingListener {
  public:
    void attach(link::TransferEngine& engine) { engine_ = &engine; }

    std::uint8_t settingValueForWrite(std::uint8_t c) override { return settingValues[c]; }

    void startFirmware(std::vector<std::string> lines) {
        fileLines_ = std::move(lines);
        next_ = 0;
        firmwareUpdating = true;
        lastChunkQueued = false;
        engine_->enqueueRequest(link::code::FirmwareData, 1);
        readChunk();
    }
    void onAcknowledgement(std::uint8_t last) override {
        RecordingListener::onAcknowledgement(last);
        if (last == link::code::FirmwareData && firmwareUpdating && !lastChunkQueued) queueChunk();
    }
    void onFirmwareContinue() override {
        RecordingListener::onFirmwareContinue();
        if (firmwareUpdating) queueChunk();
    }
    void onAnswerDispatched(std::uint8_t last, std::uint8_t answer, bool matched) override {
        dispatched.push_back({last, answer});
        if (!matched) ++unmatched;
    }

    std::uint8_t settingValues[256] = {};
    std::vector<std::pair<std::uint8_t, std::uint8_t>> dispatched;  // request, answer code
    int unmatched = 0;
    int chunksQueued = 0;

  private:
    void readChunk() {
        chunk.clear();
        for (int i = 0; i < 16 && next_ < fileLines_.size(); ++i)
            chunk += fileLines_[next_++] + "\n";
        chunkAtEnd = next_ >= fileLines_.size();
    }
    void queueChunk() {
        engine_->enqueueRequest(link::code::FirmwareData, 0);
        ++chunksQueued;
        readChunk();
    }

    link::TransferEngine* engine_ = nullptr;
    std::vector<std::string> fileLines_;
    std::size_t next_ = 0;
};

}  // namespace q70::test
