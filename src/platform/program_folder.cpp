#include "platform/program_folder.hpp"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

#include "config/paths.hpp"

namespace q70::platform {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return content;
}

bool sameContent(const fs::path& a, const fs::path& b) {
    std::error_code ec1;
    std::error_code ec2;
    if (fs::file_size(a, ec1) != fs::file_size(b, ec2) || ec1 || ec2) return false;
    const auto x = readFile(a);
    const auto y = readFile(b);
    return x && y && *x == *y;
}

// Written beside the target and renamed over it, so a second copy of the program starting
// at the same moment, or a full disk, never leaves a half-written file behind.
bool copyReplacing(const fs::path& source, const fs::path& target) {
    std::error_code ec;
    fs::path temp = target;
    temp += ".seed" + std::to_string(::getpid());
    if (!fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec)) {
        fs::remove(temp, ec);
        return false;
    }
    // The installed copies may be read-only; the user's own must take a language switch.
    fs::permissions(temp, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add,
                    ec);
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

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

// The Loc/<language>/<name> file that `active` is an unchanged copy of, relative to `folder`;
// empty when the user's file matches none.
fs::path languageSourceOf(const fs::path& folder, const fs::path& active, const fs::path& name) {
    std::error_code ec;
    if (!fs::is_regular_file(active, ec)) return {};
    for (fs::directory_iterator it(folder / config::kLocFolderName, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path candidate = it->path() / name;
        if (sameContent(active, candidate)) return candidate.lexically_relative(folder);
    }
    return {};
}

}  // namespace

bool isSharedFolder(const std::string& executableFolder) {
    std::error_code ec;
    if (fs::exists(fs::path(executableFolder) / kInstalledMarkerName, ec)) return true;
    return ::access(executableFolder.c_str(), W_OK) != 0;
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

bool seedProgramFolder(const std::string& installedFolder, const std::string& userFolder) {
    const fs::path from(installedFolder);
    const fs::path to(userFolder);
    std::error_code ec;
    fs::create_directories(to, ec);
    if (!fs::is_directory(to, ec)) return false;

    const std::array<fs::path, 2> activeNames{fs::path(config::kIniFileName),
                                              fs::path(config::kHelpFileName)};
    // Judged before Loc/ changes: which language file each active file is a copy of.
    std::array<fs::path, 2> activeSources;
    for (std::size_t i = 0; i < activeNames.size(); ++i) {
        activeSources[i] = languageSourceOf(to, to / activeNames[i], activeNames[i]);
    }

    bool ok = true;
    std::vector<fs::path> replaced;
    const fs::path fromLoc = from / config::kLocFolderName;
    for (fs::recursive_directory_iterator it(fromLoc, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc)) continue;
        const fs::path relative = it->path().lexically_relative(from);
        const fs::path target = to / relative;
        const bool existed = fs::exists(target, fileEc);
        if (existed && sameContent(it->path(), target)) continue;
        fs::create_directories(target.parent_path(), fileEc);
        if (!copyReplacing(it->path(), target)) {
            ok = false;
        } else if (existed) {
            replaced.push_back(relative);
        }
    }

    for (std::size_t i = 0; i < activeNames.size(); ++i) {
        const fs::path target = to / activeNames[i];
        if (!fs::exists(target, ec)) {
            if (fs::exists(from / activeNames[i], ec) &&
                !copyReplacing(from / activeNames[i], target)) {
                ok = false;
            }
        } else if (!activeSources[i].empty() && std::find(replaced.begin(), replaced.end(),
                                                          activeSources[i]) != replaced.end()) {
            if (!copyReplacing(to / activeSources[i], target)) ok = false;
        }
    }
    return ok;
}

std::string resolveProgramFolder(const std::string& executableFolder) {
    if (!isSharedFolder(executableFolder)) return executableFolder;
    const std::string user = userProgramFolder();
    if (user.empty()) return executableFolder;
    std::error_code ec;
    if (fs::equivalent(user, executableFolder, ec)) return executableFolder;
    seedProgramFolder(executableFolder, user);
    if (!fs::is_directory(user, ec)) return executableFolder;
    return user;
}

}  // namespace q70::platform
