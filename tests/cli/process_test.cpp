// The q70ctl executable against the q70-board-sim process over its socket or named pipe: the
// bytes the board logs, the files written, the exit codes and messages.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <sstream>

#include "cli_fixture.hpp"
#include "support/child_process.hpp"
#include "testimage/test_image.hpp"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace q70::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string readText(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

Bytes parseHexLine(const std::string& line) {
    Bytes b;
    std::istringstream in(line);
    std::string h;
    while (in >> h) b.push_back(static_cast<std::uint8_t>(std::stoul(h, nullptr, 16)));
    return b;
}

class CliProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() /
                 ("q70ctl-" + std::string(info->name()) + "-" +
                  std::to_string(std::random_device{}() % 1000000));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        boardLog = folder / "requests.log";
    }

    void TearDown() override {
        stopBoard();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    // q70-board-sim with these extra arguments; returns once it listens.
    void startBoard(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {Q70_BOARD_SIM_PATH, "--listen", boardListenAddress(folder),
                                         "--log", boardLog.string()};
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

    void stopBoard() { board.stop(); }

    // q70ctl against the board; stdout and stderr are kept in `out` and `err`.
    int ctl(std::vector<std::string> args) {
        args.insert(args.begin(), Q70CTL_PATH);
        const std::filesystem::path outFile = folder / "stdout", errFile = folder / "stderr";
        ChildProcess ctl;
        if (!ctl.start(args, outFile, errFile)) return -1;
        const int rc = ctl.wait();
        out = readText(outFile);
        err = readText(errFile);
        return rc;
    }

    std::string device() const { return boardDeviceAddress(folder); }

    std::vector<Bytes> loggedRequests() const {
        std::vector<Bytes> requests;
        std::istringstream in(readText(boardLog));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty()) requests.push_back(parseHexLine(line));
        }
        return requests;
    }

    std::filesystem::path folder;
    std::filesystem::path boardLog;
    ChildProcess board;
    std::string out;
    std::string err;
};

TEST_F(CliProcess, SetSendsTheStartSequenceThenTheWritesAndTheClock) {
    startBoard();
    ASSERT_EQ(ctl({"--device", device(), "set", "paper=letter", "margin=enable", "--time",
                   "2004-12-31T23:59"}),
              0)
        << err;
    const std::vector<Bytes> requests = loggedRequests();
    ASSERT_GE(requests.size(), 14u);
    EXPECT_EQ(std::vector<Bytes>(requests.begin(), requests.begin() + 8), startSequenceBytes());
    const std::vector<Bytes> writes = {
        {2, 0, 0, 0, 6, 0},  {2, 0, 0, 0, 17, 0},
        {2, 0, 0, 0, 18, 1}, {2, 0, 0, 0, 19, 1},
        {2, 0, 0, 0, 20, 1}, {7, 0, 0, 0, 5, 0xD4, 0x07, 0x0C, 0x1F, 0x17, 0x3B}};
    EXPECT_EQ(std::vector<Bytes>(requests.end() - 6, requests.end()), writes);
    for (std::size_t i = 8; i < requests.size() - 6; ++i)
        EXPECT_EQ(requests[i], (Bytes{1, 0, 0, 0, 2}));

    ASSERT_EQ(ctl({"get", "--device", device()}), 0) << err;
    EXPECT_EQ(out,
              "time-stamp=enable\nmargin=enable\npaper=letter\nprint-mode=original\n"
              "save-mode=original\n");
}

TEST_F(CliProcess, UpdateSendsACrLfFileWithLongLinesAsLfLines) {
    startBoard();
    const std::string file = longLineFirmware("Q70 Ver 1.21", 30);
    const std::filesystem::path mot = folder / "fw.mot";
    std::ofstream(mot, std::ios::binary) << file;
    ASSERT_EQ(ctl({"--device", device(), "update", mot.string()}), 0) << err;
    // Not a terminal: one plain line per step.
    EXPECT_NE(err.find("Firmware update is in progress... 100% Completed.\n"), std::string::npos)
        << err;
    EXPECT_EQ(err.find('\r'), std::string::npos);

    std::vector<Bytes> firmware;
    for (const Bytes& r : loggedRequests()) {
        if (r.size() > 5 && r[4] == 22) firmware.push_back(r);
    }
    ASSERT_GE(firmware.size(), 2u);
    EXPECT_EQ(std::string(firmware[0].begin() + 6, firmware[0].end() - 1), mot.string());
    std::string sent;
    for (std::size_t i = 1; i < firmware.size(); ++i) {
        EXPECT_LE(firmware[i].size(), 7u + 896u);
        EXPECT_EQ(firmware[i][5], i + 1 == firmware.size() ? 2 : 1);
        sent.append(firmware[i].begin() + 6, firmware[i].end() - 1);
    }
    std::string lf = file;
    lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
    EXPECT_EQ(sent, lf);

    ASSERT_EQ(ctl({"--device", device(), "info"}), 0) << err;
    EXPECT_NE(out.find("firmware-version=Q70 Ver 1.21\n"), std::string::npos) << out;
}

