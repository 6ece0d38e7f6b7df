// The board on a Unix-domain SOCK_SEQPACKET socket; SIGUSR1, SIGUSR2 and SIGTERM poke it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "sim/board_server.hpp"

namespace q70::sim {
namespace {

int g_signalPipe[2] = {-1, -1};

extern "C" void onSignal(int sig) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

bool installSignals() {
    if (::pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(sig, &sa, nullptr) != 0) return false;
    }
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

class Server {
  public:
    Server(std::string path, sim::SimulatedBoard& board, std::uint32_t unplugMs,
           const BoardServerHooks& hooks)
        : onRequest(hooks.onRequest),
          afterRequest(hooks.afterRequest),
          path_(std::move(path)),
          board_(board),
          unplugMs_(unplugMs) {}
    ~Server() {
        dropClient(false);
        stopListening();
    }

    std::function<void(std::span<const std::uint8_t>)> onRequest;
    std::function<void()> afterRequest;

    bool startListening(std::string& error) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (path_.size() >= sizeof addr.sun_path) {
            error = "The socket path is too long (at most " +
                    std::to_string(sizeof addr.sun_path - 1) + " bytes): " + path_;
            return false;
        }
        std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);

        // A socket left by an earlier run that died is stale; anything else is not ours.
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0) {
            if (!S_ISSOCK(st.st_mode)) {
                error = path_ + " exists and is not a socket; not replacing it.";
                return false;
            }
            ::unlink(path_.c_str());
        }
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = std::string("socket: ") + std::strerror(errno);
            return false;
        }
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd, 4) != 0) {
            error = "Cannot listen on " + path_ + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        listenFd_ = fd;
        boardEvent("listening on " + path_);
        return true;
    }

    // Returns false when the loop should end (a signal to stop, or a failure).
    bool run(std::string& error) {
        while (!stop_) {
            if (!board_.present()) {
                if (clientFd_ >= 0) dropClient(true);
                if (listenFd_ >= 0) {
                    stopListening();
                    boardEvent("unplugged");
                }
            } else if (listenFd_ < 0) {
                if (!startListening(error)) return false;
            }
            if (clientFd_ >= 0) sendAnswers();

            std::vector<pollfd> fds;
            fds.push_back({g_signalPipe[0], POLLIN, 0});
            const int clientAt = clientFd_ >= 0 ? static_cast<int>(fds.size()) : -1;
            if (clientFd_ >= 0) {
                fds.push_back({clientFd_, static_cast<short>(POLLIN | (held_ ? POLLOUT : 0)), 0});
            }
            const int listenAt = listenFd_ >= 0 ? static_cast<int>(fds.size()) : -1;
            if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});

            // While unplugged, look at the clock now and then to come back on time.
            const int timeout = listenFd_ < 0 ? 20 : -1;
            if (::poll(fds.data(), fds.size(), timeout) < 0) {
                if (errno == EINTR) continue;
                error = std::string("poll: ") + std::strerror(errno);
                return false;
            }
            if (fds[0].revents & POLLIN) handleSignals();
            // The client first: a host that closes and reconnects must find the slot free.
            if (clientAt >= 0 && clientFd_ >= 0 && fds[clientAt].revents != 0) handleClient();
            if (listenAt >= 0 && listenFd_ >= 0 && (fds[listenAt].revents & POLLIN)) acceptClient();
        }
        return true;
    }

  private:
    void stopListening() {
        if (listenFd_ < 0) return;
        ::close(listenFd_);
        listenFd_ = -1;
        ::unlink(path_.c_str());
    }

    void dropClient(bool announce) {
        if (clientFd_ < 0) return;
        ::close(clientFd_);
        clientFd_ = -1;
        held_.reset();
        board_.disconnect();
        if (announce) boardEvent("client disconnected");
    }

    void acceptClient() {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        if (clientFd_ >= 0) {
            // One host at a time, like a USB device claimed by one program.
            ::close(fd);
            boardEvent("refused a second client");
            return;
        }
        clientFd_ = fd;
        board_.connect();
        boardEvent("client connected");
    }

    void handleSignals() {
        unsigned char sig = 0;
        while (::read(g_signalPipe[0], &sig, 1) == 1) {
            if (sig == SIGUSR1) {
                offerTestImageNow(board_);
            } else if (sig == SIGUSR2) {
                unplugOrReplug(board_, unplugMs_);
            } else {
                stop_ = true;
            }
        }
    }

    void handleClient() {
        std::array<std::uint8_t, link::kPacketSize> buf{};
        for (;;) {
            const ssize_t n = ::recv(clientFd_, buf.data(), buf.size(), 0);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                if (errno == EINTR) continue;
                dropClient(true);
                return;
            }
            if (n == 0) {
                dropClient(true);
                return;
            }
            const std::span<const std::uint8_t> packet(buf.data(), static_cast<std::size_t>(n));
            if (onRequest) onRequest(packet);
            board_.receive(packet);
            if (afterRequest) afterRequest();
            if (!board_.present()) return;
            sendAnswers();
            if (clientFd_ < 0) return;
        }
        sendAnswers();
    }

    // Every answer packet the board has ready, one message each; a full socket buffer
    // keeps the rest for the next POLLOUT.
    void sendAnswers() {
        while (clientFd_ >= 0) {
            if (!held_) {
                link::Packet p;
                if (!board_.nextAnswer(p)) return;
                held_ = p;
            }
            const ssize_t n = ::send(clientFd_, held_->bytes.data(), held_->size, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) return;
                if (errno == EINTR) continue;
                dropClient(true);
                return;
            }
            held_.reset();
        }
    }

    std::string path_;
    sim::SimulatedBoard& board_;
    std::uint32_t unplugMs_;
    int listenFd_ = -1;
    int clientFd_ = -1;
    std::optional<link::Packet> held_;
    bool stop_ = false;
};

}  // namespace

BoardServerTexts boardServerTexts() {
    return {
        "served on a Unix-domain socket (SOCK_SEQPACKET: each request one message, each "
        "answer packet one message). Connect with --device unix:PATH.",
        "Socket path to serve the board on (a stale socket there is removed)", "SIGUSR2",
        R"(Signals:
  SIGUSR1   offer a test image now (the next status reports state 0)
  SIGUSR2   unplug the board for --unplug-ms, then plug it back in; sent while the
            board is away, plug it back in at once
  SIGTERM   stop serving and exit with status 0 (SIGINT and SIGHUP as well)
)"};
}

bool serveBoard(const std::string& address, sim::SimulatedBoard& board, std::uint32_t unplugMs,
                const BoardServerHooks& hooks, std::string& error) {
    if (!installSignals()) {
        error = "cannot install signal handlers";
        return false;
    }
    Server server(address, board, unplugMs, hooks);
    return server.startListening(error) && server.run(error);
}

}  // namespace q70::sim
