// The board on a named pipe in message mode (one instance: a second client gets
// ERROR_PIPE_BUSY), poked through a second pipe, NAME-control, that takes one word per
// message. One thread waits on every pipe's overlapped event at once.

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "sim/board_server.hpp"
#include "system/win32/utf8.hpp"

namespace q70::sim {
namespace {

HANDLE g_stopEvent = nullptr;

BOOL WINAPI onConsoleControl(DWORD) {
    if (g_stopEvent != nullptr) ::SetEvent(g_stopEvent);
    return TRUE;
}

// One overlapped operation on a pipe, with its own event.
struct PendingIo {
    OVERLAPPED ov{};
    bool pending = false;
    PendingIo() { ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~PendingIo() { ::CloseHandle(ov.hEvent); }
    PendingIo(const PendingIo&) = delete;
    PendingIo& operator=(const PendingIo&) = delete;
    void reset() {
        ::ResetEvent(ov.hEvent);
        ov.Internal = ov.InternalHigh = 0;
        ov.Offset = ov.OffsetHigh = 0;
    }
};

// Waits for a client to connect; true when one is connected right away.
bool beginConnect(HANDLE pipe, PendingIo& io) {
    io.reset();
    if (::ConnectNamedPipe(pipe, &io.ov)) {
        io.pending = true;  // completed: the event is set
        return false;
    }
    const DWORD err = ::GetLastError();
    if (err == ERROR_PIPE_CONNECTED) {
        ::SetEvent(io.ov.hEvent);
        io.pending = true;
        return true;
    }
    io.pending = err == ERROR_IO_PENDING;
    return false;
}

// Starts a read into `buf`; false when the pipe is broken.
bool beginRead(HANDLE pipe, PendingIo& io, std::span<std::uint8_t> buf) {
    io.reset();
    if (::ReadFile(pipe, buf.data(), static_cast<DWORD>(buf.size()), nullptr, &io.ov)) {
        io.pending = true;
        return true;
    }
    const DWORD err = ::GetLastError();
    if (err == ERROR_IO_PENDING || err == ERROR_MORE_DATA) {
        io.pending = true;
        return true;
    }
    return false;
}

// Reads away the rest of a message that did not fit, so the next read starts clean.
void drainMessage(HANDLE pipe, PendingIo& io) {
    std::array<std::uint8_t, link::kPacketSize> scratch{};
    for (;;) {
        io.reset();
        DWORD n = 0;
        BOOL ok =
            ::ReadFile(pipe, scratch.data(), static_cast<DWORD>(scratch.size()), nullptr, &io.ov);
        if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
            ok = ::GetOverlappedResult(pipe, &io.ov, &n, TRUE);
        } else if (ok) {
            ok = ::GetOverlappedResult(pipe, &io.ov, &n, FALSE);
        }
        if (ok || ::GetLastError() != ERROR_MORE_DATA) return;
    }
}

class Server {
  public:
    Server(std::string path, sim::SimulatedBoard& board, std::uint32_t unplugMs,
           const BoardServerHooks& hooks)
        : hooks_(hooks), path_(std::move(path)), board_(board), unplugMs_(unplugMs) {}
    ~Server() {
        closePipe(false);
        closeControl();
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool start(std::string& error) {
        if (!openControl(error)) return false;
        return openPipe(error);
    }

    bool run(std::string& error) {
        while (!stop_) {
            if (!board_.present()) {
                if (pipe_ != INVALID_HANDLE_VALUE) {
                    closePipe(true);
                    boardEvent("unplugged");
                }
            } else if (pipe_ == INVALID_HANDLE_VALUE) {
                if (!openPipe(error)) return false;
            }
            if (connected_) {
                sendAnswers();
                if (connected_ && !read_.pending && !beginRead(pipe_, read_, requestBuf_)) {
                    dropClient(true);
                    continue;
                }
            }

            std::vector<HANDLE> waits{g_stopEvent, controlIo_.ov.hEvent};
            const DWORD pipeAt =
                pipe_ != INVALID_HANDLE_VALUE ? static_cast<DWORD>(waits.size()) : MAXDWORD;
            if (pipe_ != INVALID_HANDLE_VALUE) {
                waits.push_back(connected_ ? read_.ov.hEvent : connect_.ov.hEvent);
            }
            const DWORD writeAt = write_.pending ? static_cast<DWORD>(waits.size()) : MAXDWORD;
            if (write_.pending) waits.push_back(write_.ov.hEvent);

            // While unplugged, look at the clock now and then to come back on time.
            const DWORD timeout = pipe_ == INVALID_HANDLE_VALUE ? 20 : INFINITE;
            const DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(),
                                                     FALSE, timeout);
            if (r == WAIT_TIMEOUT) continue;
            if (r == WAIT_FAILED) {
                error = "WaitForMultipleObjects failed (" + std::to_string(::GetLastError()) + ")";
                return false;
            }
            const DWORD at = r - WAIT_OBJECT_0;
            if (at == 0) {
                stop_ = true;
            } else if (at == 1) {
                handleControl();
            } else if (at == pipeAt) {
                if (connected_) {
                    handleRequest();
                } else {
                    finishConnect();
                }
            } else if (at == writeAt) {
                finishWrite();
            }
        }
        return true;
    }

