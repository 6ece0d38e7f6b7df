#pragma once
// The board's device file on Windows (\\.\CPYBRD0 from its driver, or \\.\pipe\NAME from
// q70-board-sim): one WriteFile per request packet, one ReadFile per answer packet.
//
// Reads are overlapped so that a read never holds the caller for longer than it asks; a
// read still outstanding when the wait ends stays outstanding, and its packet is handed
// out by a later call. A device that refuses overlapped handles is opened plainly instead
// and read by a worker thread that does the blocking calls.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/transport.hpp"
#include "system/board_lock.hpp"

namespace q70::transport {

class Win32DeviceTransport : public link::DeviceTransport {
  public:
    enum class Mode {
        Automatic,  // overlapped, falling back to the worker thread when refused
        Worker,     // always the worker thread (tests reach this path with it)
    };

    explicit Win32DeviceTransport(std::string path, Mode mode = Mode::Automatic);
    ~Win32DeviceTransport() override;
    Win32DeviceTransport(const Win32DeviceTransport&) = delete;
    Win32DeviceTransport& operator=(const Win32DeviceTransport&) = delete;

    bool open() override;
    bool isOpen() const override;
    bool writePacket(std::span<const std::uint8_t> packet) override;
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override;
    void close() override;
    const char* lastError() const override { return lastError_.c_str(); }
    link::OpenProblem openProblem() const override { return problem_; }
    link::DeviceLocation location() const override;

    // The handle is overlapped (false: the worker thread reads).
    bool overlapped() const { return overlapped_; }

  private:
    struct Worker;

    link::ReadResult readOverlapped(link::PacketBuffer& buffer, int maxWaitMs);
    link::ReadResult finishOverlappedRead(link::PacketBuffer& buffer);
    void discardRestOfMessage();

    std::string path_;
    Mode mode_;
    void* handle_;  // HANDLE; INVALID_HANDLE_VALUE when closed
    bool overlapped_ = true;
    std::string lastError_;
    link::OpenProblem problem_;
    system::BoardLock lock_;

    // Overlapped state: one read and one write structure with their events.
    struct Overlapped;
    std::unique_ptr<Overlapped> io_;
    bool readPending_ = false;
    link::PacketBuffer readBuffer_{};

    std::unique_ptr<Worker> worker_;
};

}  // namespace q70::transport
