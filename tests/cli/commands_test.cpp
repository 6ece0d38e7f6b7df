// Whole q70ctl commands against the simulated board in this process, on a virtual clock:
// what goes over the link, what is printed, and how each failure ends.

#include <gtest/gtest.h>

#include <algorithm>

#include "cli_fixture.hpp"
#include "link/protocol.hpp"
#include "testimage/test_image.hpp"

namespace q70::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace code = link::code;

class CliCommands : public CliFixture {};

TEST_F(CliCommands, InfoAndGetReadExactlyTheStartSequence) {
    ASSERT_EQ(run({"--device", "sim", "info"}), 0) << err.str();
    EXPECT_EQ(requests, startSequenceBytes());
    const std::string info = out.str();
    EXPECT_NE(info.find("device-type=W\n"), std::string::npos) << info;
    EXPECT_NE(info.find("firmware-version=Q70 Ver 1.20\n"), std::string::npos) << info;
    EXPECT_NE(info.find("device-state=1\n"), std::string::npos) << info;

    requests.clear();
    sim::BoardSettings s;
    s.paper = 1;
    s.printMode = 1;
    board->setSettings(s);
    ASSERT_EQ(run({"--device", "sim", "get"}), 0) << err.str();
    EXPECT_EQ(requests, startSequenceBytes());
    EXPECT_EQ(out.str(),
              "time-stamp=enable\nmargin=disable\npaper=letter\nprint-mode=match\n"
              "save-mode=original\n");
    ASSERT_EQ(run({"--device", "sim", "get", "--json"}), 0) << err.str();
    EXPECT_EQ(out.str(),
              "{\"schema\": 1, \"device\": \"sim\", \"time-stamp\": \"enable\", \"margin\": "
              "\"disable\", \"paper\": \"letter\", \"print-mode\": \"match\", \"save-mode\": "
              "\"original\"}\n");
}

TEST_F(CliCommands, JsonHasTheNamesOfTheLinesWithTypedValues) {
    ASSERT_EQ(run({"--device", "sim", "info"}), 0) << err.str();
    const std::string lines = out.str();
    ASSERT_EQ(run({"--device", "sim", "info", "--json"}), 0) << err.str();
    const std::string json = out.str();
    EXPECT_EQ(json,
              "{\"schema\": 1, \"device-type\": \"W\", \"info-word-1\": 288, "
              "\"info-word-2\": 1504, \"info-byte\": 8, \"info-long-1\": 70001234, "
              "\"info-long-2\": 16779264, \"info-flag\": true, \"info-text\": \"Q-70 copy "
              "board\", \"firmware-version\": \"Q70 Ver 1.20\", \"device-state\": 1, "
              "\"status-flag-a\": true, \"status-flag-b\": false, \"settings\": {\"time-stamp\": "
              "\"enable\", \"margin\": \"disable\", \"paper\": \"a4\", \"print-mode\": "
              "\"original\", \"save-mode\": \"original\"}, \"device\": {\"address\": \"sim\"}}\n");
    // Same names, same order in both forms (an object's names after its own and a dot).
    std::istringstream in(lines);
    std::size_t at = 0;
    for (std::string line; std::getline(in, line);) {
        const std::string path = line.substr(0, line.find('='));
        const std::string name = "\"" + path.substr(path.rfind('.') + 1) + "\": ";
        const std::size_t found = json.find(name, at);
        ASSERT_NE(found, std::string::npos) << name;
        at = found;
    }
    EXPECT_EQ(requests.size(), 16u) << "--json reads nothing more";

    // A value the radios cannot show stays a number, in JSON as in the lines.
    sim::BoardSettings s;
    s.paper = 9;
    board->setSettings(s);
    ASSERT_EQ(run({"--device", "sim", "get", "--json"}), 0) << err.str();
    EXPECT_NE(out.str().find("\"paper\": 9, "), std::string::npos) << out.str();
}