  private:
    bool openPipe(std::string& error) {
        const std::wstring name = system::widen(path_);
        // First instance: a board already served under this name is not ours to share.
        pipe_ = ::CreateNamedPipeW(
            name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
            64 * 1024, 64 * 1024, 0, nullptr);
        if (pipe_ == INVALID_HANDLE_VALUE) {
            const DWORD err = ::GetLastError();
            error =
                err == ERROR_ACCESS_DENIED || err == ERROR_PIPE_BUSY
                    ? path_ + " is already served by another program."
                    : "Cannot create the pipe " + path_ + " (error " + std::to_string(err) + ").";
            return false;
        }
        boardEvent("listening on " + path_);
        if (beginConnect(pipe_, connect_)) finishConnect();
        return true;
    }

    void closePipe(bool announce) {
        if (pipe_ == INVALID_HANDLE_VALUE) return;
        dropClient(announce, false);
        // No FlushFileBuffers: it waits for the client to read, and nothing else runs here.
        ::CancelIo(pipe_);
        ::CloseHandle(pipe_);
        pipe_ = INVALID_HANDLE_VALUE;
        connect_.pending = read_.pending = write_.pending = false;
    }

    void finishConnect() {
        DWORD n = 0;
        connect_.pending = false;
        if (!::GetOverlappedResult(pipe_, &connect_.ov, &n, FALSE) &&
            ::GetLastError() != ERROR_PIPE_CONNECTED) {
            ::DisconnectNamedPipe(pipe_);
            if (beginConnect(pipe_, connect_)) finishConnect();
            return;
        }
        connected_ = true;
        board_.connect();
        boardEvent("client connected");
    }

    // The client is gone (or is sent away); the pipe waits for the next one.
    void dropClient(bool announce, bool listenAgain = true) {
        if (!connected_) return;
        ::CancelIo(pipe_);
        DWORD n = 0;
        if (read_.pending) ::GetOverlappedResult(pipe_, &read_.ov, &n, TRUE);
        if (write_.pending) ::GetOverlappedResult(pipe_, &write_.ov, &n, TRUE);
        read_.pending = write_.pending = false;
        held_.reset();
        ::DisconnectNamedPipe(pipe_);
        connected_ = false;
        board_.disconnect();
        if (announce) boardEvent("client disconnected");
        if (listenAgain && beginConnect(pipe_, connect_)) finishConnect();
    }

    void handleRequest() {
        DWORD n = 0;
        read_.pending = false;
        const BOOL ok = ::GetOverlappedResult(pipe_, &read_.ov, &n, FALSE);
        if (!ok && ::GetLastError() == ERROR_MORE_DATA) {
            // Longer than any request: the board sees its first packet's worth only.
            drainMessage(pipe_, read_);
            n = static_cast<DWORD>(requestBuf_.size());
        } else if (!ok) {
            dropClient(true);
            return;
        }
        const std::span<const std::uint8_t> packet(requestBuf_.data(), n);
        if (hooks_.onRequest) hooks_.onRequest(packet);
        board_.receive(packet);
        if (hooks_.afterRequest) hooks_.afterRequest();
        if (!board_.present()) return;
        sendAnswers();
    }

    // Every answer packet the board has ready, one message each; a full pipe keeps the
    // rest until the pending write completes.
    void sendAnswers() {
        while (connected_ && !write_.pending) {
            if (!held_) {
                link::Packet p;
                if (!board_.nextAnswer(p)) return;
                held_ = p;
            }
            write_.reset();
            if (::WriteFile(pipe_, held_->bytes.data(), static_cast<DWORD>(held_->size), nullptr,
                            &write_.ov)) {
                held_.reset();
                continue;
            }
            if (::GetLastError() == ERROR_IO_PENDING) {
                write_.pending = true;
                return;
            }
            dropClient(true);
            return;
        }
    }

