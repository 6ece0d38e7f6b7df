// What a script sees of q70ctl: the exit code and error class of each way a job fails,
// the JSON documents of the commands, several boards in one run, a board another program
// holds, and the firmware check.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "cli/record.hpp"
#include "cli_fixture.hpp"
#include "link/protocol.hpp"

namespace q70::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace code = link::code;

class CliOutcomes : public CliFixture {
  protected:
    // The last line of stderr, where the error object of a failure goes.
    std::string lastErrLine() const {
        std::string e = err.str();
        if (!e.empty() && e.back() == '\n') e.pop_back();
        return e.substr(e.rfind('\n') + 1);
    }
    std::filesystem::path firmwareFile(const std::string& text) {
        const std::filesystem::path p = folder / "fw.mot";
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
};

sim::Fault fault(sim::FaultKind kind, std::uint8_t request, std::uint32_t skip = 0) {
    sim::Fault f;
    f.kind = kind;
    f.requestCode = request;
    f.skip = skip;
    f.times = 0;
    f.downMs = 0;
    return f;
}

// The class comes from what the link and the operation saw; each ends as the JSON says.
TEST_F(CliOutcomes, EachFailureHasItsClassAndExitCode) {
    struct Case {
        const char* what;
        std::vector<sim::Fault> faults;
        std::vector<std::string> command;
        int exit;
        const char* cls;
    };
    const std::string mot = firmwareFile(longLineFirmware("Q70 Ver 2.00", 20)).string();
    const Case cases[] = {
        {"a write answered 0xFE",
         {fault(sim::FaultKind::AnswerNoAction, code::Paper, 1)},
         {"set", "paper=letter"},
         cli::kExitRefused,
         "refused"},
        {"a chunk answered 0xFE",
         {fault(sim::FaultKind::AnswerNoAction, code::FirmwareData, 1)},
         {"update", mot},
         cli::kExitRefused,
         "refused"},
        {"the start of an update answered 0xFE",
         {fault(sim::FaultKind::AnswerNoAction, code::FirmwareData)},
         {"update", mot},
         cli::kExitRefused,
         "refused"},
        {"gone mid-update",
         {fault(sim::FaultKind::Lose, code::FirmwareData, 2)},
         {"update", mot},
         cli::kExitLost,
         "lost"},
        {"gone at the start",
         {fault(sim::FaultKind::Lose, code::Paper)},
         {"get"},
         cli::kExitLost,
         "lost"},
        {"a four-byte answer",
         {fault(sim::FaultKind::ShortPacket, code::Paper)},
         {"info"},
         cli::kExitFailed,
         "bad-answer"},
        {"another request's code",
         {fault(sim::FaultKind::MismatchedCode, code::Margin)},
         {"get"},
         cli::kExitFailed,
         "bad-answer"},
        {"silence",
         {fault(sim::FaultKind::Silence, code::GetDeviceInfo)},
         {"get"},
         cli::kExitTimeout,
         "timeout"},
        {"no image",
         {},
         {"test-image", "-o", (folder / "x.bmp").string(), "--wait", "2"},
         cli::kExitTimeout,
         "timeout"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        options.faults = c.faults;
        makeBoard();
        std::vector<std::string> args = {"--device", "sim", "--timeout", "1000"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        args.push_back("--json");
        EXPECT_EQ(run(args), c.exit) << err.str();
        EXPECT_EQ(
            lastErrLine().rfind("{\"schema\": 1, \"error\": \"" + std::string(c.cls) +
                                    "\", \"exit\": " + std::to_string(c.exit) + ", \"message\": \"",
                                0),
            0u)
            << lastErrLine();
        EXPECT_NE(lastErrLine().find("\"device\": \"sim\"}"), std::string::npos) << lastErrLine();
        EXPECT_TRUE(out.str().empty()) << "no success document: " << out.str();
    }
    options.faults = {};
    makeBoard();
    // Usage and a missing device say so too; without --json only the words.
    EXPECT_EQ(run({"--device", "sim", "set", "paper=legal", "--json"}), cli::kExitUsage);
    EXPECT_NE(lastErrLine().find("\"error\": \"usage\""), std::string::npos) << lastErrLine();
    EXPECT_EQ(run({"--device", "unix:/nowhere", "get", "--json"}), cli::kExitNoDevice);
    EXPECT_NE(lastErrLine().find("\"error\": \"no-device\""), std::string::npos);
    EXPECT_EQ(run({"--device", "unix:/nowhere", "get"}), cli::kExitNoDevice);
    EXPECT_EQ(err.str().find('{'), std::string::npos) << err.str();
}

// What the board announced but did not send is no value: each is a bad answer that names
// what was wrong, and no file or line of output comes of it.
TEST_F(CliOutcomes, AnAnswerHoldingLessThanItAnnouncesIsABadAnswer) {
    // The header of a test image's first packet given these sizes (big-endian).
    const auto imageOf = [](std::uint16_t width, std::uint16_t bytesPerLine) {
        return [=](link::PacketBuffer& b, std::size_t& size) {
            if (size == link::kPacketSize && link::readLength(b) > link::kMaxSinglePacketLength) {
                b[6] = static_cast<std::uint8_t>(width >> 8);
                b[7] = static_cast<std::uint8_t>(width);
                b[8] = static_cast<std::uint8_t>(bytesPerLine >> 8);
                b[9] = static_cast<std::uint8_t>(bytesPerLine);
            }
        };
    };
    struct Case {
        const char* what;
        AlteringTransport::Alter alter;
        std::vector<std::string> command;
        const char* said;
    };
    const std::string bmp = (folder / "x.bmp").string();
    const Case cases[] = {
        {"no scan lines", imageOf(0, 188), {"test-image", "-o", bmp}, "is 0 x 1504 pixels"},
        {"no bytes per line", imageOf(2160, 0), {"test-image", "-o", bmp}, "is 2160 x 0 pixels"},
        // 32 bytes announced, 9 sent: the length field, the code and 8 bytes.
        {"a cut device information",
         [](link::PacketBuffer& b, std::size_t& size) {
             if (size > 4 && b[4] == code::GetDeviceInfo && link::readLength(b) == 32) size = 13;
         },
         {"info"},
         "answer to GetDeviceInfo (1) announces 32 bytes and carries 9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        options.firstImageAfterMs = 0;
        alterAnswers = c.alter;
        makeBoard();
        std::vector<std::string> args = {"--device", "sim", "--timeout", "1000"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        args.push_back("--json");
        EXPECT_EQ(run(args), cli::kExitFailed) << err.str();
        EXPECT_NE(lastErrLine().find("\"error\": \"bad-answer\""), std::string::npos)
            << lastErrLine();
        EXPECT_NE(lastErrLine().find(c.said), std::string::npos) << lastErrLine();
        EXPECT_TRUE(out.str().empty()) << out.str();
        EXPECT_FALSE(std::filesystem::exists(bmp));
    }
}

// A version text that carries a line of its own stays inside its line.
TEST_F(CliOutcomes, TheBoardsTextCannotForgeALine) {
    options.version = "1.20\ndevice-state=9\x1b]0;x\a";
    makeBoard();
    ASSERT_EQ(run({"--device", "sim", "info"}), 0) << err.str();
    const std::string lines = out.str();
    EXPECT_NE(lines.find("\nfirmware-version=1.20\\ndevice-state=9\\x1b]0;x\\x07\n"),
              std::string::npos)
        << lines;
    EXPECT_EQ(lines.find("\ndevice-state=9"), std::string::npos) << lines;
    EXPECT_EQ(lines.find('\x1b'), std::string::npos);
    ASSERT_EQ(run({"--device", "sim", "info", "--json"}), 0) << err.str();
    EXPECT_NE(out.str().find(R"("firmware-version": "1.20\u000Adevice-state=9\u001B]0;x\u0007")"),
              std::string::npos)
        << out.str();
}

// A board that sends each packet of its test image just inside the link's timeout.
class SlowImageTransport : public sim::SimTransport {
  public:
    SlowImageTransport(sim::SimulatedBoard& board, const link::Clock& clock, std::uint64_t gapMs)
        : sim::SimTransport(board), clock_(clock), gapMs_(gapMs) {}
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override {
        if (inImage_ && clock_.nowMs() < lastMs_ + gapMs_) return {link::ReadStatus::Pending, 0};
        link::ReadResult r = sim::SimTransport::readPacket(buffer, maxWaitMs);
        if (r.status == link::ReadStatus::Ok && r.size == link::kPacketSize &&
            link::readLength(buffer) > link::kMaxSinglePacketLength)
            inImage_ = true;
        lastMs_ = clock_.nowMs();
        return r;
    }

  private:
    const link::Clock& clock_;
    std::uint64_t gapMs_;
    bool inImage_ = false;
    std::uint64_t lastMs_ = 0;
};

// Once an image has begun it has a bound of its own; on a terminal its progress shows.
TEST_F(CliOutcomes, AnImageThatTakesTooLongEndsAtItsLimit) {
    options.firstImageAfterMs = 0;
    makeBoard();
    wrapBoard = [this](sim::SimulatedBoard& b) {
        return std::make_unique<SlowImageTransport>(b, sched, 900);
    };
    const std::string bmp = (folder / "slow.bmp").string();
    const std::uint64_t before = sched.nowMs();
    EXPECT_EQ(run({"--device", "sim", "--timeout", "1000", "test-image", "-o", bmp, "--wait", "5",
                   "--image-timeout", "10", "--json"}),
              cli::kExitTimeout);
    const std::uint64_t took = sched.nowMs() - before;
    EXPECT_GE(took, 10'000u);
    EXPECT_LT(took, 13'000u) << "not 149 packets 0.9 s apart";
    EXPECT_NE(lastErrLine().find("did not arrive whole within 10 s (--image-timeout): "),
              std::string::npos)
        << lastErrLine();
    EXPECT_FALSE(std::filesystem::exists(bmp));

    // The same board with time enough: it arrives, and a terminal saw it come.
    makeBoard();
    wrapBoard = [this](sim::SimulatedBoard& b) {
        return std::make_unique<SlowImageTransport>(b, sched, 100);
    };
    terminal = true;
    ASSERT_EQ(run({"--device", "sim", "test-image", "-o", bmp}), 0) << err.str();
    EXPECT_NE(err.str().find("] Image Scan is in progress... 0% (1014 of "), std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("\r[##############"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(bmp));
}

TEST_F(CliOutcomes, EveryCommandPrintsOneDocumentWithItsSchema) {
    ASSERT_EQ(run({"--device", "sim", "info", "--json"}), 0) << err.str();
    const std::string info = out.str();
    // Today's names first, as before; then the settings and where the board was reached.
    EXPECT_EQ(info.rfind("{\"schema\": 1, \"device-type\": \"W\", \"info-word-1\": 288, ", 0), 0u)
        << info;
    EXPECT_NE(info.find("\"status-flag-b\": false, \"settings\": {\"time-stamp\": \"enable\", "
                        "\"margin\": \"disable\", \"paper\": \"a4\", \"print-mode\": "
                        "\"original\", \"save-mode\": \"original\"}, \"device\": {\"address\": "
                        "\"sim\"}}\n"),
              std::string::npos)
        << info;
    EXPECT_EQ(requests, startSequenceBytes()) << "identity and settings in one read";

    ASSERT_EQ(
        run({"--device", "sim", "set", "paper=letter", "--time", "2004-12-31T23:59", "--json"}), 0);
    EXPECT_EQ(out.str(),
              "{\"schema\": 1, \"device\": \"sim\", \"time-stamp\": \"enable\", \"margin\": "
              "\"disable\", \"paper\": \"letter\", \"print-mode\": \"original\", \"save-mode\": "
              "\"original\", \"time\": \"2004-12-31T23:59\"}\n");

    const std::string mot = firmwareFile(longLineFirmware("Q70 Ver 2.00", 8)).string();
    ASSERT_EQ(run({"--device", "sim", "update", mot, "--json"}), 0) << err.str();
    // The version is the one the board reports when read again after the update.
    EXPECT_EQ(out.str(), "{\"schema\": 1, \"device\": \"sim\", \"file\": " + cli::jsonQuoted(mot) +
                             ", \"firmware-version\": \"Q70 Ver 2.00\"}\n");

    options.firstImageAfterMs = 0;
    makeBoard();
    const std::string bmp = (folder / "t.bmp").string();
    ASSERT_EQ(run({"--device", "sim", "test-image", "-o", bmp, "--json"}), 0) << err.str();
    EXPECT_EQ(out.str(), "{\"schema\": 1, \"device\": \"sim\", \"bmp\": " + cli::jsonQuoted(bmp) +
                             ", \"width\": 2160, \"height\": 1504}\n");
}

TEST_F(CliOutcomes, SeveralBoardsRunAndFailEachOnTheirOwn) {
    addBoard("/b2");
    sim::BoardOptions broken;
    broken.faults = {fault(sim::FaultKind::AnswerNoAction, code::Paper, 1)};
    addBoard("/b10", broken);
    sim::BoardOptions gone;
    gone.faults = {fault(sim::FaultKind::Lose, code::Paper, 1)};
    addBoard("/b3", gone);

    const int rc = run({"--device", "unix:/b10", "--device", "unix:/b2", "--device", "unix:/b3",
                        "--device", "unix:/b2", "set", "paper=letter", "--json"});
    // The first failure in address order (b2, b3, b10): b3's.
    EXPECT_EQ(rc, cli::kExitLost) << err.str();
    EXPECT_EQ(out.str(),
              "{\"schema\": 1, \"device\": \"unix:/b2\", \"time-stamp\": \"enable\", \"margin\": "
              "\"disable\", \"paper\": \"letter\", \"print-mode\": \"original\", \"save-mode\": "
              "\"original\", \"time\": \"2026-12-07T21:43\"}\n");
    EXPECT_EQ(others["/b2"]->settings().paper, 1) << "one board's failure stops no other";
    const std::string e = err.str();
    EXPECT_NE(e.find("\"error\": \"lost\", \"exit\": 7, "), std::string::npos) << e;
    EXPECT_NE(e.find("\"error\": \"refused\", \"exit\": 6, "), std::string::npos) << e;
    EXPECT_NE(e.find("unix:/b10 q70ctl: paper: the board answered 0xFE"), std::string::npos) << e;
    EXPECT_EQ(transportsMade, 3) << "a board named twice runs once";

    // In text, each line carries its board's address.
    ASSERT_EQ(run({"--device", "unix:/b2", "--device", "sim", "get"}), 0) << err.str();
    std::istringstream lines(out.str());
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_TRUE(line.rfind("sim ", 0) == 0 || line.rfind("unix:/b2 ", 0) == 0) << line;
    }
    EXPECT_EQ(count, 10);

    // Each board's image gets a file of its own, or the run does not start.
    EXPECT_EQ(run({"--device", "unix:/b2", "--device", "sim", "test-image", "-o", "x.bmp"}),
              cli::kExitUsage);
    EXPECT_EQ(transportsMade, 0);
}

TEST_F(CliOutcomes, ABoardAnotherProgramHoldsIsBusyOrWaitedFor) {
    busyOpens = 1000;
    EXPECT_EQ(run({"--device", "sim", "info", "--json"}), cli::kExitBusy);
    EXPECT_NE(lastErrLine().find("\"error\": \"busy\", \"exit\": 5, \"message\": \"The board is "
                                 "in use by q70uty (PID 77)."),
              std::string::npos)
        << lastErrLine();
    // q70ctl says it in its own words: the window's text promises a wait it does not make.
    EXPECT_EQ(err.str().find("will connect"), std::string::npos) << err.str();
    EXPECT_TRUE(requests.empty());

    busyOpens = 25;  // free after 2.5 s of tries, one every 100 ms
    const std::uint64_t before = sched.nowMs();
    EXPECT_EQ(run({"--device", "sim", "--wait-busy", "5", "info"}), 0) << err.str();
    EXPECT_GE(sched.nowMs() - before, 2500u);
    EXPECT_NE(err.str().find("Waiting up to 5 s"), std::string::npos) << err.str();
    busyOpens = 1000;
    EXPECT_EQ(run({"--device", "sim", "--wait-busy", "2", "info"}), cli::kExitBusy);
}

TEST_F(CliOutcomes, AFirmwareFileIsCheckedBeforeAByteGoesOut) {
    std::string file = longLineFirmware("Q70 Ver 9.99", 20);
    const std::string good = firmwareFile(file).string();
    ASSERT_EQ(run({"firmware-check", good, "--json"}), 0) << err.str();
    EXPECT_EQ(out.str(), "{\"schema\": 1, \"file\": " + cli::jsonQuoted(good) +
                             ", \"valid\": true, \"header\": \"Q70 Ver 9.99\", \"records\": 22, "
                             "\"data-bytes\": 2000, \"first-address\": 0, \"last-address\": 1999, "
                             "\"start-address\": 0, \"long-lines\": [], \"bad-lines\": []}\n");
    EXPECT_EQ(transportsMade, 0) << "no board needed";

    // One digit of the fourth record changed: its checksum no longer fits.
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) at = file.find("S3", at + 1);
    file[at + 12] = file[at + 12] == '0' ? '1' : '0';
    const std::string bad = firmwareFile(file).string();
    EXPECT_EQ(run({"firmware-check", bad}), cli::kExitFailed);
    EXPECT_NE(out.str().find("valid=0\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("bad-lines=5\n"), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(bad + ": line 5: the checksum is"), std::string::npos) << err.str();

    EXPECT_EQ(run({"--device", "sim", "update", bad, "--json"}), cli::kExitFailed);
    EXPECT_NE(lastErrLine().find("\"error\": \"bad-file\""), std::string::npos);
    EXPECT_EQ(transportsMade, 0) << "refused before the board was touched";
    // Sent as it is on request: the board finds the damage itself, part-way.
    EXPECT_EQ(run({"--device", "sim", "update", bad, "--no-check"}), cli::kExitRefused);
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(),
                            [](const Bytes& r) { return r[4] == code::FirmwareData; }));
}

}  // namespace
}  // namespace q70::test
