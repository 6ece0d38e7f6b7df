#include "system/process_environment.hpp"

// windows.h first: the shell headers build on it.
#include <windows.h>

#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "system/win32/utf8.hpp"

namespace q70::system {

namespace fs = std::filesystem;

std::string executableFolder() {
    // Long paths are allowed: grow the buffer until the whole name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) break;
        if (n < buffer.size()) {
            const fs::path exe(std::wstring(buffer.data(), n));
            return narrow(exe.parent_path().native());
        }
        if (buffer.size() >= 32768) break;
        buffer.resize(buffer.size() * 2);
    }
    std::error_code ec;
    return narrow(fs::current_path(ec).native());
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        if (wide != nullptr) ::LocalFree(wide);
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(narrow(wide[i]));
    ::LocalFree(wide);
    return args;
}

void useBinaryStandardStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

link::DateTime localNow() {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute};
}

bool stderrIsTerminal() {
    // A console answers GetConsoleMode; a pipe or a file does not.
    DWORD mode = 0;
    const HANDLE h = ::GetStdHandle(STD_ERROR_HANDLE);
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

std::string makeTempFolder(const std::string& prefix) {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return {};
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / widen(prefix + std::to_string(rd()));
        // CreateDirectoryW fails when the name exists: the folder is ours alone.
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) return narrow(candidate.native());
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

}  // namespace q70::system
