// Any file picked for a firmware update, chunked as the update sends it: every chunk fits
// the chunk store and its request the 1024-byte packet, holds whole lines each ended by one
// line feed, the transfer reaches the end in a bounded number of chunks, and the chunks
// together are the file's text (CR LF read as LF, a last line without a line end given
// one). A file with a line that no chunk can hold, or with a 0 byte (which would cut its
// request short), is refused before anything is sent. The S-record check q70ctl makes of
// the same bytes first agrees with the transfer: a file it passes is taken whole, and
// each of its lines is a record the board parses.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "firmware/firmware_check.hpp"
#include "firmware/firmware_transfer.hpp"
#include "firmware/srecord.hpp"
#include "fuzz_check.hpp"
#include "link/protocol.hpp"

namespace {

// The lines of the file as a text-mode reader sees them, each ended by one line feed.
std::string expectedText(std::string_view file, bool& lineTooLong) {
    std::string out;
    lineTooLong = false;
    while (!file.empty()) {
        const std::size_t eol = file.find('\n');
        std::string_view line = file.substr(0, eol);
        const bool ended = eol != std::string_view::npos;
        file.remove_prefix(ended ? eol + 1 : file.size());
        if (ended && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() + 1 > q70::link::kChunkCapacity) lineTooLong = true;
        out.append(line);
        out.push_back('\n');
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace q70;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static const std::string path = (fuzz::scratchFolder() / "fw.mot").string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }

    bool lineTooLong = false;
    const std::string expected = expectedText(text, lineTooLong);

    const firmware::FirmwareCheck check = firmware::checkSRecords(text);
    const auto lines = static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    FUZZ_CHECK(check.badLines.size() <= firmware::kMaxListedLines);
    FUZZ_CHECK(check.badLineCount >= check.badLines.size());
    for (std::size_t i = 0; i < check.badLines.size(); ++i) {
        FUZZ_CHECK(check.badLines[i].line >= 1 && check.badLines[i].line <= lines);
        FUZZ_CHECK(i == 0 || check.badLines[i].line > check.badLines[i - 1].line);
        FUZZ_CHECK(!check.badLines[i].why.empty());
    }
    // No record is too long for a chunk: a long line is always a bad one as well.
    for (const std::uint64_t l : check.longLines) {
        FUZZ_CHECK(check.badLineCount > 0 && l >= 1 && l <= lines);
    }
    FUZZ_CHECK(check.dataBytes <= size / 2);
    FUZZ_CHECK(check.dataBytes == 0 || check.firstAddress <= check.lastAddress);
    FUZZ_CHECK(!check.valid() || check.records > 0);

    firmware::FirmwareTransfer transfer;
    transfer.filePath = path;
    const firmware::OpenResult opened = transfer.open();
    if (check.valid()) {
        FUZZ_CHECK(opened == firmware::OpenResult::Ok);
        // Line by line as the update sends them, each is a record the board takes.
        std::string_view rest = expected;
        while (!rest.empty()) {
            const std::size_t eol = rest.find('\n');
            const std::string_view line = rest.substr(0, eol);
            rest.remove_prefix(eol + 1);
            FUZZ_CHECK(line.empty() || firmware::parseSRecord(line).has_value());
        }
    }
    if (text.find('\0') != std::string_view::npos) {
        FUZZ_CHECK(opened == firmware::OpenResult::ZeroByte);
        return 0;
    }
    if (lineTooLong) {
        FUZZ_CHECK(opened == firmware::OpenResult::LineTooLong);
        return 0;
    }
    FUZZ_CHECK(opened == firmware::OpenResult::Ok);
    FUZZ_CHECK(transfer.fileLength() == size);

    std::string sent;
    std::uint64_t lastPosition = 0;
    int lastPercent = 0;
    // Each chunk but the last carries at least one line of at least one byte.
    for (std::size_t n = 0;; ++n) {
        FUZZ_CHECK(n <= size + 1);
        transfer.readNextChunk();
        const auto chunk = transfer.chunk();
        FUZZ_CHECK(!chunk.empty() && chunk.size() <= link::kChunkCapacity);
        FUZZ_CHECK(chunk.back() == '\n');
        FUZZ_CHECK(std::count(chunk.begin(), chunk.end(), '\n') <= firmware::kLinesPerChunk);
        FUZZ_CHECK(transfer.position() >= lastPosition && transfer.position() <= size);
        lastPosition = transfer.position();

        const link::Packet packet = link::encodeFirmwareData(
            transfer.chunkReachesEnd() ? link::firmware_sub::LastChunk : link::firmware_sub::Chunk,
            chunk);
        FUZZ_CHECK(!packet.empty() && packet.size <= link::kPacketSize);

        const int percent = firmware::progressPercent(transfer.position(), transfer.fileLength());
        FUZZ_CHECK(percent >= lastPercent && percent <= 100);
        lastPercent = percent;

        sent.append(chunk.begin(), chunk.end());
        if (transfer.chunkReachesEnd()) break;
    }
    FUZZ_CHECK(lastPercent == 100);
    // An empty file still sends its one line feed, as reading at the end does.
    FUZZ_CHECK(sent == (size == 0 ? std::string("\n") : expected));
    return 0;
}
