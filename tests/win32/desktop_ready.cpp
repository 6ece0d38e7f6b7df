// Exits 0 once the main window can be made on the window tests' own desktop. Right after
// a prefix is made and told to use wine's null graphics driver, the first programs to make
// a window may still get no driver at all; the tests' fixture runs this until it succeeds.

#include <windows.h>

#include "testimage/test_image.hpp"
#include "win32/win32_window_view.hpp"

int main() {
    HDESK desk = ::CreateDesktopW(L"q70-window-tests", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desk == nullptr || !::SetThreadDesktop(desk)) return 1;
    q70::testimage::TestImage image;
    q70::win32::Win32WindowView view(image, L"q70test");
    return view.create({L"MS Sans Serif", 8, "ENGLISH"}) ? 0 : 1;
}
