#pragma once
// One running copy per executable name: a named semaphore marks the running copy, and a
// window property of the same name marks its main window, by which a later copy finds it,
// restores it and brings it to the front before ending.

#include <windows.h>

#include <string>

namespace q70::win32 {

// The executable's file name without folder and extension ("q70uty").
std::wstring instanceName(const std::wstring& executablePath);

class SingleInstance {
  public:
    explicit SingleInstance(std::wstring name) : name_(std::move(name)) {}
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True for the first copy. A later copy raises the first one's window (when it has one
    // yet) and answers false.
    bool acquire();

    // The main window's mark, set on creation and removed on destruction.
    void markWindow(HWND window) const;
    void unmarkWindow(HWND window) const;

    const std::wstring& name() const { return name_; }

  private:
    std::wstring name_;
    HANDLE semaphore_ = nullptr;
};

// The first top-level window carrying the property `name`, or nullptr.
HWND findMarkedWindow(const std::wstring& name);
// Restores a minimised window and brings its last active popup (a message box, a
// test-image window, or the window itself) to the front.
void raiseWindow(HWND window);

}  // namespace q70::win32