TEST_F(CliProcess, TestImageAndDecodeGiveTheSameBitmapAsTheDecoder) {
    startBoard({"--image-after", "0"});
    const std::string bmp = (folder / "board.bmp").string();
    const std::string raw = (folder / "board.bin").string();
    ASSERT_EQ(ctl({"--device", device(), "test-image", "-o", bmp, "--raw", raw, "--wait", "10"}), 0)
        << err;
    std::vector<std::uint8_t> data = readBytes(raw);
    ASSERT_FALSE(data.empty());

    testimage::TestImage reference;
    reference.setProgramFolder(folder.string());
    reference.setHeader(2160, 1504, static_cast<std::uint32_t>(data.size()), 'W');
    reference.saveRawData(data);
    ASSERT_TRUE(reference.buildBitmap());
    const std::vector<std::uint8_t> bitmap = readBytes(bmp);
    EXPECT_EQ(bitmap, reference.bitmapFileBytes());

    const std::string again = (folder / "again.bmp").string();
    ASSERT_EQ(ctl({"decode", raw, "--width", "2160", "--height", "1504", "-o", again}), 0) << err;
    EXPECT_EQ(readBytes(again), bitmap);
}

TEST_F(CliProcess, AFourBytePacketIsABadPacket) {
    startBoard({"--fault", "short:code=6:size=4"});
    const int rc = ctl({"--device", device(), "get"});
    EXPECT_NE(rc, 0);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(err.find("Receive bad packet from Q-70 !"), std::string::npos) << err;
    EXPECT_TRUE(out.empty());
}

TEST_F(CliProcess, ASilentBoardEndsWithinTheTimeout) {
    startBoard({"--fault", "silence:code=1"});
    const auto before = std::chrono::steady_clock::now();
    const int rc = ctl({"--device", device(), "--timeout", "1000", "info"});
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - before)
                          .count();
    EXPECT_EQ(rc, 4) << err;
    // The one read it waits for is the first: the timeout plus start-up, not much more.
    EXPECT_LT(took, 1000 + 2000);
    EXPECT_NE(err.find("no answer to GetDeviceInfo (1) within 1000 ms"), std::string::npos) << err;
}

TEST_F(CliProcess, AnUnplugInTheMiddleOfAnImageFailsAndWritesNoBitmap) {
    startBoard({"--image-after", "0", "--fault", "lose:code=4:after=20:down=0"});
    const std::string bmp = (folder / "cut.bmp").string();
    const int rc = ctl({"--device", device(), "test-image", "-o", bmp, "--wait", "10"});
    EXPECT_NE(rc, 0);
    EXPECT_FALSE(std::filesystem::exists(bmp));
    EXPECT_NE(err.find("the board was lost while answering GetTestImage (4)"), std::string::npos)
        << err;
}

// What stands at -o is left as it was when it is no regular file, and refused before the
// board is asked for anything; "-" is standard output.
TEST_F(CliProcess, AnOutputThatIsNoFileIsRefusedBeforeTheBoardIsAsked) {
    startBoard({"--image-after", "0"});
    struct Target {
        const char* name;
        bool (*make)(const std::filesystem::path&);
        const char* said;
    };
    const Target targets[] = {
        {"EMPTYDIR", [](const std::filesystem::path& p) { return create_directory(p); },
         "it is a folder"},
#if !defined(_WIN32)
        {"FIFO", [](const std::filesystem::path& p) { return ::mkfifo(p.c_str(), 0600) == 0; },
         "it is a FIFO"},
        // A node that refuses writes, as /dev/full; only root may make one.
        {"NODE",
         [](const std::filesystem::path& p) {
             return ::mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0;
         },
         "it is a device"},
#endif
    };
    for (const Target& t : targets) {
        SCOPED_TRACE(t.name);
        const std::filesystem::path path = folder / t.name;
        if (!t.make(path)) continue;
        const auto type = std::filesystem::symlink_status(path).type();
        for (const char* option : {"-o", "--raw"}) {
            std::vector<std::string> args = {"--device", device(), "test-image", "--wait", "10"};
            if (std::string(option) == "-o") {
                args.insert(args.end(), {"-o", path.string()});
            } else {
                args.insert(args.end(),
                            {"-o", (folder / "fine.bmp").string(), "--raw", path.string()});
            }
            EXPECT_EQ(ctl(args), 1) << err;
            EXPECT_NE(err.find("cannot write " + path.string() + ": " + t.said), std::string::npos)
                << err;
            EXPECT_EQ(std::filesystem::symlink_status(path).type(), type);
        }
    }
    EXPECT_TRUE(loggedRequests().empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "fine.bmp"));

    ASSERT_EQ(ctl({"--device", device(), "test-image", "-o", "-", "--wait", "10"}), 0) << err;
    ASSERT_GE(out.size(), 62u);
    EXPECT_EQ(out.substr(0, 2), "BM");
    EXPECT_EQ(out.size(), 409150u);
    EXPECT_NE(err.find("saved to standard output"), std::string::npos) << err;
}

