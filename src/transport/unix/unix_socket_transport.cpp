#include "transport/unix/unix_socket_transport.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace q70::transport {

namespace {

// The socket's real path names the board: two spellings of one path take one lock.
std::string socketIdentity(const std::string& path) {
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real) != nullptr) return std::string("unix:") + real;
    std::error_code ec;
    return "unix:" + std::filesystem::absolute(path, ec).lexically_normal().string();
}

}  // namespace

bool UnixSocketTransport::open() {
    close();
    problem_ = {};
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.empty() || path_.size() >= sizeof addr.sun_path) {
        lastError_ = path_.empty()
                         ? std::string("No socket path given.")
                         : "The socket path may be at most " +
                               std::to_string(sizeof addr.sun_path - 1) + " bytes long: " + path_;
        return false;
    }
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);

    // Before connecting: the board serves one host, and a second connection would only be
    // turned away by it.
    if (lock_.acquire(socketIdentity(path_)) == system::BoardLock::Result::Busy) {
        const system::LockHolder& holder = lock_.holder();
        problem_ = {true, holder.program, holder.pid};
        lastError_ =
            "The board at unix:" + path_ + " is in use by " + system::describeHolder(holder) + ".";
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        lastError_ = std::string("Cannot create a socket: ") + std::strerror(errno);
        lock_.release();
        return false;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        lock_.release();
        lastError_ = (err == ENOENT || err == ECONNREFUSED)
                         ? "No board is listening on " + path_ + "."
                         : "Cannot connect to " + path_ + ": " + std::strerror(err);
        return false;
    }
    fd_ = fd;
    lastError_.clear();
    return true;
}

bool UnixSocketTransport::writePacket(std::span<const std::uint8_t> packet) {
    if (fd_ < 0 || packet.empty() || packet.size() > link::kPacketSize) return false;
    for (;;) {
        const ssize_t n = ::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        // A message goes whole or not at all.
        return n == static_cast<ssize_t>(packet.size());
    }
}

link::ReadResult UnixSocketTransport::readPacket(link::PacketBuffer& buffer, int maxWaitMs) {
    if (fd_ < 0) return {link::ReadStatus::Failed, 0};
    pollfd p{fd_, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&p, 1, maxWaitMs < 0 ? 0 : maxWaitMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return {link::ReadStatus::Failed, 0};
    if (ready == 0) return {link::ReadStatus::Pending, 0};

    // POLLHUP with data still queued: read the data first; recv reports the end after it.
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return {link::ReadStatus::Pending, 0};
        // 0 is the board closing the connection: the device is lost.
        if (n <= 0) return {link::ReadStatus::Failed, 0};
        return {link::ReadStatus::Ok, static_cast<std::size_t>(n)};
    }
}

void UnixSocketTransport::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    lock_.release();
}

link::DeviceLocation UnixSocketTransport::location() const {
    if (fd_ < 0) return {};
    return {"unix:" + path_, {}, {}, false};
}

}  // namespace q70::transport
