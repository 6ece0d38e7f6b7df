#pragma once
// The firmware file being sent: opened as text, read one chunk of whole lines ahead of
// the request that will carry it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>

#include "link/protocol.hpp"

namespace q70::firmware {

inline constexpr int kLinesPerChunk = 16;

enum class OpenResult {
    Ok,
    PathTooLong,  // the start request could not carry it
    CannotOpen,
    LineTooLong,  // a line that no chunk can hold: not an S-record file
    ZeroByte,     // a line holding a 0 byte, which the request would cut short
    TooLarge,     // more than any firmware file holds (or a file that never ends)
};

// The largest file taken as firmware: S-records of the board's whole flash many times over.
inline constexpr std::uint64_t kMaxFirmwareFileBytes = 64ull * 1024 * 1024;

class FirmwareTransfer {
  public:
    // The path Update opens and the start request carries: the text of the path field.
    std::string filePath;

    // Opens filePath (relative paths from the current folder), checks that every line fits
    // a chunk, and starts at position 0. A file opened earlier is closed first.
    OpenResult open();
    bool isOpen() const { return file_.is_open(); }
    void close();

    // Up to 16 lines into the chunk, each followed by one line feed; a chunk ends early
    // before a line that would not fit. At the end of the file it yields one line feed.
    void readNextChunk();

    std::span<const std::uint8_t> chunk() const { return {chunk_.data(), chunkLength_}; }
    std::uint64_t position() const { return position_; }
    std::uint64_t fileLength() const { return fileLength_; }
    bool chunkReachesEnd() const { return position_ == fileLength_; }
    // Length of the open file as it is now.
    std::uint64_t currentFileLength();

  private:
    bool readLine(std::string& line);

    std::ifstream file_;
    std::array<std::uint8_t, link::kChunkCapacity> chunk_{};
    std::size_t chunkLength_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t fileLength_ = 0;
};

// position * 100 / length without overflow; an empty file counts as complete.
int progressPercent(std::uint64_t position, std::uint64_t length);
// "<in progress> <n>% <complete>", as the progress line reads.
std::string progressText(const std::string& inProgress, int percent, const std::string& complete);

}  // namespace q70::firmware