TEST_F(CliProcess, RunsFromAFolderWithAJapaneseNameAndFindsItsLanguageFile) {
    // The program folder is found from the executable's own path, which must stay UTF-8
    // end to end: with the name taken byte by byte the INI would not be found and the
    // built-in English text would appear instead.
    const std::filesystem::path exe(Q70CTL_PATH);
    const std::filesystem::path copy = folder / std::filesystem::path(u8"\u30c6\u30b9\u30c8");
    std::filesystem::create_directories(copy);
    std::filesystem::copy_file(exe, copy / exe.filename());
    std::ofstream(copy / "Q70Uty.ini", std::ios::binary)
        << "[MessageText]\nMsgUSBOpenError=Board not found (from the folder's own INI).\n";

    const std::u8string path = (copy / exe.filename()).u8string();
    ChildProcess child;
    ASSERT_TRUE(child.start({std::string(path.begin(), path.end()), "--device", device(), "get"},
                            folder / "stdout", folder / "stderr"));
    EXPECT_EQ(child.wait(), 3);
    err = readText(folder / "stderr");
    EXPECT_NE(err.find("Board not found (from the folder's own INI)."), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::exists(copy / "Q70_USB.Log"));
}

TEST_F(CliProcess, TheBoardsControlChannelOffersAnImageAndUnplugsIt) {
    startBoard({"--unplug-ms", "200"});
    const std::filesystem::path bmp = folder / "poked.bmp";
    ChildProcess waiting;
    ASSERT_TRUE(waiting.start(
        {Q70CTL_PATH, "--device", device(), "test-image", "-o", bmp.string(), "--wait", "20"},
        folder / "stdout", folder / "stderr"));
    // Once q70ctl polls, the board offers its image on request.
    std::string line;
    while (board.readLine(line) && line.find("client connected") == std::string::npos) {
    }
    ASSERT_TRUE(board.pokeBoard(boardListenAddress(folder), "image"));
    EXPECT_EQ(waiting.wait(std::chrono::seconds(30)), 0) << readText(folder / "stderr");
    EXPECT_TRUE(std::filesystem::exists(bmp));

    ASSERT_TRUE(board.pokeBoard(boardListenAddress(folder), "unplug"));
    bool unplugged = false, back = false;
    while (!back && board.readLine(line)) {
        unplugged = unplugged || line.find("unplugging for 200 ms") != std::string::npos;
        back = unplugged && line.find("listening on") != std::string::npos;
    }
    EXPECT_TRUE(back);
    EXPECT_EQ(ctl({"--device", device(), "info"}), 0) << err;
}

TEST_F(CliProcess, ASecondProgramOnTheBoardIsBusyAtOnceOrWaits) {
    startBoard();
    ChildProcess holder;
    ASSERT_TRUE(holder.start({Q70CTL_PATH, "--device", device(), "test-image", "-o",
                              (folder / "x.bmp").string(), "--wait", "2"},
                             folder / "holder.out", folder / "holder.err"));
    std::string line;
    while (board.readLine(line) && line.find("client connected") == std::string::npos) {
    }
    std::string other = device();
#if !defined(_WIN32)
    // The same socket by another path is the same board.
    std::filesystem::create_directory_symlink(folder, folder / "again");
    other = "unix:" +
            (folder / "again" / std::filesystem::path(device().substr(5)).filename()).string();
#endif
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(ctl({"--device", other, "get", "--json"}), 5) << err;
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2)) << "at once";
    EXPECT_NE(err.find("is in use by another q70ctl (PID "), std::string::npos) << err;
    EXPECT_NE(err.find("\"error\": \"busy\""), std::string::npos) << err;
    EXPECT_EQ(ctl({"--device", device(), "--wait-busy", "20", "get"}), 0) << err;
    EXPECT_EQ(holder.wait(), 4);
}

TEST_F(CliProcess, NoBoardListeningIsANoDeviceExit) {
    EXPECT_EQ(ctl({"--device", device(), "get"}), 3);
    EXPECT_NE(err.find("USB could not be opened !"), std::string::npos) << err;
}

}  // namespace
}  // namespace q70::test
