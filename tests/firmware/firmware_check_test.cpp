// The check of a firmware file before it is sent: what it reports of good files in every
// shape the tools write, and which lines of a damaged one it names.

#include "firmware/firmware_check.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace q70::test {
namespace {

using firmware::checkSRecords;

// A record with its count and checksum; `bytes` are address and data.
std::string record(char type, const std::vector<unsigned>& bytes, bool lower = false) {
    unsigned sum = static_cast<unsigned>(bytes.size() + 1);
    std::string line = {'S', type};
    char hex[3];
    const char* form = lower ? "%02x" : "%02X";
    std::snprintf(hex, sizeof hex, form, sum);
    line += hex;
    for (const unsigned b : bytes) {
        std::snprintf(hex, sizeof hex, form, b & 0xFF);
        line += hex;
        sum += b & 0xFF;
    }
    std::snprintf(hex, sizeof hex, form, ~sum & 0xFF);
    return line + hex;
}

TEST(FirmwareCheck, GoodFilesInEveryShapeAreReportedAlike) {
    const std::string header = record('0', {0, 0, 'V', '1', '.', '2', '1'});
    struct Case {
        const char* what;
        std::string text;
        std::uint64_t records, dataBytes, first, last;
        std::optional<std::uint64_t> start;
    };
    const Case cases[] = {
        {"S1/S9, LF",
         header + "\n" + record('1', {0x10, 0x00, 1, 2, 3}) + "\n" +
             record('1', {0x0F, 0xFE, 4, 5}) + "\n" + record('9', {0x10, 0x00}) + "\n",
         4, 5, 0x0FFE, 0x1002, 0x1000},
        {"CR LF and a trailing empty line",
         header + "\r\n" + record('1', {0x00, 0x20, 9}) + "\r\n" + record('9', {0, 0}) + "\r\n\r\n",
         3, 1, 0x20, 0x20, 0},
        {"lower-case hex, no end record, no last line end",
         header + "\n" + record('1', {0x01, 0x00, 0xAB, 0xCD}, true), 2, 2, 0x100, 0x101,
         std::nullopt},
        {"S2/S5/S8, 24-bit",
         header + "\n" + record('2', {0x01, 0x00, 0x00, 7, 7, 7}) + "\n" +
             record('2', {0x01, 0x00, 0x03, 7}) + "\n" + record('5', {0x00, 0x02}) + "\n" +
             record('8', {0x01, 0x00, 0x00}) + "\n",
         5, 4, 0x10000, 0x10003, 0x10000},
        {"S3/S7, 32-bit",
         header + "\n" + record('3', {0x80, 0x00, 0x00, 0x00, 1, 2}) + "\n" +
             record('7', {0x80, 0x00, 0x00, 0x00}) + "\n",
         3, 2, 0x80000000u, 0x80000001u, 0x80000000u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const firmware::FirmwareCheck r = checkSRecords(c.text);
        EXPECT_TRUE(r.valid());
        EXPECT_TRUE(r.badLines.empty());
        EXPECT_EQ(r.header, "V1.21");
        EXPECT_EQ(r.records, c.records);
        EXPECT_EQ(r.dataBytes, c.dataBytes);
        EXPECT_EQ(r.firstAddress, c.first);
        EXPECT_EQ(r.lastAddress, c.last);
        EXPECT_EQ(r.startAddress, c.start);
        EXPECT_TRUE(r.longLines.empty());
    }
}

TEST(FirmwareCheck, EachDamageIsNamedByItsLine) {
    const std::string good = record('1', {0x00, 0x10, 1, 2, 3, 4});
    std::string checksum = good;
    checksum.back() = checksum.back() == '0' ? '1' : '0';
    struct Case {
        const char* what;
        std::string line;  // the third line of the file
        const char* why;
    };
    const Case cases[] = {
        {"checksum", checksum, "the checksum is"},
        {"count", "S1" + good.substr(2, good.size() - 4), "count byte"},
        {"not hex", good.substr(0, 6) + "G" + good.substr(7), "hex digits"},
        {"blank inside", good + " ", "hex digits"},
        {"no record", "X" + good.substr(1), "not an S-record"},
        {"reserved type", record('4', {0, 0, 1}), "reserved"},
        {"address cut short", record('3', {0, 1}), "too short"},
        {"wrong count record", record('5', {0x00, 0x07}), "counts 7 data records"},
        {"end record with data", record('9', {0, 0, 1}), "with data"},
        {"line too long for a chunk", "S1" + std::string(900, '0'), "count byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = record('0', {0, 0, 'x'}) + "\n" + good + "\n" + c.line + "\n" +
                                 good + "\n" + record('9', {0, 0}) + "\n";
        const firmware::FirmwareCheck r = checkSRecords(text);
        EXPECT_FALSE(r.valid());
        ASSERT_EQ(r.badLines.size(), 1u);
        EXPECT_EQ(r.badLineCount, 1u);
        EXPECT_EQ(r.badLines[0].line, 3u);
        EXPECT_NE(r.badLines[0].why.find(c.why), std::string::npos) << r.badLines[0].why;
    }
    EXPECT_EQ(checkSRecords("S1" + std::string(900, '0') + "\n").longLines,
              std::vector<std::uint64_t>{1});
}

TEST(FirmwareCheck, TheFirstBadLinesAreListedAndAllCounted) {
    std::string text;
    for (int i = 0; i < 50; ++i) text += (i % 2 == 0 ? "S1garbage" : record('1', {0, 0, 1})) + "\n";
    const firmware::FirmwareCheck r = checkSRecords(text);
    EXPECT_EQ(r.badLineCount, 25u);
    ASSERT_EQ(r.badLines.size(), firmware::kMaxListedLines);
    EXPECT_EQ(r.badLines[0].line, 1u);
    EXPECT_EQ(r.badLines[1].line, 3u);
    // A data record after the end record, and a file of nothing, are no firmware either.
    EXPECT_FALSE(checkSRecords(record('9', {0, 0}) + "\n" + record('1', {0, 0, 1})).valid());
    EXPECT_FALSE(checkSRecords("").valid());
    EXPECT_FALSE(checkSRecords("\r\n\n").valid());
}

}  // namespace
}  // namespace q70::test