TEST_F(CliCommands, SetWritesTheFiveInTheWindowsOrderThenTheClock) {
    ASSERT_EQ(run({"--device", "sim", "set", "paper=letter", "margin=enable", "--time",
                   "2004-12-31T23:59"}),
              0)
        << err.str();
    ASSERT_GE(requests.size(), 14u);
    EXPECT_EQ(std::vector<Bytes>(requests.begin(), requests.begin() + 8), startSequenceBytes());
    // Unnamed settings keep the board's values (print and save mode original, time stamp on).
    const std::vector<Bytes> writes = {
        {2, 0, 0, 0, 6, 0},  {2, 0, 0, 0, 17, 0},
        {2, 0, 0, 0, 18, 1}, {2, 0, 0, 0, 19, 1},
        {2, 0, 0, 0, 20, 1}, {7, 0, 0, 0, 5, 0xD4, 0x07, 0x0C, 0x1F, 0x17, 0x3B}};
    EXPECT_EQ(std::vector<Bytes>(requests.end() - 6, requests.end()), writes);
    // Between the reads and the writes only the status poll.
    for (std::size_t i = 8; i < requests.size() - 6; ++i)
        EXPECT_EQ(requests[i], (Bytes{1, 0, 0, 0, 2}));
    EXPECT_EQ(board->settings().paper, 1);
    EXPECT_EQ(board->settings().margin, 1);
    EXPECT_EQ(board->settings().timeStamp, 1);
    EXPECT_EQ(board->dateTime().year, 2004);
    EXPECT_EQ(board->dateTime().minute, 59);
    EXPECT_NE(err.str().find("Writing set data into Q-70 flash memory succeeded !"),
              std::string::npos);
}

TEST_F(CliCommands, SetWithoutTimeWritesTheComputersClockAndWaitsOutABusyBoard) {
    options.busyMs = 1500;
    makeBoard();
    ASSERT_EQ(run({"--device", "sim", "set", "time-stamp=disable"}), 0) << err.str();
    EXPECT_EQ(board->dateTime().year, 2026);
    EXPECT_EQ(board->dateTime().hour, 21);

    // Straight after a write the board reports itself busy; the window's Apply waits for
    // the panel to open again, and so does q70ctl.
    const std::uint64_t before = sched.nowMs();
    requests.clear();
    ASSERT_EQ(run({"--device", "sim", "set", "time-stamp=enable"}), 0) << err.str();
    EXPECT_EQ(board->settings().timeStamp, 1);
    EXPECT_GE(sched.nowMs() - before, 1000u);
    EXPECT_GT(std::count(requests.begin(), requests.end(), Bytes{1, 0, 0, 0, 2}), 1);
}

TEST_F(CliCommands, ABoardThatStaysBusyIsATimeout) {
    options.busyMs = 60'000;
    makeBoard();
    ASSERT_EQ(run({"--device", "sim", "set"}), 0) << err.str();
    requests.clear();
    EXPECT_EQ(run({"--device", "sim", "--timeout", "2000", "set", "paper=letter"}),
              cli::kExitTimeout);
    EXPECT_NE(err.str().find("stayed busy"), std::string::npos) << err.str();
    for (const Bytes& r : requests) EXPECT_EQ(r[0], 1) << "only reads, nothing written";
}

