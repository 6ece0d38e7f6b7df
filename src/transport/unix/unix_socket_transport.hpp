#pragma once
// The board over a Unix-domain SOCK_SEQPACKET socket (address unix:PATH): each request is
// one message, each answer packet one message back; the peer closing is a lost device.

#include <string>

#include "link/transport.hpp"
#include "system/board_lock.hpp"

namespace q70::transport {

class UnixSocketTransport : public link::DeviceTransport {
  public:
    explicit UnixSocketTransport(std::string path) : path_(std::move(path)) {}
    ~UnixSocketTransport() override { close(); }
    UnixSocketTransport(const UnixSocketTransport&) = delete;
    UnixSocketTransport& operator=(const UnixSocketTransport&) = delete;

    bool open() override;
    bool isOpen() const override { return fd_ >= 0; }
    bool writePacket(std::span<const std::uint8_t> packet) override;
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override;
    void close() override;
    const char* lastError() const override { return lastError_.c_str(); }
    link::OpenProblem openProblem() const override { return problem_; }
    link::DeviceLocation location() const override;

  private:
    std::string path_;
    int fd_ = -1;
    std::string lastError_;
    link::OpenProblem problem_;
    system::BoardLock lock_;
};

}  // namespace q70::transport
