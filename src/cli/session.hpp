#pragma once
// One q70ctl run against a board: the window's controller driven through CliView, the
// window's start sequence, then one command, with every way it can go wrong turned into
// an error class (from the outcome the core reports), an exit code and a line on stderr.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/utility_controller.hpp"
#include "cli/arguments.hpp"
#include "cli/cli_view.hpp"
#include "cli/monitored_transport.hpp"
#include "cli/tick_loop.hpp"
#include "config/text_catalogue.hpp"
#include "link/device_address.hpp"
#include "testimage/test_image.hpp"

namespace q70::cli {

class Record;

using TransportFactory = std::function<std::unique_ptr<link::DeviceTransport>(
    const link::DeviceAddress&, const link::Clock&, std::string& error)>;

// What a run needs from the outside; main() fills it from the process, tests with a
// virtual clock and a board in the same process.
struct Environment {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
    std::string programFolder;
    Scheduler& scheduler;
    TransportFactory makeTransport;
    // The computer's local date and time (the pickers' start value and --time now).
    std::function<link::DateTime()> localNow;
    // The boards on USB, for `list` and `--device all`; empty when this build has no USB.
    std::function<bool(std::vector<link::FoundBoard>&, std::string& error)> listBoards = {};
    // A clock and tick loop of its own for each board when several run at once; without
    // it they run one after the other on `scheduler`.
    std::function<std::unique_ptr<Scheduler>()> makeScheduler = {};
};

struct SessionOptions {
    int timeoutMs = 5000;
    int waitBusySeconds = 0;
    std::string address;  // as the user gave it: the "device" of the JSON documents
    bool json = false;
    // Where rawdata.bin goes, when not to the program folder.
    std::string rawDataFolder;
};

class Session : private app::ExchangeObserver {
  public:
    Session(Environment& env, std::unique_ptr<link::DeviceTransport> transport,
            SessionOptions options);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The window's start: start-up reads, initialisation, the eight reads answered. With
    // `needData` each read must bring its value (info, get and set show or keep them).
    int start(bool needData);

    // What the board reported, as NAME=VALUE lines or (json) one JSON object.
    int info();
    int get();
    int set(const std::vector<SettingAssignment>& assignments,
            const std::optional<link::DateTime>& time);
    int update(const std::string& file);
    // Waits up to waitSeconds for the board's offer; an image once begun must arrive whole
    // within imageSeconds.
    int testImage(const std::string& bmpPath, const std::string& rawPath, int waitSeconds,
                  int imageSeconds);

    // The first failure, once a command returned non-zero.
    const std::optional<Failure>& failure() const { return failure_; }
    const app::UtilityController& controller() const { return controller_; }

  private:
    enum class Phase { Before, Opening, Starting, Started, Writing, Updating, ReadingBack };
    static constexpr int kDeadlineReached = -1;

    void onAnswer(std::uint8_t lastCommand, std::uint8_t answerCode, bool matched) override;
    void onTestImageData(std::span<const std::uint8_t> data) override;
    void onFirmwareUpdateEnded(link::Outcome outcome) override;
    void onSettingsWriteEnded(link::Outcome outcome) override;
    void onLinkFailed(link::Outcome why, std::uint8_t request) override;
    void onShortAnswer(std::uint32_t length, std::size_t received) override;
    void onTestImageRefused(const link::TestImageHeader& header) override;

    // Records the first failure and says what failed; later ones only add their lines.
    // Without a context the window's last message stands for it in the error JSON.
    int fail(ErrorClass cls, const std::string& context);
    // Delivers ticks until `done` holds (0), the deadline passes (kDeadlineReached) or
    // something fails (its exit code).
    int runUntil(const std::function<bool()>& done, std::uint64_t deadlineMs);
    std::string text(config::TextKey key) const { return texts_.utf8(key); }
    // The five settings as the board holds them (words, or numbers without a word).
    Record settingsRecord() const;
    // A JSON success document starts with these.
    Record document() const;
    void print(const Record& record) const;

    Environment& env_;
    std::unique_ptr<link::DeviceTransport> device_;
    MonitoredTransport transport_;
    CliView view_;
    config::TextCatalogue texts_;
    testimage::TestImage image_;
    app::UtilityController controller_;
    SessionOptions options_;

    Phase phase_ = Phase::Before;
    std::optional<Failure> failure_;
    std::string lastWindowMessage_;
    std::map<std::uint8_t, std::uint8_t> startAnswers_;  // read code -> answer code
    bool startDone_ = false;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> writeAnswers_;  // request, answer
    bool writesDone_ = false;
    std::optional<link::Outcome> writeOutcome_;  // as the window told it
    bool updateDone_ = false;
    std::optional<link::Outcome> updateOutcome_;
    std::string updateDetail_;  // what the board answered when it stopped the update
    std::string mismatch_;      // the last answer that did not belong to its request
    bool readBackDone_ = false;
    std::string readBackVersion_;
    std::vector<std::uint8_t> imageData_;
};

// The name that writes the BMP to standard output instead of a file.
inline constexpr std::string_view kStandardOutput = "-";

// Empty when q70ctl may write the path; otherwise the message that refuses it (a folder, a
// device, a FIFO: nothing but a regular file is replaced).
std::string refuseOutput(const std::string& path);

// The offline decoder: a raw test image of `width` scan lines of `height` dots to BMP
// (to `out` for "-"). On failure, `failure` says why.
int decodeRawFile(std::ostream& out, std::ostream& err, const std::string& rawPath,
                  std::uint32_t width, std::uint32_t height, const std::string& bmpPath,
                  Failure& failure);

}  // namespace q70::cli