TEST_F(CliCommands, AWriteNotAcknowledgedFailsAndNamesTheSetting) {
    // The ninth request is the status poll; the paper write follows the two image modes.
    sim::Fault f;
    f.kind = sim::FaultKind::AnswerNoAction;
    f.requestCode = code::Paper;
    f.fromRequest = 9;
    sim::Fault clock;
    clock.kind = sim::FaultKind::AnswerContinue;
    clock.requestCode = code::SetDateTime;
    options.faults = {f, clock};
    makeBoard();
    EXPECT_EQ(run({"--device", "sim", "set", "paper=letter"}), cli::kExitRefused);
    EXPECT_NE(err.str().find("paper: the board answered 0xFE"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("date and time: the board answered 0xFF"), std::string::npos);
    EXPECT_NE(err.str().find("Writing set data into Q-70 flash memory failed !"),
              std::string::npos);
    // The rest were still written, as the window does.
    EXPECT_EQ(requests.back()[4], code::SetDateTime);
    EXPECT_EQ(board->settings().paper, 0);
}

TEST_F(CliCommands, ImageSizesCannotBeChangedOnABoardNotOfTypeW) {
    options.deviceType = 'S';
    makeBoard();
    EXPECT_EQ(run({"--device", "sim", "set", "print-mode=match"}), cli::kExitRefused);
    EXPECT_NE(err.str().find("print-mode cannot be changed"), std::string::npos) << err.str();
    EXPECT_EQ(requests.size(), 8u) << "nothing written";
    // Naming the value the board already holds changes nothing and is fine.
    EXPECT_EQ(run({"--device", "sim", "set", "print-mode=original", "paper=letter"}), 0)
        << err.str();
    EXPECT_EQ(board->settings().paper, 1);
}

TEST_F(CliCommands, AValueTheRadiosCannotShowMustBeNamedBeforeWriting) {
    sim::BoardSettings s;
    s.margin = 7;
    board->setSettings(s);
    ASSERT_EQ(run({"--device", "sim", "get"}), 0);
    EXPECT_NE(out.str().find("margin=7\n"), std::string::npos);

    requests.clear();
    EXPECT_EQ(run({"--device", "sim", "set", "paper=letter"}), cli::kExitFailed);
    EXPECT_NE(err.str().find("margin: the board reports 7"), std::string::npos) << err.str();
    EXPECT_EQ(requests.size(), 8u) << "nothing written";
    EXPECT_EQ(board->settings().margin, 7);

    EXPECT_EQ(run({"--device", "sim", "set", "margin=disable"}), 0) << err.str();
    EXPECT_EQ(board->settings().margin, 0);
}

TEST_F(CliCommands, AShortPacketIsABadPacket) {
    sim::Fault f;
    f.kind = sim::FaultKind::ShortPacket;
    f.requestCode = code::Paper;
    f.shortSize = 4;
    options.faults = {f};
    makeBoard();
    EXPECT_EQ(run({"--device", "sim", "get"}), cli::kExitFailed);
    EXPECT_NE(err.str().find("Receive bad packet from Q-70 !"), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty()) << "no half a list of settings";
}

TEST_F(CliCommands, ASilentBoardTimesOutWithinTheTimeout) {
    sim::Fault f;
    f.kind = sim::FaultKind::Silence;
    f.requestCode = code::GetDeviceInfo;
    options.faults = {f};
    makeBoard();
    const std::uint64_t before = sched.nowMs();
    EXPECT_EQ(run({"--device", "sim", "--timeout", "1200", "info"}), cli::kExitTimeout);
    const std::uint64_t took = sched.nowMs() - before;
    EXPECT_GE(took, 1200u);
    EXPECT_LE(took, 1200u + 100u);
    EXPECT_NE(err.str().find("no answer to GetDeviceInfo (1) within 1200 ms"), std::string::npos)
        << err.str();
    EXPECT_TRUE(out.str().empty());
}

TEST_F(CliCommands, AMismatchedAnswerFails) {
    sim::Fault f;
    f.kind = sim::FaultKind::MismatchedCode;
    f.requestCode = code::Margin;
    f.answerCode = code::Paper;
    options.faults = {f};
    makeBoard();
    EXPECT_EQ(run({"--device", "sim", "get"}), cli::kExitFailed);
    EXPECT_NE(err.str().find("answered Margin (19) with code 0x12"), std::string::npos)
        << err.str();
}

TEST_F(CliCommands, AReadAnsweredWithoutItsValueFailsGetButNotUpdate) {
    sim::Fault f;
    f.kind = sim::FaultKind::AnswerNoAction;
    f.requestCode = code::SaveMode;
    options.faults = {f};
    makeBoard();
    EXPECT_EQ(run({"--device", "sim", "get"}), cli::kExitFailed);
    EXPECT_NE(err.str().find("SaveMode (17) with 0xFE instead of its value"), std::string::npos)
        << err.str();
    EXPECT_TRUE(out.str().empty());

    // A firmware update needs none of the values: a half-working board can still be updated.
    board->clearFaults();
    board->addFault(f);
    const std::filesystem::path mot = folder / "fw.mot";
    std::ofstream(mot, std::ios::binary) << longLineFirmware("Q70 Ver 2.00", 3);
    EXPECT_EQ(run({"--device", "sim", "update", mot.string()}), 0) << err.str();
}

TEST_F(CliCommands, UpdateSendsACrLfFileWithLongLinesInWholeLfLines) {
    const std::string file = longLineFirmware("Q70 Ver 1.21", 40);  // 42 lines of up to 214
    const std::filesystem::path mot = folder / "Q70V121.mot";
    std::ofstream(mot, std::ios::binary) << file;

    ASSERT_EQ(run({"--device", "sim", "update", mot.string()}), 0) << err.str();

    std::vector<Bytes> firmware;
    for (const Bytes& r : requests) {
        if (r[4] == code::FirmwareData) firmware.push_back(r);
    }
    ASSERT_GE(firmware.size(), 3u);
    // The start request carries the file name exactly as given.
    const std::string path = mot.string();
    EXPECT_EQ(firmware[0][5], 0);
    EXPECT_EQ(std::string(firmware[0].begin() + 6, firmware[0].end() - 1), path);
    EXPECT_EQ(firmware[0].back(), 0);

    std::string lf = file;
    lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
    std::string sent;
    for (std::size_t i = 1; i < firmware.size(); ++i) {
        const Bytes& r = firmware[i];
        const std::size_t n = r.size() - 7;
        EXPECT_EQ(r[0] | (r[1] << 8), static_cast<int>(n + 3));
        EXPECT_LE(n, link::kChunkCapacity);
        EXPECT_EQ(r.back(), 0);
        EXPECT_EQ(r[5], i + 1 == firmware.size() ? 2 : 1) << "chunk " << i;
        const std::string chunk(r.begin() + 6, r.end() - 1);
        EXPECT_EQ(chunk.back(), '\n') << "whole lines only";
        EXPECT_EQ(chunk.find('\r'), std::string::npos);
        const auto lines = std::count(chunk.begin(), chunk.end(), '\n');
        EXPECT_LE(lines, 16);
        sent += chunk;
        // A chunk ends early only before a line that would not fit.
        if (i + 1 < firmware.size() && lines < 16) {
            const std::size_t next = lf.find('\n', sent.size());
            ASSERT_NE(next, std::string::npos);
            EXPECT_GT(chunk.size() + (next - sent.size() + 1), link::kChunkCapacity)
                << "chunk " << i;
        }
    }
    EXPECT_EQ(sent, lf);
    EXPECT_GE(firmware.size(), 1u + 42u / 4u) << "at most four lines of 215 bytes fit";
    EXPECT_EQ(board->firmwareUpdates(), 1u);
    EXPECT_EQ(board->version(), "Q70 Ver 1.21");
    const std::string e = err.str();
    EXPECT_NE(e.find("Firmware update is in progress... 0% Completed.\n"), std::string::npos) << e;
    EXPECT_NE(e.find("Firmware update is in progress... 100% Completed.\n"), std::string::npos)
        << e;
    EXPECT_NE(e.find("Q-70 firmware update succeeded !"), std::string::npos) << e;
}

std::size_t occurrences(const std::string& all, const std::string& part) {
    std::size_t n = 0;
    for (auto at = all.find(part); at != std::string::npos; at = all.find(part, at + 1)) ++n;
    return n;
}

TEST_F(CliCommands, EveryOutcomeIsToldOnceOnStderr) {
    ASSERT_EQ(run({"--device", "sim", "set", "paper=letter"}), 0) << err.str();
    EXPECT_EQ(occurrences(err.str(), "Writing set data into Q-70 flash memory succeeded !"), 1u);
    EXPECT_EQ(occurrences(err.str(), "failed"), 0u) << err.str();

    const std::filesystem::path mot = folder / "ok.mot";
    std::ofstream(mot, std::ios::binary) << longLineFirmware("Q70 Ver 2.00", 20);
    ASSERT_EQ(run({"--device", "sim", "update", mot.string()}), 0) << err.str();
    EXPECT_EQ(occurrences(err.str(), "Q-70 firmware update succeeded !"), 1u) << err.str();
    EXPECT_TRUE(out.str().empty());

    // A file the window refuses before sending (unchecked, as the window takes it): told
    // once, and no success.
    const std::filesystem::path zero = folder / "zero.mot";
    std::ofstream(zero, std::ios::binary) << std::string("S0030000FC\n") + '\0' + "\n";
    EXPECT_EQ(run({"--device", "sim", "update", zero.string(), "--no-check"}), cli::kExitFailed);
    EXPECT_EQ(occurrences(err.str(), "Bad S format file !"), 1u) << err.str();
    EXPECT_EQ(occurrences(err.str(), "Q-70 firmware update failed !"), 1u) << err.str();
    EXPECT_EQ(run({"--device", "sim", "update", "/dev/zero", "--no-check"}), cli::kExitFailed);
    EXPECT_EQ(occurrences(err.str(), "Unable to open the file:/dev/zero"), 1u) << err.str();
}

TEST_F(CliCommands, UpdateFailures) {
    // A file that cannot be opened: the window's message, and nothing is sent.
    const std::string missing = (folder / "missing.mot").string();
    EXPECT_EQ(run({"--device", "sim", "update", missing, "--no-check"}), cli::kExitFailed);
    EXPECT_NE(err.str().find("Unable to open the file:" + missing), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("Q-70 firmware update failed !"), std::string::npos);
    for (const Bytes& r : requests) EXPECT_NE(r[4], code::FirmwareData);

    // A record the board refuses (a wrong checksum), sent unchecked, stops the transfer
    // with 0xFE.
    std::string file = longLineFirmware("Q70 Ver 9.99", 20);
    const std::size_t at = file.find("S3");
    file[at + 10] = file[at + 10] == '0' ? '1' : '0';
    const std::filesystem::path bad = folder / "bad.mot";
    std::ofstream(bad, std::ios::binary) << file;
    EXPECT_EQ(run({"--device", "sim", "update", bad.string(), "--no-check"}), cli::kExitRefused);
    EXPECT_NE(err.str().find("the update stopped"), std::string::npos) << err.str();
    EXPECT_EQ(occurrences(err.str(), "Q-70 firmware update failed !"), 1u) << err.str();
    EXPECT_EQ(occurrences(err.str(), "succeeded"), 0u) << err.str();
    EXPECT_NE(board->version(), "Q70 Ver 9.99");

    // The board lost in the middle of the transfer.
    requests.clear();
    sim::Fault lose;
    lose.kind = sim::FaultKind::Lose;
    lose.requestCode = code::FirmwareData;
    lose.skip = 3;
    lose.downMs = 0;
    board->addFault(lose);
    const std::filesystem::path good = folder / "good.mot";
    std::ofstream(good, std::ios::binary) << longLineFirmware("Q70 Ver 3.00", 40);
    EXPECT_EQ(run({"--device", "sim", "update", good.string()}), cli::kExitLost);
    EXPECT_NE(err.str().find("the board was lost"), std::string::npos) << err.str();
    EXPECT_EQ(occurrences(err.str(), "Q-70 firmware update failed !"), 1u) << err.str();
}

TEST_F(CliCommands, TestImageSavesWhatTheDecoderMakesOfTheDataAsReceived) {
    options.firstImageAfterMs = 2000;
    makeBoard();
    const std::string bmp = (folder / "board.bmp").string();
    const std::string raw = (folder / "board.bin").string();
    ASSERT_EQ(run({"--device", "sim", "test-image", "-o", bmp, "--raw", raw}), 0) << err.str();
    EXPECT_EQ(board->imagesSent(), 1u);
    EXPECT_EQ(readBytes(raw), board->lastImageData());

    // The same data through the decoder directly.
    testimage::TestImage reference;
    reference.setProgramFolder(folder.string());
    reference.setHeader(options.imageWidth, options.imageBytesPerLine * 8u,
                        static_cast<std::uint32_t>(board->lastImageData().size()), 'W');
    std::vector<std::uint8_t> data = board->lastImageData();
    reference.saveRawData(data);
    ASSERT_TRUE(reference.buildBitmap());
    const std::vector<std::uint8_t> bitmap = readBytes(bmp);
    EXPECT_EQ(bitmap, reference.bitmapFileBytes());
    EXPECT_EQ(bitmap.size(), 409150u);

    // And offline, from the raw file.
    const std::string again = (folder / "again.bmp").string();
    ASSERT_EQ(run({"decode", raw, "--width", "2160", "--height", "1504", "-o", again}), 0)
        << err.str();
    EXPECT_EQ(readBytes(again), bitmap);
    EXPECT_EQ(transportsMade, 0) << "decode needs no board";
}

TEST_F(CliCommands, NoImageWithinTheWaitIsATimeout) {
    const std::uint64_t before = sched.nowMs();
    const std::string bmp = (folder / "none.bmp").string();
    EXPECT_EQ(run({"--device", "sim", "test-image", "-o", bmp, "--wait", "5"}), cli::kExitTimeout);
    EXPECT_GE(sched.nowMs() - before, 5000u);
    EXPECT_LE(sched.nowMs() - before, 6500u);
    EXPECT_FALSE(std::filesystem::exists(bmp));
    EXPECT_NE(err.str().find("no test image within 5 s"), std::string::npos) << err.str();
}

TEST_F(CliCommands, AnImageStartedBeforeTheWaitEndsIsReceivedWhole) {
    options.firstImageAfterMs = 0;
    makeBoard();
    // The offer comes with the start's status answer; its 150 packets, one per 50 ms tick,
    // take far longer than the one second of waiting.
    const std::string bmp = (folder / "late.bmp").string();
    ASSERT_EQ(run({"--device", "sim", "test-image", "-o", bmp, "--wait", "1"}), 0) << err.str();
    EXPECT_TRUE(std::filesystem::exists(bmp));
}

TEST_F(CliCommands, AnUnplugInTheMiddleOfAnImageWritesNoFile) {
    options.firstImageAfterMs = 0;
    sim::Fault f;
    f.kind = sim::FaultKind::Lose;
    f.requestCode = code::GetTestImage;
    f.answerPackets = 20;
    f.downMs = 0;
    options.faults = {f};
    makeBoard();
    const std::string bmp = (folder / "cut.bmp").string();
    const std::string raw = (folder / "cut.bin").string();
    EXPECT_EQ(run({"--device", "sim", "test-image", "-o", bmp, "--raw", raw}), cli::kExitLost);
    EXPECT_FALSE(std::filesystem::exists(bmp));
    EXPECT_FALSE(std::filesystem::exists(raw));
    EXPECT_NE(err.str().find("Receive packet through Q-70 Bulk-in endpoint failed !"),
              std::string::npos)
        << err.str();
}

TEST_F(CliCommands, DecodeRefusesWhatIsNoImage) {
    const std::filesystem::path empty = folder / "empty.bin";
    std::ofstream(empty, std::ios::binary).flush();
    const std::string out1 = (folder / "x.bmp").string();
    EXPECT_EQ(run({"decode", empty.string(), "--width", "8", "--height", "8", "-o", out1}),
              cli::kExitFailed);
    EXPECT_EQ(run({"decode", empty.string(), "--width", "8", "--height", "12", "-o", out1}),
              cli::kExitUsage);
    EXPECT_EQ(run({"decode", (folder / "absent.bin").string(), "--width", "8", "--height", "8",
                   "-o", out1}),
              cli::kExitUsage);
    EXPECT_FALSE(std::filesystem::exists(out1));
}

}  // namespace
}  // namespace q70::test
