#include "config/ini_file.hpp"

#include <algorithm>
#include <climits>
#include <fstream>

#include "config/text_decoding.hpp"

namespace q70::config {

namespace {

// Language files are a few kilobytes; anything far larger is not one of ours.
constexpr std::size_t kMaxFileBytes = 4u * 1024u * 1024u;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

// One pair of matching quotes around the whole value goes.
std::string_view unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v.remove_prefix(1);
        v.remove_suffix(1);
    }
    return v;
}

}  // namespace

IniFile IniFile::load(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    // Read what the file holds, up to the cap, without setting aside the cap up front.
    std::string text;
    char block[8192];
    while (text.size() < kMaxFileBytes && in) {
        in.read(block,
                static_cast<std::streamsize>(std::min(sizeof block, kMaxFileBytes - text.size())));
        text.append(block, static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    }
    return parse(text);
}

IniFile IniFile::parse(std::string_view text) {
    IniFile ini;
    // A UTF-8 file saved by an editor may start with a byte order mark.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    Section* current = nullptr;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);

        line = trim(line);
        if (line.empty() || line.front() == ';') continue;

        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string_view::npos) continue;  // not a header; ignored
            ini.sections_.push_back({std::string(trim(line.substr(1, close - 1))), {}});
            current = &ini.sections_.back();
            continue;
        }

        const std::size_t eq = line.find('=');
        if (current == nullptr || eq == std::string_view::npos) continue;
        const std::string_view name = trim(line.substr(0, eq));
        if (name.empty()) continue;
        current->entries.push_back({std::string(name), std::string(trim(line.substr(eq + 1)))});
    }
    return ini;
}

const std::string* IniFile::find(std::string_view section, std::string_view key) const {
    // Only the first section of a name is searched, as the platform's profile reader does.
    const auto s = std::find_if(sections_.begin(), sections_.end(),
                                [&](const Section& x) { return equalNoCase(x.name, section); });
    if (s == sections_.end()) return nullptr;
    const auto e = std::find_if(s->entries.begin(), s->entries.end(),
                                [&](const Entry& x) { return equalNoCase(x.name, key); });
    return e == s->entries.end() ? nullptr : &e->value;
}

bool IniFile::hasKey(std::string_view section, std::string_view key) const {
    return find(section, key) != nullptr;
}

std::string IniFile::getString(std::string_view section, std::string_view key,
                               std::string_view defaultValue, std::size_t bufferSize) const {
    const std::size_t maxBytes = bufferSize == 0 ? 0 : bufferSize - 1;
    const std::string* value = find(section, key);
    return cutToBytes(value != nullptr ? unquote(*value) : defaultValue, maxBytes);
}

int IniFile::getInt(std::string_view section, std::string_view key, int defaultValue) const {
    const std::string* value = find(section, key);
    if (value == nullptr) return defaultValue;
    std::string_view v = unquote(*value);
    bool negative = false;
    if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    if (v.empty() || v.front() < '0' || v.front() > '9') return defaultValue;
    long long n = 0;
    for (const char c : v) {
        if (c < '0' || c > '9') break;
        n = n * 10 + (c - '0');
        if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) n = -n;
    return static_cast<int>(std::clamp<long long>(n, INT_MIN, INT_MAX));
}

std::string cutToBytes(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t cut = maxBytes;
    if (isValidUtf8(text)) {
        // Step back over continuation bytes to the start of the character being split.
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    }
    return std::string(text.substr(0, cut));
}

std::string readProfileString(const std::filesystem::path& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t bufferSize) {
    return IniFile::load(path).getString(section, key, defaultValue, bufferSize);
}

int readProfileInt(const std::filesystem::path& path, std::string_view section,
                   std::string_view key, int defaultValue) {
    return IniFile::load(path).getInt(section, key, defaultValue);
}

}  // namespace q70::config
