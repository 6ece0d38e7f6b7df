#include "transport/win32/device_transport.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "system/win32/utf8.hpp"

namespace q70::transport {

namespace {

// As for USB: a board that takes in no request for this long is not there.
constexpr DWORD kWriteWaitMs = 2000;

HANDLE asHandle(void* h) {
    return static_cast<HANDLE>(h);
}

std::string systemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n > 0 ? system::narrow(std::wstring_view(text, n)) : std::string();
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) message = "error " + std::to_string(code);
    return message;
}

bool isPipePath(const std::string& path) {
    constexpr std::string_view prefix = "\\\\.\\pipe\\";
    if (path.size() <= prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = path[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

std::string openErrorText(const std::string& path, DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return isPipePath(path) ? "No board is listening on " + path + "."
                                    : "No board at " + path +
                                          " (is it plugged in, powered on and its driver "
                                          "installed?).";
        case ERROR_PIPE_BUSY:
            return path + " is in use by another program.";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return path + " is in use by another program or not accessible.";
        default:
            return "Cannot open " + path + ": " + systemMessage(code) + ".";
    }
}

// The rest of a message longer than a packet, read away so that the next read starts at
// the next message. Answers are already in the pipe, so each read ends at once.
void drainMessage(HANDLE h, OVERLAPPED* ov) {
    std::array<std::uint8_t, link::kPacketSize> scratch{};
    for (int guard = 0; guard < 4096; ++guard) {
        DWORD n = 0;
        BOOL ok = FALSE;
        DWORD err = 0;
        if (ov != nullptr) {
            ::ResetEvent(ov->hEvent);
            ok = ::ReadFile(h, scratch.data(), static_cast<DWORD>(scratch.size()), nullptr, ov);
            err = ok ? 0 : ::GetLastError();
            if (!ok && err == ERROR_IO_PENDING) {
                if (::WaitForSingleObject(ov->hEvent, kWriteWaitMs) != WAIT_OBJECT_0) {
                    ::CancelIoEx(h, ov);
                }
                ok = ::GetOverlappedResult(h, ov, &n, TRUE);
                err = ok ? 0 : ::GetLastError();
            }
        } else {
            ok = ::ReadFile(h, scratch.data(), static_cast<DWORD>(scratch.size()), &n, nullptr);
            err = ok ? 0 : ::GetLastError();
        }
        if (ok || err != ERROR_MORE_DATA) return;
    }
}

// Device names are not case-sensitive: \\.\CPYBRD0 and \\.\cpybrd0 are one board.
std::string deviceIdentity(const std::string& path) {
    std::string id = path;
    for (char& c : id) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return id;
}

}  // namespace

struct Win32DeviceTransport::Overlapped {
    OVERLAPPED read{};
    OVERLAPPED write{};
    Overlapped() {
        read.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        write.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Overlapped() {
        if (read.hEvent != nullptr) ::CloseHandle(read.hEvent);
        if (write.hEvent != nullptr) ::CloseHandle(write.hEvent);
    }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
};

// The blocking reads of a handle that refuses overlapped I/O, done on a thread of their
// own. One read at a time; its result waits here until a readPacket call takes it.
struct Win32DeviceTransport::Worker {
    explicit Worker(HANDLE h) : handle(h) {
        thread = std::thread([this] { run(); });
    }
    ~Worker() {
        {
            std::unique_lock lock(mutex);
            stop = true;
            cancelReadLocked(lock);
        }
        changed.notify_all();
        thread.join();
        if (threadHandle != nullptr) ::CloseHandle(threadHandle);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Stops a read in flight (the handle's calls are serialised, so a write would wait for
    // it); a packet that already arrived stays for the next readPacket.
    void cancelReadLocked(std::unique_lock<std::mutex>& lock) {
        while (reading) {
            if (threadHandle != nullptr) ::CancelSynchronousIo(threadHandle);
            changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        wanted = false;
    }

    void run() {
        HANDLE self = nullptr;
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self,
                          0, FALSE, DUPLICATE_SAME_ACCESS);
        std::unique_lock lock(mutex);
        threadHandle = self;
        for (;;) {
            changed.wait(lock, [this] { return stop || (wanted && !done); });
            if (stop) return;
            reading = true;
            lock.unlock();
            link::PacketBuffer local{};
            DWORD n = 0;
            const BOOL ok =
                ::ReadFile(handle, local.data(), static_cast<DWORD>(local.size()), &n, nullptr);
            const DWORD err = ok ? 0 : ::GetLastError();
            if (!ok && err == ERROR_MORE_DATA) drainMessage(handle, nullptr);
            lock.lock();
            reading = false;
            wanted = false;
            if (ok || err == ERROR_MORE_DATA) {
                buffer = local;
                result = {link::ReadStatus::Ok, ok ? n : local.size()};
                done = true;
            } else if (err != ERROR_OPERATION_ABORTED || stop) {
                result = {link::ReadStatus::Failed, 0};
                done = true;
            }
            changed.notify_all();
        }
    }

    HANDLE handle;
    HANDLE threadHandle = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    bool wanted = false;   // a read has been asked for
    bool reading = false;  // the thread is inside ReadFile
    bool done = false;     // `result` waits to be taken
    bool stop = false;
    link::ReadResult result;
    link::PacketBuffer buffer{};
    std::thread thread;
};

Win32DeviceTransport::Win32DeviceTransport(std::string path, Mode mode)
    : path_(std::move(path)), mode_(mode), handle_(INVALID_HANDLE_VALUE) {}

Win32DeviceTransport::~Win32DeviceTransport() {
    close();
}

bool Win32DeviceTransport::isOpen() const {
    return asHandle(handle_) != INVALID_HANDLE_VALUE;
}

bool Win32DeviceTransport::open() {
    close();
    problem_ = {};
    if (lock_.acquire(deviceIdentity(path_)) == system::BoardLock::Result::Busy) {
        const system::LockHolder& holder = lock_.holder();
        problem_ = {true, holder.program, holder.pid};
        lastError_ = path_ + " is in use by " + system::describeHolder(holder) + ".";
        return false;
    }
    const std::wstring name = system::widen(path_);
    // Exclusive, as the board's driver expects: no sharing, no security attributes.
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD err = 0;
    overlapped_ = mode_ == Mode::Automatic;
    if (overlapped_) {
        h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
        err = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
        // Some drivers refuse overlapped handles outright.
        if (h == INVALID_HANDLE_VALUE &&
            (err == ERROR_INVALID_PARAMETER || err == ERROR_NOT_SUPPORTED ||
             err == ERROR_INVALID_FUNCTION)) {
            overlapped_ = false;
        }
    }
    if (!overlapped_) {
        h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr);
        err = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    }
    if (h == INVALID_HANDLE_VALUE) {
        lastError_ = openErrorText(path_, err);
        // Held by a program that takes no lock of ours.
        problem_.busy = err == ERROR_PIPE_BUSY || err == ERROR_SHARING_VIOLATION;
        lock_.release();
        return false;
    }
    // A pipe delivers bytes unless asked for messages, and answers would run together.
    if (::GetFileType(h) == FILE_TYPE_PIPE) {
        DWORD readMode = PIPE_READMODE_MESSAGE;
        if (!::SetNamedPipeHandleState(h, &readMode, nullptr, nullptr)) {
            lastError_ = path_ + " is not a message pipe: " + systemMessage(::GetLastError()) + ".";
            ::CloseHandle(h);
            lock_.release();
            return false;
        }
    }
    handle_ = h;
    if (overlapped_) {
        io_ = std::make_unique<Overlapped>();
    } else {
        worker_ = std::make_unique<Worker>(h);
    }
    readPending_ = false;
    lastError_.clear();
    return true;
}

bool Win32DeviceTransport::writePacket(std::span<const std::uint8_t> packet) {
    if (!isOpen() || packet.empty() || packet.size() > link::kPacketSize) return false;
    const HANDLE h = asHandle(handle_);
    const auto size = static_cast<DWORD>(packet.size());
    DWORD written = 0;
    if (!overlapped_) {
        {
            std::unique_lock lock(worker_->mutex);
            worker_->cancelReadLocked(lock);
        }
        const BOOL ok = ::WriteFile(h, packet.data(), size, &written, nullptr);
        return ok && written == size;
    }
    OVERLAPPED& ov = io_->write;
    ::ResetEvent(ov.hEvent);
    BOOL ok = ::WriteFile(h, packet.data(), size, nullptr, &ov);
    if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
        if (::WaitForSingleObject(ov.hEvent, kWriteWaitMs) != WAIT_OBJECT_0) ::CancelIoEx(h, &ov);
        ok = ::GetOverlappedResult(h, &ov, &written, TRUE);
    } else if (ok) {
        ok = ::GetOverlappedResult(h, &ov, &written, FALSE);
    }
    return ok && written == size;
}

link::ReadResult Win32DeviceTransport::readPacket(link::PacketBuffer& buffer, int maxWaitMs) {
    if (!isOpen()) return {link::ReadStatus::Failed, 0};
    const int waitMs = std::max(maxWaitMs, 0);
    if (overlapped_) return readOverlapped(buffer, waitMs);

    std::unique_lock lock(worker_->mutex);
    if (!worker_->done && !worker_->wanted) {
        worker_->wanted = true;
        worker_->changed.notify_all();
    }
    worker_->changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                              [this] { return worker_->done; });
    if (!worker_->done) return {link::ReadStatus::Pending, 0};
    worker_->done = false;
    const link::ReadResult r = worker_->result;
    if (r.status == link::ReadStatus::Ok)
        std::memcpy(buffer.data(), worker_->buffer.data(), r.size);
    return r;
}

link::ReadResult Win32DeviceTransport::readOverlapped(link::PacketBuffer& buffer, int maxWaitMs) {
    const HANDLE h = asHandle(handle_);
    OVERLAPPED& ov = io_->read;
    if (!readPending_) {
        ::ResetEvent(ov.hEvent);
        // Into our own buffer: the read may finish after this call has returned.
        const BOOL ok =
            ::ReadFile(h, readBuffer_.data(), static_cast<DWORD>(readBuffer_.size()), nullptr, &ov);
        const DWORD err = ok ? 0 : ::GetLastError();
        if (!ok && err != ERROR_IO_PENDING && err != ERROR_MORE_DATA) {
            return {link::ReadStatus::Failed, 0};
        }
        readPending_ = true;
    }
    if (::WaitForSingleObject(ov.hEvent, static_cast<DWORD>(maxWaitMs)) != WAIT_OBJECT_0) {
        return {link::ReadStatus::Pending, 0};
    }
    return finishOverlappedRead(buffer);
}

link::ReadResult Win32DeviceTransport::finishOverlappedRead(link::PacketBuffer& buffer) {
    const HANDLE h = asHandle(handle_);
    DWORD n = 0;
    const BOOL ok = ::GetOverlappedResult(h, &io_->read, &n, FALSE);
    const DWORD err = ok ? 0 : ::GetLastError();
    readPending_ = false;
    if (!ok && err != ERROR_MORE_DATA) return {link::ReadStatus::Failed, 0};
    if (!ok) {
        // A message longer than a packet: the link gets its first 1024 bytes, as from a
        // bulk-in endpoint, and the next read starts at the next message.
        n = static_cast<DWORD>(readBuffer_.size());
        discardRestOfMessage();
    }
    std::memcpy(buffer.data(), readBuffer_.data(), n);
    return {link::ReadStatus::Ok, n};
}

void Win32DeviceTransport::discardRestOfMessage() {
    drainMessage(asHandle(handle_), &io_->read);
}

void Win32DeviceTransport::close() {
    worker_.reset();
    const HANDLE h = asHandle(handle_);
    if (h != INVALID_HANDLE_VALUE) {
        if (readPending_) {
            // The kernel writes into readBuffer_ until the read is really over.
            DWORD n = 0;
            ::CancelIoEx(h, &io_->read);
            ::GetOverlappedResult(h, &io_->read, &n, TRUE);
        }
        ::CloseHandle(h);
    }
    readPending_ = false;
    io_.reset();
    handle_ = INVALID_HANDLE_VALUE;
    lock_.release();
}

link::DeviceLocation Win32DeviceTransport::location() const {
    if (!isOpen()) return {};
    return {path_, {}, {}, false};
}

}  // namespace q70::transport
