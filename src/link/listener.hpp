#pragma once
// The narrow hooks through which the link reaches the Parts above it (settings,
// firmware, test image, window). The controller implements both interfaces.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/outcome.hpp"
#include "link/protocol.hpp"

namespace q70::link {

// The failures the link reports to the user; the controller maps them to catalogue texts.
enum class LinkMessage {
    USBOpenError,     // the device could not be opened at start
    DeviceBusy,       // at start, another program held the board
    ReceivePktError,  // a read failed (not during a firmware transfer)
    ReceiveBadPkt,    // a malformed answer
};

// Supplies what the write forms of the requests carry.
class RequestSource {
  public:
    virtual ~RequestSource() = default;
    // Refreshes the values from the controls, then the low byte of the setting's pendingValue.
    virtual std::uint8_t settingValueForWrite(std::uint8_t settingCode) = 0;
    // The date and time pickers, as local time.
    virtual DateTime pickedDateTime() = 0;
    // Text of the FirmwareData start request (the file path as the user gave it).
    virtual std::span<const std::uint8_t> firmwarePath() = 0;
    // The chunk read ahead for the next FirmwareData data request.
    virtual std::span<const std::uint8_t> firmwareChunk() = 0;
    // The chunk reaches the end of the file (position equals fileLength).
    virtual bool firmwareChunkReachesEnd() = 0;
    virtual void setLastChunkQueued() = 0;
};

class LinkListener {
  public:
    virtual ~LinkListener() = default;

    virtual void showMessage(LinkMessage) {}
    // resetTransferState ran: closeAfterWrite is cleared with it.
    virtual void onTransferReset() {}

    // Answer handlers, by answer code.
    virtual void onAcknowledgement(std::uint8_t /*lastCommand*/) {}
    virtual void onDeviceInfo(const DeviceInfo&) {}
    virtual void onSettingReport(std::uint8_t /*settingCode*/, std::uint8_t /*value*/) {}
    virtual void onFirmwareVersion(const std::string&) {}
    // Answer 22, or 0xFF while the last request was FirmwareData.
    virtual void onFirmwareContinue() {}
    // The settings panel's share of the status reaction (the link does the rest).
    virtual void onDeviceState(std::uint8_t /*deviceState*/) {}
    virtual bool isFirmwareUpdating() const { return false; }

    // A read failed while FirmwareData was outstanding: hide the progress area.
    virtual void onFirmwareLinkLost() {}
    // An exchange failed and timer 1 stopped; deviceOpen as it is now, why it failed and
    // the request it failed on.
    virtual void onExchangeFailed(bool /*deviceOpen*/, Outcome /*why*/, std::uint8_t /*request*/) {}
    // The link started again by itself after a failure: a clean ring and the start
    // sequence queued.
    virtual void onLinkRestarted() {}
    // The queue has drained: refresh the window (first pump tick after the drain).
    virtual void onQueueDrainedRefresh() {}

    // After every dispatched answer, whatever its handler did: lets a front end see the
    // outcome of each exchange (for example a write answered with 0xFE).
    virtual void onAnswerDispatched(std::uint8_t /*lastCommand*/, std::uint8_t /*answerCode*/,
                                    bool /*matched*/) {}

    // An answer that carries fewer bytes than its length field announces, dropped as a bad
    // packet: `received` counts the length field too.
    virtual void onShortAnswer(std::uint32_t /*length*/, std::size_t /*received*/) {}
    // A test image refused from its header (no pixels, or too large to hold); its tail is
    // read away and the exchange fails as a bad answer.
    virtual void onTestImageRefused(const TestImageHeader&) {}
    // Test image: the header of the first packet, then the complete data.
    virtual void onTestImageHeader(const TestImageHeader&) {}
    virtual void onTestImageComplete(std::vector<std::uint8_t> /*data*/) {}
};

}  // namespace q70::link