    void finishWrite() {
        DWORD n = 0;
        write_.pending = false;
        if (!::GetOverlappedResult(pipe_, &write_.ov, &n, FALSE)) {
            dropClient(true);
            return;
        }
        held_.reset();
        sendAnswers();
    }

    // ---- The control pipe: one word per message -----------------------------------------

    bool openControl(std::string& error) {
        const std::string controlPath = path_ + "-control";
        control_ = ::CreateNamedPipeW(
            system::widen(controlPath).c_str(),
            PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
            4096, 4096, 0, nullptr);
        if (control_ == INVALID_HANDLE_VALUE) {
            error = "Cannot create the control pipe " + controlPath + " (error " +
                    std::to_string(::GetLastError()) + ").";
            return false;
        }
        listenControl();
        return true;
    }

    // Waits for the next writer; one connected at once starts its read straight away.
    void listenControl() {
        for (int guard = 0; guard < 100; ++guard) {
            controlConnected_ = beginConnect(control_, controlIo_);
            if (!controlConnected_ || readControl()) return;
            ::DisconnectNamedPipe(control_);
        }
    }

    bool readControl() {
        return beginRead(
            control_, controlIo_,
            std::span(reinterpret_cast<std::uint8_t*>(controlBuf_.data()), controlBuf_.size()));
    }

    void closeControl() {
        if (control_ == INVALID_HANDLE_VALUE) return;
        ::CancelIo(control_);
        ::CloseHandle(control_);
        control_ = INVALID_HANDLE_VALUE;
    }

    void handleControl() {
        DWORD n = 0;
        const BOOL ok = ::GetOverlappedResult(control_, &controlIo_.ov, &n, FALSE);
        const DWORD err = ok ? 0 : ::GetLastError();
        controlIo_.pending = false;
        if (!controlConnected_) {
            // A writer has connected.
            controlConnected_ = true;
            if (!readControl()) {
                ::DisconnectNamedPipe(control_);
                listenControl();
            }
            return;
        }
        if (ok || err == ERROR_MORE_DATA) {
            if (!ok) drainMessage(control_, controlIo_);
            command(std::string(controlBuf_.data(), controlBuf_.data() + n));
            if (!stop_ && readControl()) return;
        }
        // The writer has closed its end: wait for the next one.
        ::DisconnectNamedPipe(control_);
        if (!stop_) listenControl();
    }

    void command(std::string word) {
        while (!word.empty() && (word.back() == '\n' || word.back() == '\r' || word.back() == ' ' ||
                                 word.back() == '\0')) {
            word.pop_back();
        }
        if (word.empty()) return;  // cmd's echo sends an empty message after the word
        if (word == "image") {
            offerTestImageNow(board_);
        } else if (word == "unplug") {
            unplugOrReplug(board_, unplugMs_);
        } else if (word == "stop") {
            stop_ = true;
        } else {
            boardEvent("unknown control word: " + word);
        }
    }

    BoardServerHooks hooks_;
    std::string path_;
    sim::SimulatedBoard& board_;
    std::uint32_t unplugMs_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    bool connected_ = false;
    PendingIo connect_;
    PendingIo read_;
    PendingIo write_;
    std::array<std::uint8_t, link::kPacketSize> requestBuf_{};
    std::optional<link::Packet> held_;
    HANDLE control_ = INVALID_HANDLE_VALUE;
    bool controlConnected_ = false;
    PendingIo controlIo_;
    std::array<char, 256> controlBuf_{};
    bool stop_ = false;
};

}  // namespace

BoardServerTexts boardServerTexts() {
    return {
        "served on a named pipe in message mode (each request one message, each answer "
        "packet one message). Connect with --device \\\\.\\pipe\\NAME.",
        "Pipe to serve the board on, \\\\.\\pipe\\NAME", "the control word unplug",
        R"(Control pipe (\\.\pipe\NAME-control, one word per message, for example
cmd /c "echo image> \\.\pipe\NAME-control"):
  image     offer a test image now (the next status reports state 0)
  unplug    unplug the board for --unplug-ms, then plug it back in; sent while the
            board is away, plug it back in at once
  stop      stop serving and exit with status 0 (Ctrl+C and Ctrl+Break as well)
)"};
}

bool serveBoard(const std::string& address, sim::SimulatedBoard& board, std::uint32_t unplugMs,
                const BoardServerHooks& hooks, std::string& error) {
    g_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_stopEvent == nullptr || !::SetConsoleCtrlHandler(onConsoleControl, TRUE)) {
        error = "cannot set up the stop event";
        return false;
    }
    Server server(address, board, unplugMs, hooks);
    return server.start(error) && server.run(error);
}

}  // namespace q70::sim
