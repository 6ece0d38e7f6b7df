#pragma once
// A copy board that lives in this process: it takes request packets and produces the
// answer packets a real board would, on the link's clock, with faults on request. Used
// in-process (the `sim` device), by q70-board-sim and by the tests.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/protocol.hpp"
#include "link/timer_service.hpp"
#include "sim/test_picture.hpp"

namespace q70::sim {

// The five settings as the board holds them, each 0 or 1.
struct BoardSettings {
    std::uint8_t printMode = 0;  // 0 original image, 1 match paper size
    std::uint8_t saveMode = 0;   // 0 original image, 1 match paper size
    std::uint8_t paper = 0;      // 0 A4, 1 Letter
    std::uint8_t margin = 0;     // 0 disable, 1 enable
    std::uint8_t timeStamp = 1;  // 0 disable, 1 enable

    // By the setting's request code; nullptr for any other code.
    std::uint8_t* byCode(std::uint8_t settingCode);
    const std::uint8_t* byCode(std::uint8_t settingCode) const;
    bool operator==(const BoardSettings&) const = default;
};

enum class FaultKind {
    AnswerNoAction,  // answer 0xFE instead of the normal answer
    AnswerContinue,  // answer 0xFF instead of the normal answer
    ShortPacket,     // answer with a packet of 1 to 4 bytes
    MismatchedCode,  // answer with a code that fits neither the request nor "any request"
    Silence,         // no answer at all
    Lose,            // the board vanishes from the link, and comes back later
    Forget,          // acknowledge the request without carrying it out
};

// One rule for misbehaving. A request matches when its code and its number fit; the
// fault strikes the matching requests after the first `skip`, `times` of them. A struck
// request is not carried out, except by Lose with answerPackets > 0.
struct Fault {
    FaultKind kind = FaultKind::AnswerNoAction;
    int requestCode = -1;           // only requests with this code; -1: any code
    std::uint64_t fromRequest = 0;  // only the board's Nth request (1-based) and later; 0: any
    std::uint32_t skip = 0;         // matching requests let through before it strikes
    std::uint32_t times = 1;        // matching requests it strikes; 0: every one
    std::uint8_t shortSize = 4;     // ShortPacket: bytes sent, 1 to 4
    std::uint8_t answerCode = 3;    // MismatchedCode: code of the answer sent
    // Lose: answer packets of the struck request that still go out before the board
    // vanishes (0: it vanishes on receiving the request; more: mid-answer, e.g. mid-image).
    std::uint32_t answerPackets = 0;
    std::uint32_t downMs = 2000;  // Lose: how long it stays away; 0: until replug()
};

struct BoardOptions {
    char deviceType = 'W';
    std::string version = "Q70 Ver 1.20";
    std::string name = "Q-70";  // drawn in big letters on the test image
    BoardSettings settings;
    link::DateTime dateTime{2024, 1, 1, 0, 0};

    // After a settings or clock write the board reports busyState (2 to 6) this long.
    std::uint32_t busyMs = 1500;
    std::uint8_t busyState = 3;

    // Test-image offers: the first this long after the board starts (none when empty),
    // then every imageEveryMs (0: only once).
    std::optional<std::uint32_t> firstImageAfterMs;
    std::uint32_t imageEveryMs = 0;
    std::uint16_t imageWidth = kPictureWidth;
    std::uint16_t imageBytesPerLine = kPictureBytesPerLine;

    std::vector<Fault> faults;
    // The board vanishes once this many packets (requests and answer packets together)
    // have crossed the link since it started; 0: never.
    std::uint64_t loseAfterPackets = 0;
    std::uint32_t loseDownMs = 2000;  // 0: until replug()
};

class SimulatedBoard {
  public:
    explicit SimulatedBoard(const link::Clock& clock, BoardOptions options = {});

    // ---- The link side -----------------------------------------------------------------
    // Whether the board is on the link now (false from a loss until it comes back).
    bool present();
    // Grows by one each time the board vanishes, so a host can tell that its connection
    // belongs to an earlier appearance.
    std::uint64_t presenceEpoch() const { return epoch_; }
    // A host opened or closed the link; answers not yet read are dropped either way.
    void connect();
    void disconnect();
    // One request packet; false when the board is not there to take it.
    bool receive(std::span<const std::uint8_t> packet);
    // The next answer packet due, if any.
    bool nextAnswer(link::Packet& out);
    std::size_t answersQueued() const { return answers_.size(); }

