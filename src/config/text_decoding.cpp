#include "config/text_decoding.hpp"

#include <algorithm>
#include <cstdint>

#include "config/code_page_tables.hpp"

namespace q70::config {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        // The code pages map into the Basic Multilingual Plane only.
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) {
                   return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

std::string decodeCp1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    const std::uint16_t* high = codepage::cp1252High();
    for (const char ch : bytes) {
        const auto b = static_cast<std::uint8_t>(ch);
        if (b < 0x80 || b >= 0xA0) {
            appendUtf8(out, b);
        } else {
            const std::uint16_t cp = high[b - 0x80];
            appendUtf8(out, cp == codepage::kUnmapped ? kReplacement : cp);
        }
    }
    return out;
}

// The ordinal of a trail byte among the page's trail bytes, or -1 when it is none.
int trailOrdinal(const codepage::DoubleBytePage& page, std::uint8_t b) {
    if (b >= page.trailLow1 && b <= page.trailHigh1) return b - page.trailLow1;
    if (b >= page.trailLow2 && b <= page.trailHigh2)
        return (page.trailHigh1 - page.trailLow1 + 1) + (b - page.trailLow2);
    return -1;
}

char32_t lookupPair(const codepage::DoubleBytePage& page, std::uint8_t lead, int trail) {
    const int trailCount =
        (page.trailHigh1 - page.trailLow1 + 1) + (page.trailHigh2 - page.trailLow2 + 1);
    const auto number =
        static_cast<unsigned>((lead - codepage::kFirstLeadByte) * trailCount + trail);
    const codepage::Segment* first = page.segments;
    const codepage::Segment* last = page.segments + page.segmentCount;
    const codepage::Segment* s =
        std::upper_bound(first, last, number,
                         [](unsigned n, const codepage::Segment& seg) { return n < seg.start; });
    if (s == first) return kReplacement;
    --s;
    const unsigned offset = number - s->start;
    if (offset >= s->length) return kReplacement;
    if (s->linear != 0) return static_cast<char32_t>(s->value + offset);
    return page.pool[s->value + offset];
}

std::string decodeDoubleByte(std::string_view bytes, const codepage::DoubleBytePage& page) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        if (b < 0x80) {
            appendUtf8(out, b);
            continue;
        }
        const std::uint16_t single = page.single[b - 0x80];
        if (single != codepage::kLeadByte) {
            appendUtf8(out, single == codepage::kUnmapped ? kReplacement : single);
            continue;
        }
        // A lead byte: with a trail byte the pair is one character (mapped or not); without
        // one the lead alone is replaced and the next byte read on its own.
        const int trail =
            i + 1 < bytes.size() ? trailOrdinal(page, static_cast<std::uint8_t>(bytes[i + 1])) : -1;
        if (trail < 0) {
            appendUtf8(out, kReplacement);
            continue;
        }
        appendUtf8(out, lookupPair(page, b, trail));
        ++i;
    }
    return out;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<std::uint8_t>(bytes[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        std::uint8_t lo = 0x80;
        std::uint8_t hi = 0xBF;  // allowed range of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            if (b0 == 0xE0)
                lo = 0xA0;  // no overlong forms
            else if (b0 == 0xED)
                hi = 0x9F;  // no surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            if (b0 == 0xF0)
                lo = 0x90;
            else if (b0 == 0xF4)
                hi = 0x8F;  // nothing above U+10FFFF
        } else {
            return false;
        }
        if (n - i < len) return false;
        const auto b1 = static_cast<std::uint8_t>(bytes[i + 1]);
        if (b1 < lo || b1 > hi) return false;
        for (std::size_t k = 2; k < len; ++k) {
            if ((static_cast<std::uint8_t>(bytes[i + k]) & 0xC0) != 0x80) return false;
        }
        i += len;
    }
    return true;
}

std::string toUtf8(std::string_view bytes, std::string_view language) {
    if (isValidUtf8(bytes)) return std::string(bytes);
    if (equalNoCase(language, "JAPANESE")) return decodeDoubleByte(bytes, codepage::cp932());
    if (equalNoCase(language, "CHINESE")) return decodeDoubleByte(bytes, codepage::gbk());
    return decodeCp1252(bytes);
}

}  // namespace q70::config
