#include "win32/test_image_window.hpp"

#include <utility>

#include "win32/dialog_template_builder.hpp"

namespace q70::win32 {

TestImageWindow::TestImageWindow(const testimage::TestImage& picture,
                                 std::function<bool(HWND)> mayClose)
    : picture_(picture), mayClose_(std::move(mayClose)) {}

void TestImageWindow::run(HWND owner, std::optional<POINT> topLeft) {
    topLeft_ = topLeft;
    const std::vector<std::uint8_t> tmpl = buildTestImageTemplate();
    ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr),
                              reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), owner, &procedure,
                              reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
}

INT_PTR CALLBACK TestImageWindow::procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<TestImageWindow*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
    }
    auto* self = reinterpret_cast<TestImageWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->handle(message, wParam, lParam) : FALSE;
}

INT_PTR TestImageWindow::handle(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG: {
            RECT r{};
            ::GetWindowRect(window_, &r);
            POINT at{};
            if (topLeft_) {
                at = *topLeft_;
            } else if (HWND owner = ::GetWindow(window_, GW_OWNER)) {
                RECT o{};
                ::GetWindowRect(owner, &o);
                at = {o.left + ((o.right - o.left) - (r.right - r.left)) / 2,
                      o.top + ((o.bottom - o.top) - (r.bottom - r.top)) / 2};
            }
            ::SetWindowPos(window_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            if (onShown) ::PostMessageW(window_, WM_APP, 0, 0);
            return TRUE;
        }
        case WM_APP:
            if (onShown) onShown(*this);
            return TRUE;
        case WM_PAINT:
            paint();
            return TRUE;
        case WM_SIZE:
            // The picture follows the height: everything moves on any size change.
            ::InvalidateRect(window_, nullptr, TRUE);
            ::UpdateWindow(window_);
            return TRUE;
        case WM_CLOSE:
            requestClose();
            return TRUE;
        case WM_COMMAND:
            // Esc goes through the save question like the close box, so that the picture
            // is never dropped without being offered for saving.
            if (LOWORD(wParam) == IDCANCEL) requestClose();
            return TRUE;
        default:
            return FALSE;
    }
}

void TestImageWindow::requestClose() {
    if (mayClose_ && !mayClose_(window_)) return;
    ::EndDialog(window_, IDCANCEL);
}

void TestImageWindow::paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(window_, &ps);
    lastDraw_ = {};
    RECT client{};
    ::GetClientRect(window_, &client);
    const auto where = testimage::drawGeometry(picture_.bitmapWidth(), picture_.bitmapHeight(), 0,
                                               0, client.right, client.bottom);
    const auto dib = picture_.dib();
    const auto bits = picture_.bits();
    if (where && dib.size() >= testimage::kDibHeadSize && !bits.empty()) {
        // Halftone averages when the picture is shrunk, so that thin lines show as grey
        // instead of dropping out.
        ::SetStretchBltMode(dc, HALFTONE);
        ::SetBrushOrgEx(dc, 0, 0, nullptr);
        const int drawn = ::StretchDIBits(
            dc, where->x, where->y, where->width, where->height, 0, 0,
            static_cast<int>(picture_.bitmapWidth()), static_cast<int>(picture_.bitmapHeight()),
            bits.data(), reinterpret_cast<const BITMAPINFO*>(dib.data()), DIB_RGB_COLORS, SRCCOPY);
        if (drawn > 0) {  // scan lines drawn
            lastDraw_ = {where->x, where->y, where->x + where->width, where->y + where->height};
        }
    }
    ::EndPaint(window_, &ps);
}

}  // namespace q70::win32