    // ---- The operator's side -----------------------------------------------------------
    void offerTestImage();
    bool testImageOffered() const { return imageOffered_; }
    // Pulls the cable: gone for downMs (0: until replug()).
    void unplug(std::uint32_t downMs = 0);
    void replug();
    void addFault(const Fault& fault);
    void clearFaults();
    void loseAfterPackets(std::uint64_t packetsFromNow, std::uint32_t downMs);
    // Called with every request packet the board takes.
    void setRequestObserver(std::function<void(std::span<const std::uint8_t>)> observer) {
        observer_ = std::move(observer);
    }

    // ---- What the board holds ----------------------------------------------------------
    const BoardSettings& settings() const { return settings_; }
    void setSettings(const BoardSettings& s) { settings_ = s; }
    const link::DateTime& dateTime() const { return dateTime_; }
    const std::string& version() const { return version_; }
    void setVersion(std::string v) { version_ = std::move(v); }
    char deviceType() const { return options_.deviceType; }
    std::uint8_t deviceState();
    // Firmware: the path of the last start request, the text received since, how many
    // updates completed and whether the last one was refused.
    const std::string& firmwarePath() const { return firmwarePath_; }
    const std::string& firmwareText() const { return firmwareText_; }
    bool firmwareReceiving() const { return firmwareActive_; }
    bool firmwareRejected() const { return firmwareRejected_; }
    std::uint32_t firmwareUpdates() const { return firmwareUpdates_; }
    // Grows whenever settings, clock or version change (for saving them).
    std::uint64_t stateRevision() const { return revision_; }

    std::uint64_t requestCount() const { return requests_; }
    std::uint64_t packetCount() const { return packets_; }
    std::uint32_t imagesSent() const { return imagesSent_; }
    // The compressed data of the last test image sent, and its scan lines.
    const std::vector<std::uint8_t>& lastImageData() const { return lastImageData_; }
    const ScanLines& lastImageLines() const { return lastImageLines_; }

  private:
    struct FaultState {
        Fault fault;
        std::uint32_t seen = 0;
        std::uint32_t struck = 0;
    };

    void advanceTime();
    void vanish(std::uint32_t downMs);
    void countPacket();
    const Fault* strikingFault(const link::Request& request, bool decoded);
    void carryOut(const link::Request& request);
    void answer(const link::Packet& p) { answers_.push_back(p); }
    void answerCode(std::uint8_t c) { answer(link::encodeAnswer(c)); }
    link::Packet readAnswerFor(std::uint8_t code);
    void handleFirmware(const link::Request& request);
    void queueTestImage();
    void beginBusy();

    const link::Clock& clock_;
    BoardOptions options_;
    BoardSettings settings_;
    link::DateTime dateTime_;
    std::string version_;

    std::deque<link::Packet> answers_;
    std::size_t imagePacketsLeft_ = 0;  // packets of a test image still in answers_
    bool imageOffered_ = false;
    std::optional<std::uint64_t> nextOfferAt_;
    std::uint32_t imagesSent_ = 0;
    std::vector<std::uint8_t> lastImageData_;
    ScanLines lastImageLines_;
    std::uint64_t busyUntil_ = 0;

    bool present_ = true;
    std::optional<std::uint64_t> backAt_;
    std::uint64_t epoch_ = 0;
    std::optional<std::uint32_t> loseAfterAnswers_;  // a Lose fault that lets some out
    std::uint32_t pendingDownMs_ = 0;
    std::uint64_t loseAtPacket_ = 0;
    std::uint32_t loseAtPacketDownMs_ = 0;

    std::vector<FaultState> faults_;
    std::uint64_t requests_ = 0;
    std::uint64_t packets_ = 0;
    std::uint64_t revision_ = 0;

    bool firmwareActive_ = false;
    bool firmwareRejected_ = false;
    std::uint32_t firmwareUpdates_ = 0;
    std::string firmwarePath_;
    std::string firmwareText_;
    std::string firmwareVersion_;  // from the S0 record of the transfer under way

    std::function<void(std::span<const std::uint8_t>)> observer_;
};

}  // namespace q70::sim
