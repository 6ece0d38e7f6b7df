#include "firmware/srecord.hpp"

namespace q70::firmware {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<SRecord> parseSRecord(std::string_view line, SRecordProblem* why) {
    const auto refuse = [why](SRecordProblem p) -> std::optional<SRecord> {
        if (why != nullptr) *why = p;
        return std::nullopt;
    };
    if (why != nullptr) *why = SRecordProblem::None;
    if (line.size() < 2 || (line[0] != 'S' && line[0] != 's')) {
        return refuse(SRecordProblem::NoRecord);
    }
    if (line[1] < '0' || line[1] > '9') return refuse(SRecordProblem::NoRecord);
    const std::string_view hex = line.substr(2);
    if (hex.size() % 2 != 0) return refuse(SRecordProblem::NotHex);

    std::vector<std::uint8_t> raw;
    raw.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexValue(hex[i]);
        const int lo = hexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return refuse(SRecordProblem::NotHex);
        raw.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    // raw: count, count - 1 bytes of address and data, checksum.
    if (raw.empty()) return refuse(SRecordProblem::CountMismatch);
    const std::size_t count = raw[0];
    if (count < 1 || raw.size() != count + 1) return refuse(SRecordProblem::CountMismatch);
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += raw[i];
    if (static_cast<std::uint8_t>(~sum & 0xFF) != raw[count]) {
        return refuse(SRecordProblem::Checksum);
    }

    SRecord record;
    record.type = line[1];
    record.bytes.assign(raw.begin() + 1, raw.begin() + static_cast<std::ptrdiff_t>(count));
    return record;
}

std::string headerText(const SRecord& s0) {
    std::string text;
    for (std::size_t i = 2; i < s0.bytes.size(); ++i) {
        const std::uint8_t b = s0.bytes[i];
        if (b == 0) break;
        if (b >= 0x20 && b < 0x7F) text.push_back(static_cast<char>(b));
    }
    return text;
}

}  // namespace q70::firmware
