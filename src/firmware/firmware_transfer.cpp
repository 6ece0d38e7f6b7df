#include "firmware/firmware_transfer.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "config/paths.hpp"

namespace q70::firmware {

OpenResult FirmwareTransfer::open() {
    if (file_.is_open()) file_.close();
    file_.clear();
    chunkLength_ = 0;
    position_ = 0;
    fileLength_ = 0;
    if (filePath.size() > link::kChunkCapacity) return OpenResult::PathTooLong;

    // Only a plain file: a folder opens but reads nothing, and a device or a FIFO may
    // never end (or never let the open return).
    std::error_code ec;
    const std::filesystem::path path = config::pathFromUtf8(filePath);
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::is_regular_file(status)) return OpenResult::CannotOpen;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxFirmwareFileBytes) return OpenResult::TooLarge;

    file_.open(path, std::ios::binary);
    if (!file_.is_open()) return OpenResult::CannotOpen;

    // One pass over the file: its length, and no line too long for a chunk.
    std::vector<char> buffer(64 * 1024);
    std::uint64_t length = 0;
    std::size_t lineLength = 0;  // bytes of the current line, its line end not counted
    bool pendingCr = false;
    bool tooLong = false;
    bool zeroByte = false;
    while (file_ && length <= kMaxFirmwareFileBytes) {
        file_.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(file_.gcount());
        for (std::size_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (c == '\0') zeroByte = true;
            if (c == '\n') {
                lineLength = 0;
                pendingCr = false;
                continue;
            }
            if (pendingCr) ++lineLength;  // a CR not followed by LF is part of the line
            pendingCr = c == '\r';
            if (!pendingCr) ++lineLength;
            // The line and its line feed must fit one chunk.
            if (lineLength + 1 > link::kChunkCapacity) tooLong = true;
        }
        length += got;
    }
    // A CR that ends the file is no line end: it stays in the last line.
    if (pendingCr && lineLength + 2 > link::kChunkCapacity) tooLong = true;
    // A read error part-way is no end of the file.
    const bool readError = file_.bad();
    const OpenResult result = readError                        ? OpenResult::CannotOpen
                              : length > kMaxFirmwareFileBytes ? OpenResult::TooLarge
                              : zeroByte                       ? OpenResult::ZeroByte
                              : tooLong                        ? OpenResult::LineTooLong
                                                               : OpenResult::Ok;
    if (result != OpenResult::Ok) {
        file_.close();
        return result;
    }
    file_.clear();
    file_.seekg(0);
    fileLength_ = length;
    return OpenResult::Ok;
}

void FirmwareTransfer::close() {
    if (file_.is_open()) file_.close();
    file_.clear();
}

bool FirmwareTransfer::readLine(std::string& line) {
    line.clear();
    std::streambuf* sb = file_.rdbuf();
    for (;;) {
        const int c = sb->sbumpc();
        if (c == std::char_traits<char>::eof()) return false;
        ++position_;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
}

void FirmwareTransfer::readNextChunk() {
    chunkLength_ = 0;
    if (!file_.is_open()) return;
    std::string line;
    for (int n = 0; n < kLinesPerChunk; ++n) {
        const std::uint64_t lineStart = position_;
        readLine(line);
        if (chunkLength_ + line.size() + 1 > chunk_.size()) {
            // Leave the line for the next chunk (only ever after a first line, since no
            // line is longer than a chunk).
            file_.rdbuf()->pubseekpos(static_cast<std::streamoff>(lineStart), std::ios::in);
            position_ = lineStart;
            break;
        }
        std::copy(line.begin(), line.end(),
                  chunk_.begin() + static_cast<std::ptrdiff_t>(chunkLength_));
        chunkLength_ += line.size();
        chunk_[chunkLength_++] = '\n';
        if (position_ >= fileLength_) break;
    }
}

std::uint64_t FirmwareTransfer::currentFileLength() {
    if (!file_.is_open()) return 0;
    std::streambuf* sb = file_.rdbuf();
    const auto here = sb->pubseekoff(0, std::ios::cur, std::ios::in);
    const auto end = sb->pubseekoff(0, std::ios::end, std::ios::in);
    sb->pubseekpos(here, std::ios::in);
    return end < 0 ? fileLength_ : static_cast<std::uint64_t>(end);
}

int progressPercent(std::uint64_t position, std::uint64_t length) {
    if (length == 0) return 100;
    const std::uint64_t p = std::min(position, length);
    // Whole hundredths and the remainder apart, so that no product overflows.
    return static_cast<int>((p / length) * 100 + (p % length) * 100 / length);
}

std::string progressText(const std::string& inProgress, int percent, const std::string& complete) {
    return inProgress + " " + std::to_string(percent) + "% " + complete;
}

}  // namespace q70::firmware
