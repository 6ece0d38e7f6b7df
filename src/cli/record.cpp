#include "cli/record.hpp"

#include <cstdio>

namespace q70::cli {

namespace {

// Length of the well-formed UTF-8 sequence at the start of `s` (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
std::size_t utf8SequenceLength(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto continuation = [&](std::size_t i) {
        return i < s.size() && (byte(i) & 0xC0) == 0x80;
    };
    const unsigned char b = byte(0);
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) return continuation(1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        if (b == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
        if (b == 0xED && byte(1) >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        if (b == 0xF0 && byte(1) < 0x90) return 0;   // overlong
        if (b == 0xF4 && byte(1) >= 0x90) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

void appendEscape(std::string& out, unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04X", value);
    out += buf;
}

}  // namespace

std::string jsonQuoted(std::string_view bytes) {
    std::string out = "\"";
    while (!bytes.empty()) {
        const auto b = static_cast<unsigned char>(bytes[0]);
        const std::size_t n = utf8SequenceLength(bytes);
        if (n == 0) {
            appendEscape(out, b);
            bytes.remove_prefix(1);
            continue;
        }
        if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b < 0x20 || b == 0x7F) {
            appendEscape(out, b);
        } else {
            out.append(bytes.substr(0, n));
        }
        bytes.remove_prefix(n);
    }
    return out + '"';
}

void Record::text(std::string name, std::string value) {
    fields_.push_back({std::move(name), Kind::Text, std::move(value), 0});
}

void Record::number(std::string name, std::int64_t value) {
    fields_.push_back({std::move(name), Kind::Number, {}, value});
}

void Record::flag(std::string name, bool value) {
    fields_.push_back({std::move(name), Kind::Flag, {}, value ? 1 : 0});
}

void Record::printLines(std::ostream& out) const {
    for (const Field& f : fields_) {
        out << f.name << '=';
        if (f.kind == Kind::Text) {
            out << f.text;
        } else {
            out << f.number;
        }
        out << '\n';
    }
    out << std::flush;
}

void Record::printJson(std::ostream& out) const {
    out << '{';
    bool first = true;
    for (const Field& f : fields_) {
        out << (first ? "" : ", ") << jsonQuoted(f.name) << ": ";
        switch (f.kind) {
            case Kind::Text:
                out << jsonQuoted(f.text);
                break;
            case Kind::Number:
                out << f.number;
                break;
            case Kind::Flag:
                out << (f.number != 0 ? "true" : "false");
                break;
        }
        first = false;
    }
    out << "}\n" << std::flush;
}

}  // namespace q70::cli
