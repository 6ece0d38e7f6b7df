// The process side of the fault matrix: q70ctl against q70-board-sim with one fault of each
// kind in each flow. The fault strikes every matching request, so the operation cannot
// succeed: q70ctl must say so on stderr and exit non-zero, and write no file it was asked
// to write on success.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.hpp"

namespace q70::test {
namespace {

namespace fs = std::filesystem;

struct ProcessCell {
    const char* flow;
    const char* fault;  // q70-board-sim --fault; none: the operation must succeed
};

// A q70ctl that hangs is a failure of its own; it must not hold the test run.
constexpr int kHung = 1000;

std::string readText(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class CtlFault : public ::testing::TestWithParam<ProcessCell> {
  protected:
    void SetUp() override {
        std::string id = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : id) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        // Short: the socket's path inside must fit in sun_path.
        folder = fs::temp_directory_path() /
                 ("q70-ctlfault-" + id + "-" + std::to_string(std::random_device{}() % 1000000));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }

    void TearDown() override {
        board.stop();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    void startBoard(std::vector<std::string> extra) {
        std::vector<std::string> args = {Q70_BOARD_SIM_PATH, "--listen", boardListenAddress(folder),
                                         "--busy-ms", "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(board.startReadingOutput(args));
        // It announces itself on stdout once it listens.
        std::string line;
        bool listening = false;
        while (!listening && board.readLine(line)) {
            listening = line.find("listening on") != std::string::npos;
        }
        ASSERT_TRUE(listening) << "q70-board-sim did not start";
    }

    int ctl(std::vector<std::string> args) {
        args.insert(args.begin(),
                    {Q70CTL_PATH, "--device", boardDeviceAddress(folder), "--timeout", "1000"});
        const fs::path outFile = folder / "stdout", errFile = folder / "stderr";
        ChildProcess ctl;
        if (!ctl.start(args, outFile, errFile)) return -1;
        int rc = ctl.wait(std::chrono::seconds(30));
        if (rc == -1) rc = kHung;
        err = readText(errFile);
        return rc;
    }

    fs::path folder;
    ChildProcess board;
    std::string err;
};

std::string sRecord(char type, const std::vector<unsigned>& addressAndData) {
    unsigned sum = static_cast<unsigned>(addressAndData.size() + 1);
    char hex[3];
    std::string line = {'S', type};
    std::snprintf(hex, sizeof hex, "%02X", sum);
    line += hex;
    for (const unsigned b : addressAndData) {
        std::snprintf(hex, sizeof hex, "%02X", b & 0xFF);
        line += hex;
        sum += b & 0xFF;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
    return line + hex;
}

// A valid firmware file: a header, 40 data records (three data requests), an end record.
std::string firmwareFile() {
    std::string file = sRecord('0', {0, 0, 'V', '3'}) + "\r\n";
    for (unsigned i = 0; i < 40; ++i) {
        std::vector<unsigned> rec = {i >> 4, i << 4};
        for (unsigned k = 0; k < 16; ++k) rec.push_back(i + k);
        file += sRecord('1', rec) + "\r\n";
    }
    return file + sRecord('9', {0, 0}) + "\r\n";
}

TEST_P(CtlFault, AFailedOperationNeverExitsZero) {
    const ProcessCell cell = GetParam();
    const std::string flow = cell.flow;
    std::vector<std::string> board;
    if (cell.fault != nullptr) board = {"--fault", cell.fault};
    std::vector<std::string> command;
    fs::path output;
    if (flow == "start") {
        command = {"info"};
    } else if (flow == "settings") {
        command = {"set", "paper=letter", "margin=enable", "--time", "2004-12-31T23:59"};
    } else if (flow == "firmware") {
        const fs::path mot = folder / "fw.mot";
        std::ofstream(mot, std::ios::binary) << firmwareFile();
        command = {"update", mot.string()};
    } else {
        board.insert(board.end(), {"--image-after", "0"});
        output = folder / "out.bmp";
        command = {"test-image", "-o", output.string(), "--raw", (folder / "raw.bin").string(),
                   "--wait",     "3"};
    }
    startBoard(board);
    const int rc = ctl(command);
    // The outcome of a write or an update, told once on stderr whichever way it went.
    const auto told = [&](const std::string& text) {
        std::size_t n = 0;
        for (auto at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++n;
        return n;
    };
    const bool failure = cell.fault != nullptr;
    if (flow == "settings") {
        EXPECT_EQ(told(failure ? "Writing set data into Q-70 flash memory failed !"
                               : "Writing set data into Q-70 flash memory succeeded !"),
                  1u)
            << err;
        EXPECT_EQ(told(failure ? "succeeded !" : "failed !"), 0u) << err;
    } else if (flow == "firmware") {
        EXPECT_EQ(
            told(failure ? "Q-70 firmware update failed !" : "Q-70 firmware update succeeded !"),
            1u)
            << err;
        EXPECT_EQ(told(failure ? "succeeded !" : "failed !"), 0u) << err;
    }
    if (cell.fault == nullptr) {
        EXPECT_EQ(rc, 0) << err;
        if (!output.empty()) {
            EXPECT_TRUE(fs::exists(output));
        }
        return;
    }
    ASSERT_NE(rc, kHung) << "q70ctl hung";
    EXPECT_NE(rc, 0) << "q70ctl " << command[0] << " with --fault " << cell.fault
                     << " reported success";
    EXPECT_FALSE(err.empty()) << "no word of the failure on stderr";
    if (!output.empty()) {
        EXPECT_FALSE(fs::exists(output));
        EXPECT_FALSE(fs::exists(folder / "raw.bin"));
    }
}

// Every matching request is struck (times=0); where the start sequence reads the same code,
// the first one is let through (skip=1), so the fault hits the flow itself.
const ProcessCell kCells[] = {
    // Without a fault each operation succeeds, so the failures below are the faults' doing.
    {"start", nullptr},
    {"settings", nullptr},
    {"firmware", nullptr},
    {"image", nullptr},
    {"start", "lose:code=18:down=0"},
    {"start", "short:code=18:size=3:times=0"},
    {"start", "mismatch:code=18:times=0"},
    {"start", "fe:code=18:times=0"},
    {"start", "silence:code=18:times=0"},
    {"settings", "lose:code=18:skip=1:down=0"},
    {"settings", "short:code=18:skip=1:times=0"},
    {"settings", "mismatch:code=18:skip=1:times=0"},
    {"settings", "fe:code=18:skip=1:times=0"},
    {"settings", "silence:code=18:skip=1:times=0"},
    {"firmware", "lose:code=22:skip=1:down=0"},
    {"firmware", "short:code=22:skip=1:times=0"},
    {"firmware", "mismatch:code=22:skip=1:times=0"},
    {"firmware", "fe:code=22:skip=1:times=0"},
    {"firmware", "silence:code=22:skip=1:times=0"},
    // The last chunk (the fourth data request) refused, or answered with a request for more.
    {"firmware", "fe:code=22:skip=3"},
    {"firmware", "ff:code=22:skip=3"},
    {"image", "lose:code=4:after=3:down=0"},
    {"image", "short:code=4:times=0"},
    {"image", "mismatch:code=4:times=0"},
    {"image", "fe:code=4:times=0"},
    {"image", "silence:code=4:times=0"},
};

INSTANTIATE_TEST_SUITE_P(Cells, CtlFault, ::testing::ValuesIn(kCells),
                         [](const ::testing::TestParamInfo<ProcessCell>& i) {
                             std::string n = std::string(i.param.flow) + "_" +
                                             (i.param.fault ? i.param.fault : "no_fault");
                             for (char& c : n)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return n;
                         });

}  // namespace
}  // namespace q70::test
