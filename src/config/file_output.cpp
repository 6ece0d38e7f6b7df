#include "config/file_output.hpp"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "config/paths.hpp"

namespace q70::config {

namespace fs = std::filesystem;

namespace {

// Far more than any real chain of links, few enough to end a loop of them.
constexpr int kMaxLinkHops = 40;

PathKind kindOf(const fs::file_status& s) {
    switch (s.type()) {
        case fs::file_type::not_found:
            return PathKind::Missing;
        case fs::file_type::regular:
            return PathKind::RegularFile;
        case fs::file_type::directory:
            return PathKind::Folder;
        case fs::file_type::block:
        case fs::file_type::character:
            return PathKind::Device;
        case fs::file_type::fifo:
            return PathKind::Fifo;
        case fs::file_type::socket:
            return PathKind::Socket;
        default:
            return PathKind::Other;
    }
}

// The file a chain of symbolic links ends at (it may not exist yet), as an editor writes
// through a link; the path itself when it is no link.
fs::path followLinks(fs::path p) {
    std::error_code ec;
    for (int hop = 0; hop < kMaxLinkHops && fs::is_symlink(p, ec); ++hop) {
        const fs::path next = fs::read_symlink(p, ec);
        if (ec) break;
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    return p;
}

std::string errnoText(int code, const char* fallback) {
    return code != 0 ? std::error_code(code, std::generic_category()).message() : fallback;
}

// A name beside the target that nothing else uses: hidden on Unix, and never the name of
// a file the user keeps.
fs::path temporaryBeside(const fs::path& target) {
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
        fs::path temp =
            target.parent_path() / pathFromUtf8("." + utf8FromPath(target.filename()) + suffix);
        if (!fs::exists(fs::symlink_status(temp, ec))) return temp;
    }
    return {};
}

}  // namespace

PathKind outputPathKind(std::string_view utf8Path) {
    std::error_code ec;
    const fs::file_status s = fs::status(pathFromUtf8(utf8Path), ec);
    return kindOf(s);
}

std::string_view describePathKind(PathKind kind) {
    switch (kind) {
        case PathKind::Missing:
        case PathKind::RegularFile:
            return {};
        case PathKind::Folder:
            return "a folder";
        case PathKind::Device:
            return "a device";
        case PathKind::Fifo:
            return "a FIFO";
        case PathKind::Socket:
            return "a socket";
        case PathKind::Other:
            break;
    }
    return "not a regular file";
}

bool writeFileWhole(std::string_view utf8Path, std::span<const std::uint8_t> bytes,
                    std::string* error) {
    const auto failed = [&](std::string why) {
        if (error != nullptr) *error = std::move(why);
        return false;
    };
    std::error_code ec;
    const fs::path target = followLinks(pathFromUtf8(utf8Path));
    const fs::file_status status = fs::status(target, ec);
    const PathKind kind = kindOf(status);
    // Renaming over a FIFO or a device would replace the node itself.
    if (kind != PathKind::Missing && kind != PathKind::RegularFile) {
        return failed(std::string("it is ") + std::string(describePathKind(kind)));
    }
    const bool exists = kind == PathKind::RegularFile;
    // What a plain open for writing refuses, the rename must not do behind its back.
    if (exists && (status.permissions() & fs::perms::owner_write) == fs::perms::none) {
        return failed("the file is read-only");
    }

    const fs::path temp = temporaryBeside(target);
    if (temp.empty()) return failed("no free name for a temporary file");
    errno = 0;
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        if (!file) return failed(errnoText(errno, "the file cannot be created"));
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        file.flush();
        file.close();
        if (file.fail()) {
            const int code = errno;
            fs::remove(temp, ec);
            return failed(errnoText(code, "the file cannot be written"));
        }
    }
    // The replacement keeps the permissions of the file it replaces.
    if (exists) fs::permissions(temp, status.permissions(), ec);
    // rename on Unix, MoveFileExW with MOVEFILE_REPLACE_EXISTING on Windows: either way
    // the target is the old file or the new one.
    fs::rename(temp, target, ec);
    if (ec) {
        const std::string why = ec.message();
        fs::remove(temp, ec);
        return failed(why);
    }
    return true;
}

}  // namespace q70::config
