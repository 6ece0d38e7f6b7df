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

std::string lineEscaped(std::string_view bytes) {
    std::string out;
    const auto hex = [&](unsigned char b) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02x", b);
        out += buf;
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const bool c1 = b == 0xC2 && i + 1 < bytes.size() &&
                        static_cast<unsigned char>(bytes[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(bytes[i + 1]) <= 0x9F;
        if (b == '\\') {
            out += "\\\\";
        } else if (b == '\n') {
            out += "\\n";
        } else if (b == '\r') {
            out += "\\r";
        } else if (b == '\t') {
            out += "\\t";
        } else if (b < 0x20 || b == 0x7F) {
            hex(b);
        } else if (c1) {
            hex(b);
            hex(static_cast<unsigned char>(bytes[++i]));
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

void Record::foreignText(std::string name, std::string value) {
    fields_.push_back({std::move(name), Kind::ForeignText, std::move(value), 0, {}, {}});
}

void Record::text(std::string name, std::string value) {
    fields_.push_back({std::move(name), Kind::Text, std::move(value), 0, {}, {}});
}

void Record::number(std::string name, std::int64_t value) {
    fields_.push_back({std::move(name), Kind::Number, {}, value, {}, {}});
}

void Record::flag(std::string name, bool value) {
    fields_.push_back({std::move(name), Kind::Flag, {}, value ? 1 : 0, {}, {}});
}

void Record::null(std::string name) {
    fields_.push_back({std::move(name), Kind::Null, {}, 0, {}, {}});
}

void Record::numbers(std::string name, const std::vector<std::int64_t>& values) {
    fields_.push_back({std::move(name), Kind::Numbers, {}, 0, values, {}});
}

void Record::object(std::string name, const Record& inner) {
    fields_.push_back({std::move(name), Kind::Object, {}, 0, {}, inner.fields_});
}

void Record::append(const Record& other) {
    fields_.insert(fields_.end(), other.fields_.begin(), other.fields_.end());
}

void Record::printLines(std::ostream& out, const std::vector<Field>& fields,
                        const std::string& prefix) {
    for (const Field& f : fields) {
        if (f.kind == Kind::Object) {
            printLines(out, f.inner, prefix + f.name + ".");
            continue;
        }
        out << prefix << f.name << '=';
        switch (f.kind) {
            case Kind::Text:
                out << f.text;
                break;
            case Kind::ForeignText:
                out << lineEscaped(f.text);
                break;
            case Kind::Number:
            case Kind::Flag:
                out << f.number;
                break;
            case Kind::Numbers:
                for (std::size_t i = 0; i < f.numbers.size(); ++i) {
                    out << (i == 0 ? "" : " ") << f.numbers[i];
                }
                break;
            case Kind::Null:
            case Kind::Object:
                break;
        }
        out << '\n';
    }
}

void Record::printLines(std::ostream& out) const {
    printLines(out, fields_, "");
    out << std::flush;
}

void Record::appendJson(std::string& out, const std::vector<Field>& fields) {
    out += '{';
    bool first = true;
    for (const Field& f : fields) {
        out += first ? "" : ", ";
        out += jsonQuoted(f.name) + ": ";
        switch (f.kind) {
            case Kind::Text:
            case Kind::ForeignText:
                out += jsonQuoted(f.text);
                break;
            case Kind::Number:
                out += std::to_string(f.number);
                break;
            case Kind::Flag:
                out += f.number != 0 ? "true" : "false";
                break;
            case Kind::Null:
                out += "null";
                break;
            case Kind::Numbers:
                out += '[';
                for (std::size_t i = 0; i < f.numbers.size(); ++i) {
                    out += (i == 0 ? "" : ", ") + std::to_string(f.numbers[i]);
                }
                out += ']';
                break;
            case Kind::Object:
                appendJson(out, f.inner);
                break;
        }
        first = false;
    }
    out += '}';
}

std::string Record::json() const {
    std::string out;
    appendJson(out, fields_);
    return out;
}

void Record::printJson(std::ostream& out) const {
    out << json() << '\n' << std::flush;
}

}  // namespace q70::cli
