#include "system/board_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace q70::system {

namespace {

// A folder for lock files that nobody else may put files into: ours, and no symlink.
bool usableLockFolder(const std::string& folder, bool privateToUser) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (st.st_uid != ::getuid()) return false;
    if (privateToUser && (st.st_mode & 077) != 0) return false;
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string boardLockFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && *runtime == '/') {
        const std::string folder = std::string(runtime) + "/q70";
        if (usableLockFolder(folder, false)) return folder;
    }
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) return {};
    // The temporary folder is everybody's: the folder in it must be this user's alone.
    const std::string folder = (temp / ("q70-" + std::to_string(::getuid()))).string();
    return usableLockFolder(folder, true) ? folder : std::string();
}

LockHolder thisProcess() {
    LockHolder h;
    std::error_code ec;
    h.program = std::filesystem::read_symlink("/proc/self/exe", ec).filename().string();
    if (ec || h.program.empty()) h.program = "q70";
    h.pid = static_cast<unsigned long>(::getpid());
    return h;
}

BoardLock::Result BoardLock::acquire(std::string_view identity) {
    release();
    holder_ = {};
    const std::string folder = boardLockFolder();
    if (folder.empty()) return Result::Unavailable;
    const std::string path = folder + "/" + lockFileName(identity);
    // The holder removes the file when it lets go. A lock taken on a file that was removed
    // (or replaced) in the meantime holds nothing, so it is taken again on the new one.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return Result::Unavailable;
        int rc = 0;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            const bool busy = errno == EWOULDBLOCK;
            if (busy) {
                char text[256];
                const ssize_t n = ::pread(fd, text, sizeof text, 0);
                if (n > 0) holder_ = parseHolderLine({text, static_cast<std::size_t>(n)});
            }
            ::close(fd);
            return busy ? Result::Busy : Result::Unavailable;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 ||
            held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            ::close(fd);
            continue;
        }
        const std::string line = holderLine(thisProcess());
        if (::ftruncate(fd, 0) == 0) {
            [[maybe_unused]] const ssize_t n = ::pwrite(fd, line.data(), line.size(), 0);
        }
        handle_ = fd;
        path_ = path;
        return Result::Taken;
    }
    return Result::Unavailable;
}

void BoardLock::release() {
    if (handle_ == kNone) return;
    // Removed while still held, so that nobody takes a lock on a file about to go; one
    // left by a program that crashed is taken over and removed by the next.
    ::unlink(path_.c_str());
    ::close(static_cast<int>(handle_));
    handle_ = kNone;
    path_.clear();
}

}  // namespace q70::system
