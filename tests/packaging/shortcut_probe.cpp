// What the Windows shell makes of a shortcut, for the install test: its target, arguments
// and working folder (expanded, and whether the user may write there), the DPI awareness
// the target's manifest declares, and with --start SECONDS the program started as the
// shortcut starts it, the titles of its windows once they are up, and its exit status
// after it was asked to close.
//
// Usage: shortcut_probe LNK [--start SECONDS]
// Prints NAME=VALUE lines; exits 1 with a message on stderr when a step fails.

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "shortcut_probe: %s (error %lu)\n", what, ::GetLastError());
    return 1;
}

void print(const char* name, const std::wstring& value) {
    std::printf("%s=%ls\n", name, value.c_str());
}

std::wstring expanded(const std::wstring& text) {
    std::wstring out(32768, L'\0');
    const DWORD n =
        ::ExpandEnvironmentStringsW(text.c_str(), out.data(), static_cast<DWORD>(out.size()));
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

bool writable(const std::wstring& folder) {
    const std::wstring probe =
        folder + L"\\q70-probe-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

// The manifest embedded in the program, read by the system's own manifest parser.
std::wstring declaredDpiAwareness(const std::wstring& program) {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = ::CreateActCtxW(&request);
    if (context == INVALID_HANDLE_VALUE) return L"no-manifest";
    wchar_t value[64] = {};
    SIZE_T written = 0;
    const bool found =
        ::QueryActCtxSettingsW(0, context, nullptr, L"dpiAware", value, 64, &written) != FALSE;
    ::ReleaseActCtx(context);
    return found && value[0] != L'\0' ? value : L"none";
}

struct Windows {
    DWORD process;
    std::vector<HWND> found;
};

std::vector<HWND> visibleWindowsOf(HDESK desktop, DWORD process) {
    Windows w{process, {}};
    ::EnumDesktopWindows(
        desktop,
        [](HWND h, LPARAM p) -> BOOL {
            auto* windows = reinterpret_cast<Windows*>(p);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(h, &owner);
            // The style, not IsWindowVisible: a new desktop under wine's null driver has
            // no visible desktop window for the test to pass through.
            const bool shown = (::GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0;
            if (owner == windows->process && shown) windows->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&w));
    return w.found;
}

std::wstring title(HWND h) {
    wchar_t text[256] = {};
    ::GetWindowTextW(h, text, 256);
    return text;
}

int start(const std::wstring& target, const std::wstring& arguments, const std::wstring& folder,
          DWORD seconds) {
    // A desktop of its own: the prefix's default one may have started before wine was told
    // to use its null graphics driver.
    wchar_t desktopName[] = L"q70-shortcut-probe";
    HDESK desktop = ::CreateDesktopW(desktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desktop == nullptr) return fail("no desktop for the program");
    std::wstring commandLine = L"\"" + target + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktopName;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(target.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        return fail("the shortcut's target did not start");
    }
    ::CloseHandle(process.hThread);

    // Up once a window shows; a moment more lets a message box from its start join it.
    const DWORD deadline = ::GetTickCount() + seconds * 1000;
    std::vector<HWND> shown;
    while (shown.empty() && ::GetTickCount() < deadline &&
           ::WaitForSingleObject(process.hProcess, 200) == WAIT_TIMEOUT) {
        shown = visibleWindowsOf(desktop, process.dwProcessId);
    }
    if (shown.empty()) {
        ::TerminateProcess(process.hProcess, 99);
        return fail("the program showed no window");
    }
    ::Sleep(1500);
    shown = visibleWindowsOf(desktop, process.dwProcessId);
    for (HWND h : shown) print("window", title(h));

    // As the close box would: every window of it asked to close.
    for (HWND h : shown) ::PostMessageW(h, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process.hProcess, seconds * 1000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 99);
        return fail("the program did not end when asked to close");
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit=%lu\n", code);
    ::CloseHandle(process.hProcess);
    ::CloseDesktop(desktop);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && !(argc == 4 && std::wstring(argv[2]) == L"--start")) {
        std::fprintf(stderr, "usage: shortcut_probe LNK [--start SECONDS]\n");
        return 2;
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return fail("no COM");
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link))) ||
        FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) ||
        FAILED(file->Load(argv[1], STGM_READ))) {
        return fail("the shortcut could not be read");
    }
    std::wstring target(MAX_PATH, L'\0');
    std::wstring arguments(4096, L'\0');
    std::wstring folder(MAX_PATH, L'\0');
    link->GetPath(target.data(), MAX_PATH, nullptr, SLGP_RAWPATH);
    link->GetArguments(arguments.data(), static_cast<int>(arguments.size()));
    link->GetWorkingDirectory(folder.data(), MAX_PATH);
    target = expanded(target.c_str());
    arguments.resize(std::wstring(arguments.c_str()).size());
    const std::wstring rawFolder = folder.c_str();
    folder = expanded(rawFolder);
    file->Release();
    link->Release();

    print("target", target);
    print("target-exists",
          ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES ? L"yes" : L"no");
    print("arguments", arguments);
    print("workdir", rawFolder);
    print("workdir-expanded", folder);
    print("workdir-writable", writable(folder) ? L"yes" : L"no");
    print("dpi-aware", declaredDpiAwareness(target));
    std::fflush(stdout);
    if (argc == 4) return start(target, arguments, folder, std::wcstoul(argv[3], nullptr, 10));
    return 0;
}
