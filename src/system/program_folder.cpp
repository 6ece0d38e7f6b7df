#include "system/program_folder.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

#include "config/paths.hpp"
#include "system/folders.hpp"

namespace q70::system {

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
    temp += ".seed" + std::to_string(currentProcessId());
    // A leftover is removed first: mingw's copy_file cannot overwrite.
    fs::remove(temp, ec);
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
    const fs::path folder = config::pathFromUtf8(executableFolder);
    std::error_code ec;
    if (fs::exists(folder / kInstalledMarkerName, ec)) return true;
    return !folderIsWritable(folder);
}

bool seedProgramFolder(const std::string& installedFolder, const std::string& userFolder) {
    const fs::path from = config::pathFromUtf8(installedFolder);
    const fs::path to = config::pathFromUtf8(userFolder);
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
    if (fs::equivalent(config::pathFromUtf8(user), config::pathFromUtf8(executableFolder), ec))
        return executableFolder;
    seedProgramFolder(executableFolder, user);
    if (!fs::is_directory(config::pathFromUtf8(user), ec)) return executableFolder;
    return user;
}

}  // namespace q70::system
