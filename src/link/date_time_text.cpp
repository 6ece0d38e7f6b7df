#include "link/date_time_text.hpp"

#include <cstdio>

namespace q70::link {

namespace {

// Exactly `digits` decimal digits at `pos`.
bool readNumber(std::string_view text, std::size_t pos, std::size_t digits, int& out) {
    if (pos + digits > text.size()) return false;
    int v = 0;
    for (std::size_t i = pos; i < pos + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    out = v;
    return true;
}

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool parseDateTime(std::string_view text, DateTime& out, std::string& error) {
    DateTime dt;
    const bool shape = text.size() == 16 && text[4] == '-' && text[7] == '-' &&
                       (text[10] == 'T' || text[10] == 't') && text[13] == ':' &&
                       readNumber(text, 0, 4, dt.year) && readNumber(text, 5, 2, dt.month) &&
                       readNumber(text, 8, 2, dt.day) && readNumber(text, 11, 2, dt.hour) &&
                       readNumber(text, 14, 2, dt.minute);
    if (!shape) {
        // Appended, not concatenated: GCC 12 misjudges "literal" + std::string(...) as an
        // overlapping copy (-Wrestrict) in optimised builds.
        error.assign("expected YYYY-MM-DDTHH:MM, got \"").append(text).append("\"");
        return false;
    }
    if (dt.year < 1 || dt.month < 1 || dt.month > 12 || dt.day < 1 ||
        dt.day > daysInMonth(dt.year, dt.month) || dt.hour > 23 || dt.minute > 59) {
        error.assign("no such date and time: ").append(text);
        return false;
    }
    out = dt;
    return true;
}

std::string formatDateTime(const DateTime& dt) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d", dt.year, dt.month, dt.day, dt.hour,
                  dt.minute);
    return buf;
}

}  // namespace q70::link
