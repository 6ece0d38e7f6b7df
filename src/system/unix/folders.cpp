#include "system/folders.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "system/program_folder.hpp"

namespace q70::system {

namespace fs = std::filesystem;

namespace {

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0) size = 16384;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

bool folderIsWritable(const fs::path& folder) {
    return ::access(folder.c_str(), W_OK) == 0;
}

unsigned long currentProcessId() {
    return static_cast<unsigned long>(::getpid());
}

std::string userProgramFolder() {
    // A relative XDG_DATA_HOME is invalid and is ignored, as the XDG rules ask.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
        const fs::path base(xdg);
        if (base.is_absolute()) return (base / "q70").lexically_normal().string();
    }
    const fs::path home(homeFolder());
    if (home.empty() || !home.is_absolute()) return {};
    return (home / ".local" / "share" / "q70").lexically_normal().string();
}

}  // namespace q70::system
