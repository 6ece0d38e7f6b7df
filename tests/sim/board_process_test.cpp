// The link's flows over a real Unix-domain socket against the q70-board-sim process:
// start sequence (checked against the board's request log), a settings write, a test
// image, a firmware update, unplug and replug, faults from the command line, the state
// file, and one client at a time.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "link/connection.hpp"
#include "sim_support.hpp"
#include "support/manual_scheduler.hpp"
#include "transport/unix/unix_socket_transport.hpp"

extern char** environ;

namespace q70::test {
namespace {

using namespace q70::link;
using Clock = std::chrono::steady_clock;

// A q70-board-sim child whose stdout events the test waits on.
class BoardProcess {
  public:
    ~BoardProcess() { stop(); }

    bool start(const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<std::string> all = {Q70_BOARD_SIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc =
            posix_spawn(&pid_, Q70_BOARD_SIM_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
        if (rc != 0) pid_ = -1;
        return rc == 0;
    }

    // Waits for an event line containing `text`; lines before it are kept in `seen`.
    bool waitFor(const std::string& text, int timeoutMs = 5000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const std::size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                const std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                seen.push_back(line);
                if (line.find(text) != std::string::npos) return true;
                continue;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0 || out_ < 0) return false;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
            char chunk[512];
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n <= 0) {
                ::close(out_);
                out_ = -1;
                return false;
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    void signal(int sig) { ::kill(pid_, sig); }

    // Asks it to stop and waits for it; the exit status, or -1.
    int stop() {
        if (pid_ >= 0) ::kill(pid_, SIGTERM);
        return wait();
    }

    // Waits for it to end by itself (its stdout closing marks the exit); the exit status,
    // or -1. Killed when it has not ended within 5 s.
    int wait() {
        if (pid_ < 0) return -1;
        while (waitFor("\x01never", 5000)) {
        }
        if (out_ >= 0) {  // still running after 5 s
            ::kill(pid_, SIGKILL);
            ::close(out_);
            out_ = -1;
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid() const { return pid_; }
    std::vector<std::string> seen;

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

class BoardProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dirTemplate[] = "/tmp/q70simXXXXXX";
        ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
        dir = dirTemplate;
        socketPath = (dir / "board.sock").string();
    }
    void TearDown() override {
        board.stop();
        std::filesystem::remove_all(dir);
    }

    bool startBoard(std::vector<std::string> extra) {
        std::vector<std::string> args = {"--listen", socketPath};
        args.insert(args.end(), extra.begin(), extra.end());
        return board.start(args) && board.waitFor("listening on");
    }

    std::vector<std::string> logLines() const {
        std::ifstream in(dir / "requests.log");
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

    std::filesystem::path dir;
    std::string socketPath;
    BoardProcess board;
};

// The window's link on the manual clock, over the socket. Reads wait on the socket for
// real, so the manual clock keeps roughly in step with the board's.
struct Host {
    explicit Host(const std::string& path) : transport(path) {
        sched.setHandler([this](int id) { conn.onTimer(id); });
        listener.attach(conn.engine());
    }
    void start() {
        conn.openAtStart();
        conn.engine().resetTransferState();
        conn.startTimers();
        conn.queueStartSequence();
    }
    void restartPump() { sched.startTimer(kPumpTimer, kFastPeriodMs); }
    bool runUntil(const std::function<bool()>& done, int realMs = 10000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(realMs);
        while (!done()) {
            if (Clock::now() > deadline) return false;
            sched.step();
        }
        return true;
    }

    transport::UnixSocketTransport transport;
    ManualScheduler sched;
    FlowListener listener;
    Connection conn{transport, sched, sched, listener, listener};
};

TEST_F(BoardProcessTest, TheLinksFlowsOverTheSocketIncludingUnplugAndReplug) {
    ASSERT_TRUE(startBoard(
        {"--log", (dir / "requests.log").string(), "--busy-ms", "0", "--unplug-ms", "300"}));
    Host host(socketPath);
    host.start();
    ASSERT_TRUE(host.conn.deviceOpen()) << host.transport.lastError();
    ASSERT_TRUE(host.runUntil([&] { return !host.listener.states.empty(); }));
    EXPECT_EQ(host.listener.versions, std::vector<std::string>{"Q70 Ver 1.20"});
    EXPECT_EQ(host.listener.reports.size(), 5u);
    // The board's log: every request as hex, one line each, in order.
    const std::vector<std::string> expected = {"01 00 00 00 01", "01 00 00 00 0D", "01 00 00 00 06",
                                               "01 00 00 00 11", "01 00 00 00 12", "01 00 00 00 13",
                                               "01 00 00 00 14", "01 00 00 00 02"};
    EXPECT_EQ(logLines(), expected);

    // A settings write, read back.
    host.listener.settingValues[code::Paper] = 1;
    host.conn.engine().enqueueRequest(code::Paper, 1);
    host.conn.engine().enqueueRequest(code::Paper, 0);
    host.restartPump();
    ASSERT_TRUE(host.runUntil([&] { return host.listener.reports.size() == 6; }));
    EXPECT_EQ(host.listener.reports.back(), std::make_pair(code::Paper, std::uint8_t{1}));
    const auto written = logLines();
    EXPECT_NE(std::find(written.begin(), written.end(), "02 00 00 00 12 01"), written.end());

    // SIGUSR1 offers a test image; the poll fetches it.
    board.signal(SIGUSR1);
    ASSERT_TRUE(board.waitFor("test image offered"));
    ASSERT_TRUE(host.runUntil([&] { return !host.listener.images.empty(); }, 20000));
    ASSERT_EQ(host.listener.headers.size(), 1u);
    EXPECT_EQ(host.listener.headers[0].width, 2160);
    EXPECT_EQ(host.listener.images[0].size(), host.listener.headers[0].dataSize);
    EXPECT_TRUE(host.listener.messages.empty());

    // A firmware update in chunks; the version read afterwards is the file's.
    host.listener.startFirmware(firmwareLines("Q70 Ver 4.00", 30));
    host.restartPump();
    ASSERT_TRUE(host.runUntil([&] {
        return host.listener.lastChunkQueued && !host.conn.engine().isAwaitingAnswer() &&
               host.conn.engine().queueEmpty();
    }));
    host.listener.firmwareUpdating = false;
    host.conn.engine().enqueueRequest(code::GetFirmwareVersion, 0);
    host.restartPump();
    ASSERT_TRUE(host.runUntil([&] { return host.listener.versions.size() == 2; }));
    EXPECT_EQ(host.listener.versions.back(), "Q70 Ver 4.00");
    const auto log = logLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "09 00 00 00 16 00 66 77 2E 6D 6F 74 00"),
              log.end());

    // SIGUSR2 pulls the cable: the next request cannot be written, reopening fails while
    // the board is away and succeeds once it listens again; the request then goes out.
    board.signal(SIGUSR2);
    ASSERT_TRUE(board.waitFor("unplugged"));
    host.conn.engine().enqueueRequest(code::GetDeviceInfo, 0);
    host.restartPump();
    ASSERT_TRUE(host.runUntil([&] { return !host.conn.deviceOpen(); }));
    host.sched.advance(200);
    EXPECT_FALSE(host.conn.deviceOpen());
    ASSERT_TRUE(board.waitFor("listening on"));
    ASSERT_TRUE(host.runUntil([&] { return host.listener.deviceInfos.size() == 2; }));
    EXPECT_TRUE(host.conn.deviceOpen());
}

TEST_F(BoardProcessTest, FaultsFromTheCommandLine) {
    ASSERT_TRUE(startBoard(
        {"--fault", "short:code=13", "--fault", "lose:code=4:after=3:down=300", "--busy-ms", "0"}));
    Host host(socketPath);
    host.start();
    ASSERT_TRUE(host.runUntil([&] { return !host.listener.messages.empty(); }));
    EXPECT_EQ(host.listener.messages.back(), LinkMessage::ReceiveBadPkt);
    host.restartPump();
    ASSERT_TRUE(host.runUntil([&] { return !host.listener.states.empty(); }));
    EXPECT_TRUE(host.listener.versions.empty());

    // The board vanishes three packets into the test image and comes back.
    board.signal(SIGUSR1);
    ASSERT_TRUE(host.runUntil([&] { return host.listener.messages.size() == 2; }));
    EXPECT_EQ(host.listener.messages.back(), LinkMessage::ReceivePktError);
    EXPECT_TRUE(host.listener.images.empty());
    ASSERT_TRUE(board.waitFor("unplugged"));
    ASSERT_TRUE(board.waitFor("listening on"));
    ASSERT_TRUE(host.runUntil([&] { return host.conn.deviceOpen() && host.transport.isOpen(); }));
    // The link starts again by itself: the version is read each time it does.
    ASSERT_TRUE(host.runUntil([&] { return !host.listener.images.empty(); }, 20000));
    ASSERT_FALSE(host.listener.versions.empty());
    for (const std::string& v : host.listener.versions) EXPECT_EQ(v, "Q70 Ver 1.20");
}

TEST_F(BoardProcessTest, LostByPacketCountUntilSigusr2BringsItBack) {
    ASSERT_TRUE(startBoard({"--lose-after", "3", "--down-ms", "0"}));
    Host host(socketPath);
    host.start();
    // Device information goes through; the version request is the third packet.
    ASSERT_TRUE(host.runUntil([&] { return !host.listener.messages.empty(); }));
    EXPECT_EQ(host.listener.messages.back(), LinkMessage::ReceivePktError);
    EXPECT_EQ(host.listener.deviceInfos.size(), 1u);
    ASSERT_TRUE(board.waitFor("unplugged"));
    board.signal(SIGUSR2);
    ASSERT_TRUE(board.waitFor("plugged back in"));
    ASSERT_TRUE(board.waitFor("listening on"));
    ASSERT_TRUE(host.runUntil([&] { return host.transport.isOpen(); }));
    host.restartPump();
    ASSERT_TRUE(host.runUntil([&] { return !host.listener.states.empty(); }));
    EXPECT_EQ(host.listener.reports.size(), 5u);
}

TEST_F(BoardProcessTest, SettingsSurviveARestartThroughTheStateFile) {
    const std::string state = (dir / "board.state").string();
    ASSERT_TRUE(startBoard({"--state", state, "--busy-ms", "0"}));
    {
        Host host(socketPath);
        host.start();
        ASSERT_TRUE(host.runUntil([&] { return !host.listener.states.empty(); }));
        host.listener.settingValues[code::Margin] = 1;
        host.listener.settingValues[code::TimeStamp] = 0;
        host.conn.engine().enqueueRequest(code::Margin, 1);
        host.conn.engine().enqueueRequest(code::TimeStamp, 1);
        host.conn.engine().enqueueRequest(code::SetDateTime, 1);
        host.restartPump();
        ASSERT_TRUE(host.runUntil([&] { return host.listener.acks.size() == 3; }));
    }
    EXPECT_EQ(board.stop(), 0);

    ASSERT_TRUE(startBoard({"--state", state, "--paper", "letter"}));
    Host host(socketPath);
    host.start();
    ASSERT_TRUE(host.runUntil([&] { return !host.listener.states.empty(); }));
    const std::vector<std::pair<std::uint8_t, std::uint8_t>> reports = {{code::PrintMode, 0},
                                                                        {code::SaveMode, 0},
                                                                        {code::Paper, 1},
                                                                        {code::Margin, 1},
                                                                        {code::TimeStamp, 0}};
    EXPECT_EQ(host.listener.reports, reports);  // the command line's paper wins over the file
    std::ifstream in(state);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("date-time=2004-12-31T23:59"), std::string::npos) << text;
}

// One bare request and its answer code, straight over a transport.
int exchange(transport::UnixSocketTransport& t, std::uint8_t requestCode) {
    const Packet p = encodeBare(requestCode);
    if (!t.writePacket(p.view())) return -1;
    PacketBuffer buf{};
    const ReadResult r = t.readPacket(buf, 2000);
    return r.status == ReadStatus::Ok && r.size > 4 ? buf[4] : -2;
}

TEST_F(BoardProcessTest, ServesOneClientAtATimeAndReplacesAStaleSocket) {
    {  // A socket file left behind by a run that died.
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, socketPath.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    ASSERT_TRUE(startBoard({}));

    transport::UnixSocketTransport first(socketPath);
    ASSERT_TRUE(first.open());
    ASSERT_TRUE(board.waitFor("client connected"));
    EXPECT_EQ(exchange(first, code::GetStatus), code::GetStatus);

    // Our programs do not even try while another holds the board...
    transport::UnixSocketTransport ours(socketPath);
    EXPECT_FALSE(ours.open());
    EXPECT_TRUE(ours.openProblem().busy);
    // ...and a client that takes no lock is turned away by the board itself.
    const int second = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, socketPath.c_str());
    // The kernel completes the connection...
    ASSERT_EQ(::connect(second, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_TRUE(board.waitFor("refused a second client"));
    pollfd hangUp{second, POLLIN, 0};
    ASSERT_EQ(::poll(&hangUp, 1, 2000), 1);
    char byte = 0;
    EXPECT_EQ(::recv(second, &byte, 1, MSG_DONTWAIT), 0);  // ...the board drops it
    ::close(second);
    EXPECT_EQ(exchange(first, code::GetFirmwareVersion), code::GetFirmwareVersion);

    first.close();
    ASSERT_TRUE(board.waitFor("client disconnected"));
    transport::UnixSocketTransport third(socketPath);
    ASSERT_TRUE(third.open());
    EXPECT_EQ(exchange(third, code::GetDeviceInfo), code::GetDeviceInfo);
}

TEST_F(BoardProcessTest, DoesNotReplaceAFileThatIsNotASocket) {
    { std::ofstream(socketPath) << "precious"; }
    ASSERT_TRUE(board.start({"--listen", socketPath}));
    EXPECT_EQ(board.wait(), 1);
    std::ifstream in(socketPath);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "precious");
}

TEST_F(BoardProcessTest, HelpDocumentsFaultsAndSignals) {
    ASSERT_TRUE(board.start({"--help"}));
    std::string all;
    EXPECT_EQ(board.wait(), 0);
    for (const auto& l : board.seen) all += l + "\n";
    for (const char* word : {"--listen", "--fault", "--lose-after", "--state", "--log", "SIGUSR1",
                             "SIGUSR2", "silence", "mismatch", "--image-after"}) {
        EXPECT_NE(all.find(word), std::string::npos) << word;
    }
}

}  // namespace
}  // namespace q70::test
