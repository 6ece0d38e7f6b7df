// The socket transport against a peer in this test: message boundaries, waiting, and the
// peer going away.

#include "transport/unix/unix_socket_transport.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>

namespace q70::test {
namespace {

using namespace q70::link;

class UnixSocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dirTemplate[] = "/tmp/q70sockXXXXXX";
        ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
        dir = dirTemplate;
        path = (dir / "s").string();
        listener = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path.c_str());
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::listen(listener, 1), 0);
        transport.emplace(path);
    }
    void TearDown() override {
        if (peer >= 0) ::close(peer);
        ::close(listener);
        std::filesystem::remove_all(dir);
    }
    void connect() {
        ASSERT_TRUE(transport->open()) << transport->lastError();
        peer = ::accept(listener, nullptr, nullptr);
        ASSERT_GE(peer, 0);
    }

    std::filesystem::path dir;
    std::string path;
    int listener = -1;
    int peer = -1;
    std::optional<transport::UnixSocketTransport> transport;
};

TEST_F(UnixSocketTest, EachPacketIsOneMessageBothWays) {
    connect();
    const Packet a = encodeBare(code::GetStatus);
    const Packet b = encodeWithByte(code::Paper, 1);
    ASSERT_TRUE(transport->writePacket(a.view()));
    ASSERT_TRUE(transport->writePacket(b.view()));
    std::uint8_t in[2048];
    EXPECT_EQ(::recv(peer, in, sizeof in, 0), 5);
    EXPECT_EQ(::recv(peer, in, sizeof in, 0), 6);
    EXPECT_EQ(in[5], 1);

    std::vector<std::uint8_t> big(kPacketSize, 0xAB), small = {1, 2, 3};
    ASSERT_EQ(::send(peer, big.data(), big.size(), 0), 1024);
    ASSERT_EQ(::send(peer, small.data(), small.size(), 0), 3);
    PacketBuffer buf{};
    ReadResult r = transport->readPacket(buf, 1000);
    EXPECT_EQ(r.status, ReadStatus::Ok);
    EXPECT_EQ(r.size, 1024u);
    EXPECT_EQ(buf[1023], 0xAB);
    r = transport->readPacket(buf, 1000);
    EXPECT_EQ(r.status, ReadStatus::Ok);
    EXPECT_EQ(r.size, 3u);
    // Nothing more: an immediate Pending, not a block.
    EXPECT_EQ(transport->readPacket(buf, 0).status, ReadStatus::Pending);
}

TEST_F(UnixSocketTest, ThePeerClosingIsALostDeviceAfterWhatItSent) {
    connect();
    const std::uint8_t answer[] = {1, 0, 0, 0, 0};
    ASSERT_EQ(::send(peer, answer, sizeof answer, 0), 5);
    ::close(peer);
    peer = -1;
    PacketBuffer buf{};
    EXPECT_EQ(transport->readPacket(buf, 1000).status, ReadStatus::Ok);
    EXPECT_EQ(transport->readPacket(buf, 1000).status, ReadStatus::Failed);
    EXPECT_FALSE(transport->writePacket(encodeBare(code::GetStatus).view()));
    transport->close();
    EXPECT_FALSE(transport->isOpen());
    EXPECT_EQ(transport->readPacket(buf, 0).status, ReadStatus::Failed);
}

TEST_F(UnixSocketTest, OpenFailuresSayWhy) {
    transport::UnixSocketTransport absent((dir / "nobody").string());
    EXPECT_FALSE(absent.open());
    EXPECT_NE(std::string(absent.lastError()).find("No board is listening"), std::string::npos);
    transport::UnixSocketTransport tooLong("/tmp/" + std::string(200, 'x'));
    EXPECT_FALSE(tooLong.open());
    EXPECT_NE(std::string(tooLong.lastError()).find("at most"), std::string::npos);
    EXPECT_FALSE(tooLong.isOpen());
}

}  // namespace
}  // namespace q70::test
