// The Windows device transport against a named pipe served by the test itself, so that
// each answer's size and timing are exactly what the case needs. Every case runs with
// overlapped reads and with the worker thread that stands in where a driver refuses them.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "system/win32/utf8.hpp"
#include "transport/win32/device_transport.hpp"

namespace q70::transport {
namespace {

using Mode = Win32DeviceTransport::Mode;
using Clock = std::chrono::steady_clock;

// A board's end of the pipe: message mode, one instance, blocking calls.
class PipeBoard {
  public:
    PipeBoard()
        : path_("\\\\.\\pipe\\q70-transport-test-" + std::to_string(std::random_device{}())) {
        handle_ = ::CreateNamedPipeW(system::widen(path_).c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                     64 * 1024, 64 * 1024, 0, nullptr);
    }
    ~PipeBoard() { close(); }
    PipeBoard(const PipeBoard&) = delete;
    PipeBoard& operator=(const PipeBoard&) = delete;

    const std::string& path() const { return path_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

    // The client has opened its end already, so this does not wait.
    bool accept() {
        return ::ConnectNamedPipe(handle_, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED;
    }
    std::vector<std::uint8_t> receive() {
        std::vector<std::uint8_t> buf(4096);
        DWORD n = 0;
        if (!::ReadFile(handle_, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr))
            return {};
        buf.resize(n);
        return buf;
    }
    bool send(const std::vector<std::uint8_t>& bytes) {
        DWORD n = 0;
        return ::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
               n == bytes.size();
    }
    void close() {
        if (handle_ == INVALID_HANDLE_VALUE) return;
        ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

  private:
    std::string path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

std::vector<std::uint8_t> counting(std::size_t n, std::uint8_t first = 0) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

std::vector<std::uint8_t> received(const link::PacketBuffer& buf, const link::ReadResult& r) {
    return {buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(r.size)};
}

class Win32TransportTest : public ::testing::TestWithParam<Mode> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(board_.valid());
        ASSERT_TRUE(transport_.open()) << transport_.lastError();
        ASSERT_TRUE(board_.accept());
        EXPECT_EQ(transport_.overlapped(), GetParam() == Mode::Automatic);
    }

    // Reads until a packet or a failure arrives, as the link's ticks would.
    link::ReadResult readSoon(link::PacketBuffer& buf) {
        link::ReadResult r;
        for (int i = 0; i < 100; ++i) {
            r = transport_.readPacket(buf, 50);
            if (r.status != link::ReadStatus::Pending) break;
        }
        return r;
    }

    PipeBoard board_;
    Win32DeviceTransport transport_{board_.path(), GetParam()};
};

TEST_P(Win32TransportTest, OnePacketPerWriteAndPerReadAtOneAnd1024Bytes) {
    ASSERT_TRUE(transport_.writePacket(counting(1)));
    ASSERT_TRUE(transport_.writePacket(counting(1024, 7)));
    EXPECT_EQ(board_.receive(), counting(1));
    EXPECT_EQ(board_.receive(), counting(1024, 7));

    // Two answers waiting in the pipe stay two packets.
    ASSERT_TRUE(board_.send(counting(1, 9)));
    ASSERT_TRUE(board_.send(counting(1024, 3)));
    link::PacketBuffer buf{};
    link::ReadResult r = readSoon(buf);
    ASSERT_EQ(r.status, link::ReadStatus::Ok);
    EXPECT_EQ(received(buf, r), counting(1, 9));
    r = readSoon(buf);
    ASSERT_EQ(r.status, link::ReadStatus::Ok);
    EXPECT_EQ(received(buf, r), counting(1024, 3));

    EXPECT_FALSE(transport_.writePacket({}));
    EXPECT_FALSE(transport_.writePacket(counting(1025)));
}

TEST_P(Win32TransportTest, LateAnswerWaitsBoundedAndArrivesOnALaterCall) {
    link::PacketBuffer buf{};
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(transport_.readPacket(buf, 50).status, link::ReadStatus::Pending);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_GE(ms, 30);
        EXPECT_LT(ms, 400);
    }
    EXPECT_EQ(transport_.readPacket(buf, 0).status, link::ReadStatus::Pending);

    ASSERT_TRUE(board_.send(counting(12, 40)));
    const link::ReadResult r = readSoon(buf);
    ASSERT_EQ(r.status, link::ReadStatus::Ok);
    EXPECT_EQ(received(buf, r), counting(12, 40));
}

TEST_P(Win32TransportTest, AnswerOver1024BytesGivesOnePacketAndTheNextStartsClean) {
    ASSERT_TRUE(board_.send(counting(1500, 1)));
    ASSERT_TRUE(board_.send(counting(7, 200)));
    link::PacketBuffer buf{};
    link::ReadResult r = readSoon(buf);
    ASSERT_EQ(r.status, link::ReadStatus::Ok);
    EXPECT_EQ(received(buf, r), counting(1024, 1));
    r = readSoon(buf);
    ASSERT_EQ(r.status, link::ReadStatus::Ok);
    EXPECT_EQ(received(buf, r), counting(7, 200));
}

TEST_P(Win32TransportTest, BoardClosingThePipeMidImageIsALostDevice) {
    ASSERT_TRUE(board_.send(counting(1024, 5)));
    ASSERT_TRUE(board_.send(counting(1024, 6)));
    link::PacketBuffer buf{};
    ASSERT_EQ(readSoon(buf).status, link::ReadStatus::Ok);
    board_.close();
    // What was sent before the board went still arrives; then the loss.
    link::ReadResult r = readSoon(buf);
    if (r.status == link::ReadStatus::Ok) {
        EXPECT_EQ(received(buf, r), counting(1024, 6));
        r = readSoon(buf);
    }
    EXPECT_EQ(r.status, link::ReadStatus::Failed);
    EXPECT_FALSE(transport_.writePacket(counting(5)));

    transport_.close();
    EXPECT_FALSE(transport_.isOpen());
    EXPECT_FALSE(transport_.open());
    EXPECT_NE(std::string(transport_.lastError()).find("No board is listening"), std::string::npos)
        << transport_.lastError();
}

TEST_P(Win32TransportTest, ReadStillOutstandingAtCloseIsCancelled) {
    link::PacketBuffer buf{};
    EXPECT_EQ(transport_.readPacket(buf, 10).status, link::ReadStatus::Pending);
    const auto start = Clock::now();
    transport_.close();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(transport_.readPacket(buf, 10).status, link::ReadStatus::Failed);
}

INSTANTIATE_TEST_SUITE_P(Modes, Win32TransportTest,
                         ::testing::Values(Mode::Automatic, Mode::Worker), [](const auto& info) {
                             return info.param == Mode::Automatic ? "Overlapped" : "Worker";
                         });

TEST(Win32Transport, SecondOpenIsRefusedAsBusy) {
    PipeBoard board;
    ASSERT_TRUE(board.valid());
    Win32DeviceTransport first(board.path());
    ASSERT_TRUE(first.open()) << first.lastError();
    Win32DeviceTransport second(board.path());
    EXPECT_FALSE(second.open());
    EXPECT_NE(std::string(second.lastError()).find("in use"), std::string::npos)
        << second.lastError();
}

TEST(Win32Transport, AbsentDeviceFailsToOpenWithAReason) {
    Win32DeviceTransport board("\\\\.\\CPYBRD-none-" + std::to_string(std::random_device{}()));
    EXPECT_FALSE(board.open());
    EXPECT_FALSE(board.isOpen());
    EXPECT_NE(std::string(board.lastError()).find("No board at"), std::string::npos)
        << board.lastError();
    link::PacketBuffer buf{};
    EXPECT_EQ(board.readPacket(buf, 0).status, link::ReadStatus::Failed);
    EXPECT_FALSE(board.writePacket(counting(5)));
}

}  // namespace
}  // namespace q70::transport
