#include "system/board_lock.hpp"

#include <cstdint>
#include <cstdio>

namespace q70::system {

std::string lockFileName(std::string_view identity) {
    // FNV-1a of the whole identity keeps apart what the readable part folds together.
    std::uint64_t hash = 14695981039346656037ull;
    std::string readable;
    for (const char c : identity) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (readable.size() < 64) readable.push_back(plain ? c : '_');
    }
    char tail[24];
    std::snprintf(tail, sizeof tail, "-%016llx.lock", static_cast<unsigned long long>(hash));
    return readable + tail;
}

std::string holderLine(const LockHolder& holder) {
    return holder.program + " " + std::to_string(holder.pid) + "\n";
}

LockHolder parseHolderLine(std::string_view text) {
    LockHolder h;
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return h;  // not written whole yet
    const std::string_view line = text.substr(0, end);
    const std::size_t space = line.rfind(' ');
    if (space == std::string_view::npos || space == 0) return h;
    unsigned long pid = 0;
    for (const char c : line.substr(space + 1)) {
        if (c < '0' || c > '9' || pid > 100'000'000ul) return h;
        pid = pid * 10 + static_cast<unsigned long>(c - '0');
    }
    h.program = std::string(line.substr(0, space));
    h.pid = pid;
    return h;
}

std::string describeHolder(const LockHolder& holder) {
    if (holder.program.empty()) return "another program";
    const std::string pid = "PID " + std::to_string(holder.pid);
    if (holder.pid == thisProcess().pid) return "this same " + holder.program + " (" + pid + ")";
    if (holder.program.rfind("q70uty", 0) == 0)
        return "the window (" + holder.program + ", " + pid + ")";
    if (holder.program == "q70ctl") return "another q70ctl (" + pid + ")";
    return holder.program + " (" + pid + ")";
}

}  // namespace q70::system
