#pragma once
// Records what the link hands to the Parts above it, and supplies fixed request values.

#include <cstdint>
#include <string>
#include <vector>

#include "link/listener.hpp"

namespace q70::test {

class RecordingListener : public link::LinkListener, public link::RequestSource {
  public:
    // LinkListener
    void showMessage(link::LinkMessage m) override { messages.push_back(m); }
    void onTransferReset() override { ++transferResets; }
    void onAcknowledgement(std::uint8_t last) override { acks.push_back(last); }
    void onDeviceInfo(const link::DeviceInfo& i) override { deviceInfos.push_back(i); }
    void onSettingReport(std::uint8_t c, std::uint8_t v) override { reports.push_back({c, v}); }
    void onFirmwareVersion(const std::string& v) override { versions.push_back(v); }
    void onFirmwareContinue() override { ++firmwareContinues; }
    void onDeviceState(std::uint8_t s) override { states.push_back(s); }
    bool isFirmwareUpdating() const override { return firmwareUpdating; }
    void onFirmwareLinkLost() override { ++firmwareLinkLost; }
    void onExchangeFailed(bool open, link::Outcome why, std::uint8_t request) override {
        failures.push_back(open);
        failureOutcomes.push_back({why, request});
    }
    void onQueueDrainedRefresh() override { ++refreshes; }
    void onLinkRestarted() override { ++restarts; }
    void onShortAnswer(std::uint32_t length, std::size_t received) override {
        shortAnswers.push_back({length, received});
    }
    void onTestImageRefused(const link::TestImageHeader& h) override { refused.push_back(h); }
    void onTestImageHeader(const link::TestImageHeader& h) override { headers.push_back(h); }
    void onTestImageComplete(std::vector<std::uint8_t> d) override {
        images.push_back(std::move(d));
    }

    // RequestSource
    std::uint8_t settingValueForWrite(std::uint8_t c) override {
        return static_cast<std::uint8_t>(c + 100);
    }
    link::DateTime pickedDateTime() override { return dateTime; }
    std::span<const std::uint8_t> firmwarePath() override {
        return {reinterpret_cast<const std::uint8_t*>(path.data()), path.size()};
    }
    std::span<const std::uint8_t> firmwareChunk() override {
        return {reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()};
    }
    bool firmwareChunkReachesEnd() override { return chunkAtEnd; }
    void setLastChunkQueued() override { lastChunkQueued = true; }

    std::vector<link::LinkMessage> messages;
    int transferResets = 0;
    std::vector<std::uint8_t> acks;
    std::vector<link::DeviceInfo> deviceInfos;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> reports;
    std::vector<std::string> versions;
    int firmwareContinues = 0;
    std::vector<std::uint8_t> states;
    bool firmwareUpdating = false;
    int firmwareLinkLost = 0;
    std::vector<bool> failures;
    std::vector<std::pair<link::Outcome, std::uint8_t>> failureOutcomes;
    int refreshes = 0;
    int restarts = 0;
    std::vector<std::pair<std::uint32_t, std::size_t>> shortAnswers;
    std::vector<link::TestImageHeader> refused;
    std::vector<link::TestImageHeader> headers;
    std::vector<std::vector<std::uint8_t>> images;

    link::DateTime dateTime{2004, 12, 31, 23, 59};
    std::string path = "fw.mot";
    std::string chunk = "S0030000FC\n";
    bool chunkAtEnd = false;
    bool lastChunkQueued = false;
};

}  // namespace q70::test
