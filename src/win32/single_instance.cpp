#include "win32/single_instance.hpp"

namespace q70::win32 {

std::wstring instanceName(const std::wstring& executablePath) {
    const std::size_t slash = executablePath.find_last_of(L"\\/");
    std::wstring name =
        slash == std::wstring::npos ? executablePath : executablePath.substr(slash + 1);
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    return name;
}

SingleInstance::~SingleInstance() {
    if (semaphore_ != nullptr) ::CloseHandle(semaphore_);
}

bool SingleInstance::acquire() {
    HANDLE semaphore = ::CreateSemaphoreW(nullptr, 1, 1, name_.c_str());
    if (semaphore != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(semaphore);
        // A copy still starting has no marked window yet: this one ends silently.
        if (HWND first = findMarkedWindow(name_)) raiseWindow(first);
        return false;
    }
    // A semaphore that cannot be made for another reason lets this copy run.
    semaphore_ = semaphore;
    return true;
}

void SingleInstance::markWindow(HWND window) const {
    ::SetPropW(window, name_.c_str(), reinterpret_cast<HANDLE>(1));
}

void SingleInstance::unmarkWindow(HWND window) const {
    ::RemovePropW(window, name_.c_str());
}

HWND findMarkedWindow(const std::wstring& name) {
    for (HWND w = ::GetWindow(::GetDesktopWindow(), GW_CHILD); w != nullptr && ::IsWindow(w);
         w = ::GetWindow(w, GW_HWNDNEXT)) {
        if (::GetPropW(w, name.c_str()) != nullptr) return w;
    }
    return nullptr;
}

void raiseWindow(HWND window) {
    if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
    ::SetForegroundWindow(::GetLastActivePopup(window));
}

}  // namespace q70::win32
