#include <windows.h>

#include <functional>

#include "support/child_process.hpp"

namespace q70::test {

namespace {

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// One argument as CommandLineToArgvW reads it back.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!line.empty()) line += L' ';
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            line.append(backslashes * 2 + 1, L'\\');
        else
            line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

HANDLE inheritable(const std::function<HANDLE(SECURITY_ATTRIBUTES*)>& make) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return make(&sa);
}

HANDLE openNul(DWORD access) {
    return inheritable([&](SECURITY_ATTRIBUTES* sa) {
        return ::CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, sa, OPEN_EXISTING,
                             0, nullptr);
    });
}

HANDLE createFile(const std::filesystem::path& p) {
    return inheritable([&](SECURITY_ATTRIBUTES* sa) {
        return ::CreateFileW(p.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, sa,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    });
}

}  // namespace

struct ChildProcess::State {
    HANDLE process = nullptr;
    HANDLE out = nullptr;  // read end of the stdout pipe
    std::string pending;
    bool launch(const std::vector<std::string>& args, HANDLE stdOut, HANDLE stdErr) {
        std::wstring line;
        for (const std::string& a : args) appendQuoted(line, widen(a));
        HANDLE in = openNul(GENERIC_READ);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in;
        si.hStdOutput = stdOut;
        si.hStdError = stdErr;
        PROCESS_INFORMATION pi{};
        const std::wstring exe = widen(args.at(0));
        const BOOL ok = ::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE,
                                         CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
        ::CloseHandle(in);
        if (!ok) return false;
        ::CloseHandle(pi.hThread);
        process = pi.hProcess;
        return true;
    }
};

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    if (state_->process != nullptr) {
        ::TerminateProcess(state_->process, 1);
        wait();
    }
    if (state_->out != nullptr) ::CloseHandle(state_->out);
}

bool ChildProcess::start(const std::vector<std::string>& args, const std::filesystem::path& out,
                         const std::filesystem::path& err) {
    HANDLE o = createFile(out);
    HANDLE e = createFile(err);
    const bool ok =
        o != INVALID_HANDLE_VALUE && e != INVALID_HANDLE_VALUE && state_->launch(args, o, e);
    if (o != INVALID_HANDLE_VALUE) ::CloseHandle(o);
    if (e != INVALID_HANDLE_VALUE) ::CloseHandle(e);
    return ok;
}

bool ChildProcess::startReadingOutput(const std::vector<std::string>& args) {
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (!::CreatePipe(&readEnd, &writeEnd, &sa, 0)) return false;
    // Only the child's end is inherited.
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = openNul(GENERIC_WRITE);
    const bool ok = state_->launch(args, writeEnd, nul);
    ::CloseHandle(writeEnd);
    ::CloseHandle(nul);
    state_->out = readEnd;
    return ok;
}

bool ChildProcess::readLine(std::string& line) {
    if (state_->out == nullptr) return false;
    for (;;) {
        const std::size_t end = state_->pending.find('\n');
        if (end != std::string::npos) {
            line = state_->pending.substr(0, end);
            state_->pending.erase(0, end + 1);
            while (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        char buf[512];
        DWORD n = 0;
        if (!::ReadFile(state_->out, buf, sizeof buf, &n, nullptr) || n == 0) return false;
        state_->pending.append(buf, n);
    }
}

int ChildProcess::wait(std::chrono::milliseconds limit) {
    if (state_->process == nullptr) return -1;
    int status = -1;
    if (::WaitForSingleObject(state_->process, static_cast<DWORD>(limit.count())) !=
        WAIT_OBJECT_0) {
        ::TerminateProcess(state_->process, 1);
        ::WaitForSingleObject(state_->process, INFINITE);
    } else {
        DWORD code = 0;
        ::GetExitCodeProcess(state_->process, &code);
        status = static_cast<int>(code);
    }
    ::CloseHandle(state_->process);
    state_->process = nullptr;
    return status;
}

bool ChildProcess::pokeBoard(const std::string& listenAddress, const std::string& word) {
    const std::wstring control = widen(listenAddress + "-control");
    // The control pipe takes one writer at a time: wait for it when it is busy.
    for (int attempt = 0; attempt < 50; ++attempt) {
        HANDLE h =
            ::CreateFileW(control.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD n = 0;
            const BOOL ok =
                ::WriteFile(h, word.data(), static_cast<DWORD>(word.size()), &n, nullptr);
            ::CloseHandle(h);
            return ok && n == word.size();
        }
        if (::GetLastError() != ERROR_PIPE_BUSY) return false;
        ::WaitNamedPipeW(control.c_str(), 100);
    }
    return false;
}

void ChildProcess::stop() {
    if (state_->process == nullptr) return;
    ::TerminateProcess(state_->process, 0);
    wait(std::chrono::seconds(10));
}

std::string boardListenAddress(const std::filesystem::path& folder) {
    return "\\\\.\\pipe\\q70-test-" + folder.filename().string();
}

std::string boardDeviceAddress(const std::filesystem::path& folder) {
    return boardListenAddress(folder);
}

}  // namespace q70::test
