#pragma once
// One q70ctl run against a board: the window's controller driven through CliView, the
// window's start sequence, then one command, with every way it can go wrong turned into
// an exit code and a line on stderr.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
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
    // The boards on USB, for `list`; empty when this build has no USB.
    std::function<bool(std::vector<link::FoundBoard>&, std::string& error)> listBoards = {};
};

class Session : private app::ExchangeObserver {
  public:
    Session(Environment& env, std::unique_ptr<link::DeviceTransport> transport, int timeoutMs);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The window's start: start-up reads, initialisation, the eight reads answered. With
    // `needData` each read must bring its value (info, get and set show or keep them).
    int start(bool needData);

    // What the board reported, as NAME=VALUE lines or (json) one JSON object.
    int info(bool json);
    int get(bool json);
    int set(const std::vector<SettingAssignment>& assignments,
            const std::optional<link::DateTime>& time);
    int update(const std::string& file);
    int testImage(const std::string& bmpPath, const std::string& rawPath, int waitSeconds);

    const app::UtilityController& controller() const { return controller_; }

  private:
    enum class Phase { Before, Opening, Starting, Started, Writing, Updating };
    static constexpr int kDeadlineReached = -1;

    void onAnswer(std::uint8_t lastCommand, std::uint8_t answerCode, bool matched) override;
    void onTestImageData(std::span<const std::uint8_t> data) override;
    void onFirmwareUpdateEnded(bool succeeded) override;
    void onSettingsWriteEnded(bool succeeded) override;
    void onLinkEvent(LinkEvent event);
    void onMessage(const std::string& message);

    // Records the first failure and says what failed; later ones only add their lines.
    void fail(int code, const std::string& context);
    // Delivers ticks until `done` holds (0), the deadline passes (kDeadlineReached) or
    // something fails (its exit code).
    int runUntil(const std::function<bool()>& done, std::uint64_t deadlineMs);
    std::string text(config::TextKey key) const { return texts_.utf8(key); }
    void print(const Record& record, bool json) const;

    Environment& env_;
    std::unique_ptr<link::DeviceTransport> device_;
    MonitoredTransport transport_;
    CliView view_;
    config::TextCatalogue texts_;
    testimage::TestImage image_;
    app::UtilityController controller_;
    int timeoutMs_;

    Phase phase_ = Phase::Before;
    std::optional<int> failure_;
    std::map<std::uint8_t, std::uint8_t> startAnswers_;  // read code -> answer code
    bool startDone_ = false;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> writeAnswers_;  // request, answer
    bool writesDone_ = false;
    bool writesToldByWindow_ = false;
    bool updateDone_ = false;
    bool updateToldByWindow_ = false;
    std::vector<std::uint8_t> imageData_;
};

// The offline decoder: a raw test image of `width` scan lines of `height` dots to BMP.
int decodeRawFile(std::ostream& err, const std::string& rawPath, std::uint32_t width,
                  std::uint32_t height, const std::string& bmpPath);

}  // namespace q70::cli
