#include "cli/boards.hpp"

namespace q70::cli {

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

bool addressLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::size_t i0 = i;
            const std::size_t j0 = j;
            while (i < a.size() && isDigit(a[i])) ++i;
            while (j < b.size() && isDigit(b[j])) ++j;
            // Leading zeros aside, the longer run is the larger number.
            std::string_view x = a.substr(i0, i - i0);
            std::string_view y = b.substr(j0, j - j0);
            while (x.size() > 1 && x[0] == '0') x.remove_prefix(1);
            while (y.size() > 1 && y[0] == '0') y.remove_prefix(1);
            if (x.size() != y.size()) return x.size() < y.size();
            if (x != y) return x < y;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::string fileNamePart(std::string_view address) {
    std::string s(address);
    for (char& c : s) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '.' || c == '-';
        if (!plain) c = '_';
    }
    return s;
}

namespace {
constexpr std::string_view kDeviceField = "{device}";
}

bool namesDevice(std::string_view pattern) {
    return pattern.find(kDeviceField) != std::string_view::npos;
}

std::string expandDevice(std::string_view pattern, std::string_view address) {
    std::string out;
    for (;;) {
        const std::size_t at = pattern.find(kDeviceField);
        out.append(pattern.substr(0, at));
        if (at == std::string_view::npos) return out;
        out += fileNamePart(address);
        pattern.remove_prefix(at + kDeviceField.size());
    }
}

int LinePrefixer::overflow(int c) {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    line_.push_back(static_cast<char>(c));
    if (c == '\n') emit();
    return c;
}

std::streamsize LinePrefixer::xsputn(const char* s, std::streamsize n) {
    for (std::streamsize i = 0; i < n; ++i) overflow(static_cast<unsigned char>(s[i]));
    return n;
}

void LinePrefixer::finish() {
    if (line_.empty()) return;
    line_.push_back('\n');
    emit();
}

void LinePrefixer::emit() {
    std::lock_guard lock(mutex_);
    target_ << prefix_ << line_ << std::flush;
    line_.clear();
}

}  // namespace q70::cli
