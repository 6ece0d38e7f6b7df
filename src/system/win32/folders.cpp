#include "system/folders.hpp"

// windows.h first: the shell headers build on it.
#include <windows.h>

#include <shlobj.h>

#include <string>

#include "system/program_folder.hpp"
#include "system/win32/utf8.hpp"

namespace q70::system {

namespace fs = std::filesystem;

namespace {

fs::path localAppData() {
    // The variable first, as on Linux XDG_DATA_HOME: tests and portable set-ups move it.
    wchar_t buffer[32768];
    const DWORD n = ::GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, 32768);
    if (n > 0 && n < 32768) {
        const fs::path base(std::wstring(buffer, n));
        if (base.is_absolute()) return base;
    }
    PWSTR known = nullptr;
    fs::path result;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known))) {
        result = fs::path(known);
    }
    ::CoTaskMemFree(known);
    return result;
}

}  // namespace

bool folderIsWritable(const fs::path& folder) {
    // Access rights on Windows are lists, not mode bits: try to make a file there.
    const fs::path probe = folder / (L"q70-probe-" + std::to_wstring(::GetCurrentProcessId()));
    const HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

unsigned long currentProcessId() {
    return ::GetCurrentProcessId();
}

std::string userProgramFolder() {
    const fs::path base = localAppData();
    if (base.empty()) return {};
    return narrow((base / L"q70").lexically_normal().native());
}

}  // namespace q70::system
