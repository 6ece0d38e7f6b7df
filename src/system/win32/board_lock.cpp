#include "system/board_lock.hpp"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "system/folders.hpp"
#include "system/program_folder.hpp"
#include "system/win32/utf8.hpp"

namespace q70::system {

namespace fs = std::filesystem;

namespace {

// The lock covers one byte far past the holder's line, so that the line stays readable
// for the program that is refused.
constexpr DWORD kLockOffsetHigh = 0x40000000;

bool usable(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec) && folderIsWritable(folder);
}

HANDLE asHandle(long long h) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(h));
}

}  // namespace

std::string boardLockFolder() {
    if (const std::string user = userProgramFolder(); !user.empty()) {
        const fs::path folder = fs::path(widen(user)) / L"locks";
        if (usable(folder)) return narrow(folder.native());
    }
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return {};
    const fs::path folder = fs::path(std::wstring(temp, n)) / L"q70-locks";
    return usable(folder) ? narrow(folder.native()) : std::string();
}

LockHolder thisProcess() {
    LockHolder h;
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    h.program = narrow(fs::path(path).stem().native());
    if (h.program.empty()) h.program = "q70";
    h.pid = ::GetCurrentProcessId();
    return h;
}

BoardLock::Result BoardLock::acquire(std::string_view identity) {
    release();
    holder_ = {};
    const std::string folder = boardLockFolder();
    if (folder.empty()) return Result::Unavailable;
    const fs::path path = fs::path(widen(folder)) / widen(lockFileName(identity));
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Result::Unavailable;
    OVERLAPPED where{};
    where.OffsetHigh = kLockOffsetHigh;
    if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        const DWORD err = ::GetLastError();
        const bool busy = err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING;
        if (busy) {
            char text[256];
            DWORD n = 0;
            OVERLAPPED start{};
            if (::ReadFile(h, text, sizeof text, &n, &start) && n > 0) {
                holder_ = parseHolderLine({text, n});
            }
        }
        ::CloseHandle(h);
        return busy ? Result::Busy : Result::Unavailable;
    }
    const std::string line = holderLine(thisProcess());
    OVERLAPPED start{};
    DWORD written = 0;
    ::SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    ::SetEndOfFile(h);
    ::WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, &start);
    handle_ = static_cast<long long>(reinterpret_cast<std::intptr_t>(h));
    return Result::Taken;
}

void BoardLock::release() {
    if (handle_ == kNone) return;
    // Closing the handle drops its lock.
    ::CloseHandle(asHandle(handle_));
    handle_ = kNone;
}

}  // namespace q70::system
