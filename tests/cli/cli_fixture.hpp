#pragma once
// q70ctl run in this process: the same parser, session and tick loop as the executable,
// on a virtual clock, against a simulated board the test keeps and inspects.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.hpp"
#include "sim/sim_transport.hpp"
#include "sim/simulated_board.hpp"

namespace q70::test {

inline std::vector<std::uint8_t> readBytes(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// One S-record with its count and checksum.
inline std::string sRecordLine(char type, const std::vector<std::uint8_t>& addressAndData) {
    unsigned sum = static_cast<unsigned>(addressAndData.size() + 1);
    char hex[3];
    std::string line = std::string("S") + type;
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(addressAndData.size() + 1));
    line += hex;
    for (const std::uint8_t b : addressAndData) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
        sum += b;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFFu);
    return line + hex;
}

// A firmware file with CR LF line ends and long lines (S3 records of 100 data bytes,
// 214 characters each): an S0 header with `version`, `records` data records, an S7 end.
inline std::string longLineFirmware(const std::string& version, int records) {
    std::vector<std::uint8_t> header = {0, 0};
    header.insert(header.end(), version.begin(), version.end());
    std::string text = sRecordLine('0', header) + "\r\n";
    for (int i = 0; i < records; ++i) {
        const unsigned a = static_cast<unsigned>(i) * 100u;
        std::vector<std::uint8_t> rec = {0, 0, static_cast<std::uint8_t>(a >> 8),
                                         static_cast<std::uint8_t>(a)};
        for (int k = 0; k < 100; ++k) rec.push_back(static_cast<std::uint8_t>(i * 7 + k));
        text += sRecordLine('3', rec) + "\r\n";
    }
    return text + sRecordLine('7', {0, 0, 0, 0}) + "\r\n";
}

// A board that another program holds for its first `busyOpens` opens.
class HeldTransport : public sim::SimTransport {
  public:
    HeldTransport(sim::SimulatedBoard& board, int busyOpens)
        : sim::SimTransport(board), busy_(busyOpens) {}
    bool open() override {
        if (busy_ > 0) {
            --busy_;
            return false;
        }
        return sim::SimTransport::open();
    }
    const char* lastError() const override { return "The board is in use by q70uty (PID 77)."; }
    link::OpenProblem openProblem() const override {
        return busy_ >= 0 ? link::OpenProblem{true, "q70uty", 77} : link::OpenProblem{};
    }

  private:
    int busy_;
};

// A board whose answer packets pass through `alter` (which may change bytes and size).
class AlteringTransport : public sim::SimTransport {
  public:
    using Alter = std::function<void(link::PacketBuffer&, std::size_t& size)>;
    AlteringTransport(sim::SimulatedBoard& board, Alter alter)
        : sim::SimTransport(board), alter_(std::move(alter)) {}
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override {
        link::ReadResult r = sim::SimTransport::readPacket(buffer, maxWaitMs);
        if (r.status == link::ReadStatus::Ok) alter_(buffer, r.size);
        return r;
    }

  private:
    Alter alter_;
};

class CliFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() /
                 (std::string("q70cli-") + info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "program");
        makeBoard();
    }

    void TearDown() override {
        board.reset();
        others.clear();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    // Another board, reached as unix:NAME, on the test's clock.
    sim::SimulatedBoard& addBoard(const std::string& name, sim::BoardOptions o = {}) {
        others[name] = std::make_unique<sim::SimulatedBoard>(sched, o);
        return *others[name];
    }

    // A fresh board on the test's clock; every request it takes is recorded.
    void makeBoard() {
        board = std::make_unique<sim::SimulatedBoard>(sched, options);
        board->setRequestObserver(
            [this](std::span<const std::uint8_t> p) { requests.emplace_back(p.begin(), p.end()); });
    }

    // q70ctl with these arguments (the program name is added); returns the exit code.
    int run(std::vector<std::string> args) {
        args.insert(args.begin(), "q70ctl");
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        out.str("");
        err.str("");
        transportsMade = 0;
        cli::Environment env{
            out,
            err,
            terminal,
            (folder / "program").string(),
            sched,
            [this](const link::DeviceAddress& a, const link::Clock&,
                   std::string& error) -> std::unique_ptr<link::DeviceTransport> {
                ++transportsMade;
                if (a.kind == link::DeviceKind::UnixSocket && others.count(a.path) != 0) {
                    return std::make_unique<sim::SimTransport>(*others[a.path]);
                }
                if (a.kind != link::DeviceKind::Simulated) {
                    error = "only sim here";
                    return nullptr;
                }
                if (alterAnswers) return std::make_unique<AlteringTransport>(*board, alterAnswers);
                if (wrapBoard) return wrapBoard(*board);
                if (busyOpens > 0) {
                    return std::make_unique<HeldTransport>(*board, busyOpens);
                }
                return std::make_unique<sim::SimTransport>(*board);
            },
            [] {
                return link::DateTime{2026, 12, 7, 21, 43};
            }};
        return cli::run(static_cast<int>(argv.size()), argv.data(), env);
    }

    std::vector<std::uint8_t> requestCodes(std::size_t from = 0) const {
        std::vector<std::uint8_t> codes;
        for (std::size_t i = from; i < requests.size(); ++i) codes.push_back(requests[i][4]);
        return codes;
    }

    std::filesystem::path folder;
    cli::VirtualScheduler sched;
    sim::BoardOptions options;
    std::unique_ptr<sim::SimulatedBoard> board;
    std::map<std::string, std::unique_ptr<sim::SimulatedBoard>> others;
    int busyOpens = 0;  // the sim board is held by another program for this many opens
    AlteringTransport::Alter alterAnswers;  // when set, the sim board's answers pass through it
    // When set, makes the transport to the sim board.
    std::function<std::unique_ptr<link::DeviceTransport>(sim::SimulatedBoard&)> wrapBoard;
    bool terminal = false;  // stderr taken for a terminal
    std::vector<std::vector<std::uint8_t>> requests;
    std::ostringstream out;
    std::ostringstream err;
    int transportsMade = 0;
};

// The eight reads of the window's start, as bytes.
inline std::vector<std::vector<std::uint8_t>> startSequenceBytes() {
    std::vector<std::vector<std::uint8_t>> seq;
    for (const std::uint8_t c : {1, 13, 6, 17, 18, 19, 20, 2}) seq.push_back({1, 0, 0, 0, c});
    return seq;
}

}  // namespace q70::test
