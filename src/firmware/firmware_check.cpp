#include "firmware/firmware_check.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "config/paths.hpp"
#include "firmware/firmware_transfer.hpp"
#include "firmware/srecord.hpp"
#include "link/protocol.hpp"

namespace q70::firmware {

namespace {

// Bytes of the address field by record type; 0 for the reserved S4.
constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

std::string hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
    return buf;
}

std::string problemText(std::string_view line, SRecordProblem p) {
    switch (p) {
        case SRecordProblem::NoRecord:
            return "not an S-record (it must start with S0 to S9)";
        case SRecordProblem::NotHex:
            return "not hex digits only, in pairs";
        case SRecordProblem::CountMismatch:
            return "the count byte does not match the length of the line";
        case SRecordProblem::Checksum: {
            // The record's bytes decode; say what the checksum should have been.
            const auto digit = [](char c) {
                return static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
            };
            unsigned sum = 0;
            unsigned last = 0;
            for (std::size_t i = 2; i + 1 < line.size(); i += 2) {
                last = digit(line[i]) * 16 + digit(line[i + 1]);
                if (i + 2 < line.size()) sum += last;
            }
            return "the checksum is " + hex2(last) + ", the record's bytes need " +
                   hex2(~sum & 0xFFu);
        }
        case SRecordProblem::None:
            break;
    }
    return {};
}

std::uint64_t bigEndian(const std::vector<std::uint8_t>& bytes, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | bytes[static_cast<std::size_t>(i)];
    return v;
}

class Checker {
  public:
    void line(std::uint64_t number, std::string_view text) {
        if (text.size() + 1 > link::kChunkCapacity && result_.longLines.size() < kMaxListedLines) {
            result_.longLines.push_back(number);
        }
        SRecordProblem problem = SRecordProblem::None;
        const std::optional<SRecord> record = parseSRecord(text, &problem);
        if (!record) {
            bad(number, problemText(text, problem));
            return;
        }
        ++result_.records;
        const int type = record->type - '0';
        const int width = kAddressBytes[type];
        if (width == 0) {
            bad(number, "S4 is a reserved record type");
            return;
        }
        if (record->bytes.size() < static_cast<std::size_t>(width)) {
            bad(number, "too short for its " + std::to_string(width) + "-byte address");
            return;
        }
        const std::uint64_t address = bigEndian(record->bytes, width);
        const std::size_t data = record->bytes.size() - static_cast<std::size_t>(width);
        switch (type) {
            case 0:
                if (!headerSeen_) result_.header = headerText(*record);
                headerSeen_ = true;
                break;
            case 1:
            case 2:
            case 3:
                if (result_.startAddress) {
                    bad(number, "a data record after the end record");
                    return;
                }
                ++dataRecords_;
                if (data > 0) {
                    const std::uint64_t last = address + data - 1;
                    result_.firstAddress =
                        result_.dataBytes == 0 ? address : std::min(result_.firstAddress, address);
                    result_.lastAddress =
                        result_.dataBytes == 0 ? last : std::max(result_.lastAddress, last);
                    result_.dataBytes += data;
                }
                break;
            case 5:
            case 6:
                if (data != 0 || address != dataRecords_ % (std::uint64_t{1} << (8 * width))) {
                    bad(number, "counts " + std::to_string(address) + " data records where " +
                                    std::to_string(dataRecords_) + " come before it");
                }
                break;
            default:  // 7, 8, 9
                if (result_.startAddress) {
                    bad(number, "a second end record");
                } else if (data != 0) {
                    bad(number, "an end record with data");
                } else {
                    result_.startAddress = address;
                }
                break;
        }
    }

    FirmwareCheck finish() { return std::move(result_); }

  private:
    void bad(std::uint64_t number, std::string why) {
        if (result_.badLines.size() < kMaxListedLines)
            result_.badLines.push_back({number, std::move(why)});
        ++result_.badLineCount;
    }

    FirmwareCheck result_;
    bool headerSeen_ = false;
    std::uint64_t dataRecords_ = 0;
};

}  // namespace

FirmwareCheck checkSRecords(std::string_view text) {
    Checker checker;
    std::uint64_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        // One CR before the line end is part of it, as in the update and on the board.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        checker.line(number, line);
    }
    return checker.finish();
}

bool readFirmwareFile(const std::string& path, std::string& text, std::string& error) {
    text.clear();
    std::error_code ec;
    const std::filesystem::path p = config::pathFromUtf8(path);
    // Only a plain file: a device or a FIFO may never end.
    if (!std::filesystem::is_regular_file(p, ec)) {
        error = "cannot read " + path + (ec ? ": " + ec.message() : ": not a plain file");
        return false;
    }
    const std::uintmax_t size = std::filesystem::file_size(p, ec);
    if (ec || size > kMaxFirmwareFileBytes) {
        error = path + (ec ? ": " + ec.message() : " is larger than any firmware file");
        return false;
    }
    std::ifstream in(p, std::ios::binary);
    text.resize(static_cast<std::size_t>(size));
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!in || static_cast<std::uintmax_t>(in.gcount()) != size) {
        error = "cannot read " + path;
        text.clear();
        return false;
    }
    return true;
}

}  // namespace q70::firmware
