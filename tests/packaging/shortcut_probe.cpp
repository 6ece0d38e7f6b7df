// The install test's view of a shortcut, as the shell reads it: prints its target and its
// working folder (expanded), whether the target's manifest declares it DPI-aware, then
// starts the target there as the shortcut would, prints the titles of the windows it
// shows, asks them to close and prints its exit status. Exits 1 when a step fails.
// Usage: shortcut_probe LNK

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "shortcut_probe: %s\n", what);
    return 1;
}

std::wstring expanded(const wchar_t* text) {
    std::wstring out(32768, L'\0');
    const DWORD n = ::ExpandEnvironmentStringsW(text, out.data(), static_cast<DWORD>(out.size()));
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

// Read by the system's own manifest parser.
std::wstring dpiAwareSetting(const std::wstring& program) {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = ::CreateActCtxW(&request);
    if (context == INVALID_HANDLE_VALUE) return L"no manifest";
    wchar_t value[64] = {};
    SIZE_T n = 0;
    if (!::QueryActCtxSettingsW(0, context, nullptr, L"dpiAware", value, 64, &n)) value[0] = 0;
    ::ReleaseActCtx(context);
    return value;
}

std::vector<HWND> shownWindowsOf(HDESK desktop, DWORD process) {
    std::pair<DWORD, std::vector<HWND>> found{process, {}};
    ::EnumDesktopWindows(
        desktop,
        [](HWND h, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(p);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(h, &owner);
            // The style bit: the null driver's desktops have no visible desktop window.
            if (owner == f->first && (::GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0) {
                f->second.push_back(h);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.second;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return fail("usage: shortcut_probe LNK");
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    wchar_t target[MAX_PATH] = {};
    wchar_t arguments[4096] = {};
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) ||
        FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link))) ||
        FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) ||
        FAILED(file->Load(argv[1], STGM_READ)) ||
        FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) ||
        FAILED(link->GetArguments(arguments, 4096)) ||
        FAILED(link->GetWorkingDirectory(folder, MAX_PATH))) {
        return fail("the shortcut could not be read");
    }
    const std::wstring program = expanded(target);
    const std::wstring workdir = expanded(folder);
    std::printf("target=%ls\nworkdir=%ls\ndpi-aware=%ls\n", program.c_str(), workdir.c_str(),
                dpiAwareSetting(program).c_str());
    std::fflush(stdout);

    // A desktop of its own: the prefix's default one may have started before wine was told
    // to use its null graphics driver.
    wchar_t desktopName[] = L"q70-shortcut-probe";
    HDESK desktop = ::CreateDesktopW(desktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktopName;
    PROCESS_INFORMATION started{};
    if (desktop == nullptr ||
        !::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workdir.empty() ? nullptr : workdir.c_str(), &startup, &started)) {
        return fail("the shortcut's target did not start");
    }
    // Up once a window shows; a moment more lets a message box from its start join it.
    std::vector<HWND> shown;
    for (int i = 0; i < 150 && shown.empty(); ++i) {
        if (::WaitForSingleObject(started.hProcess, 200) != WAIT_TIMEOUT) break;
        shown = shownWindowsOf(desktop, started.dwProcessId);
    }
    ::Sleep(1500);
    shown = shownWindowsOf(desktop, started.dwProcessId);
    wchar_t title[256];
    for (HWND h : shown) {
        ::GetWindowTextW(h, title, 256);
        std::printf("window=%ls\n", title);
        ::PostMessageW(h, WM_CLOSE, 0, 0);  // as the close box would
    }
    DWORD code = 259;
    if (::WaitForSingleObject(started.hProcess, 30000) != WAIT_OBJECT_0) {
        ::TerminateProcess(started.hProcess, 99);
    }
    ::GetExitCodeProcess(started.hProcess, &code);
    std::printf("exit=%lu\n", code);
    return 0;
}
