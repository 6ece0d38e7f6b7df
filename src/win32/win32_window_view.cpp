#include "win32/win32_window_view.hpp"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <array>
#include <utility>

#include "app/window_placement.hpp"
#include "system/win32/utf8.hpp"
#include "win32/dialog_font.hpp"
#include "win32/test_image_window.hpp"
#include "window/control_ids.hpp"

namespace q70::win32 {

using system::narrow;
using system::widen;

namespace {

namespace id = window::id;

// The board's own text (its firmware version) on one line, as plain text: a control
// character shows as its picture (U+2400 on, U+2421 for DEL), never as a line break that
// pushes the label's neighbour away, and "&" stays itself instead of marking a mnemonic.
std::wstring boardTextShown(const std::wstring& text) {
    std::wstring shown;
    for (const wchar_t c : text) {
        if (c < 0x20) {
            shown += static_cast<wchar_t>(0x2400 + c);
        } else if (c == 0x7F) {
            shown += static_cast<wchar_t>(0x2421);
        } else {
            if (c == L'&') shown += L'&';
            shown += c;
        }
    }
    return shown;
}

// Posted to the main window: show the next pending message box or test-image window.
constexpr UINT kWmShowPending = WM_APP + 1;
constexpr int kIconResource = 128;
// The resolution at which a point size gives the window its size at 100 %.
constexpr int kBaseDpi = 96;

std::wstring windowText(HWND w) {
    if (w == nullptr) return {};
    const int n = ::GetWindowTextLengthW(w);
    std::wstring text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, L'\0');
    const int got = ::GetWindowTextW(w, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

// The file name the user confirmed, or nullopt when the dialog was cancelled.
std::optional<std::string> chosenPath(BOOL confirmed, const std::wstring& buffer) {
    if (!confirmed) return std::nullopt;
    const std::wstring path(buffer.c_str());
    if (path.empty()) return std::nullopt;
    return narrow(path);
}

}  // namespace

Win32WindowView::Win32WindowView(const testimage::TestImage& image, std::wstring caption)
    : image_(image), caption_(std::move(caption)) {
    menuBar_ = ::CreateMenu();
    menu_ = ::CreatePopupMenu();
    ::AppendMenuW(menu_, MF_STRING, id::CmdEnglish, L"&English");
    ::AppendMenuW(menu_, MF_STRING, id::CmdJapanese, L"&Japanese");
    ::AppendMenuW(menu_, MF_STRING, id::CmdChinese, L"&Chinese");
    ::AppendMenuW(menuBar_, MF_POPUP, reinterpret_cast<UINT_PTR>(menu_), L"");
    // Ctrl+Alt+F12 as the original has it; Ctrl+Shift+F12 as the Linux window has it.
    std::array<ACCEL, 3> keys{{
        {FVIRTKEY | FCONTROL | FALT, VK_F12, static_cast<WORD>(id::CmdToggleMaintenance)},
        {FVIRTKEY | FCONTROL | FSHIFT, VK_F12, static_cast<WORD>(id::CmdToggleMaintenance)},
        {FVIRTKEY, VK_F1, static_cast<WORD>(kCmdHelp)},
    }};
    accelerators_ = ::CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size()));
    HINSTANCE self = ::GetModuleHandleW(nullptr);
    bigIcon_ = static_cast<HICON>(::LoadImageW(self, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON),
                                               ::GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(::LoadImageW(self, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), 0));
}

Win32WindowView::~Win32WindowView() {
    destroy();
    if (accelerators_ != nullptr) ::DestroyAcceleratorTable(accelerators_);
    if (menuBar_ != nullptr) ::DestroyMenu(menuBar_);  // and the popup in it
    if (bigIcon_ != nullptr) ::DestroyIcon(bigIcon_);
    if (smallIcon_ != nullptr) ::DestroyIcon(smallIcon_);
}

bool Win32WindowView::create(const DialogFont& font) {
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX),
                                 ICC_DATE_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&classes);
    const std::vector<std::uint8_t> tmpl = buildMainDialogTemplate(font);
    window_ = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), nullptr,
                                           &procedure, reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr) return false;
    applyFont(font);
    if (bigIcon_ != nullptr)
        ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    if (smallIcon_ != nullptr) {
        ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    }
    ::SendMessageW(control(id::Progress), PBM_SETRANGE32, 0, 100);
    ::SendMessageW(control(id::TimePicker), DTM_SETFORMATW, 0,
                   reinterpret_cast<LPARAM>(L"HH':'mm"));
    if (onCreated) onCreated(window_);
    // What the core asked for before the window existed (the start-up reads).
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        ::PostMessageW(window_, kWmShowPending, 0, 0);
    }
    return true;
}

void Win32WindowView::destroy() {
    if (window_ == nullptr) return;
    if (onDestroying) onDestroying(window_);
    ::DestroyWindow(window_);
    window_ = nullptr;
    if (font_ != nullptr) ::DeleteObject(font_);
    font_ = nullptr;
}

void Win32WindowView::centreOnScreen() {
    const window::Rect area = availableArea();
    window::Rect r = windowRect();
    if (area.width() <= 0) return;
    const int left = area.left + (area.width() - r.width()) / 2;
    const int top = area.top + (area.height() - r.height()) / 2;
    r = app::keepInside({left, top, left + r.width(), top + r.height()}, area);
    ::SetWindowPos(window_, nullptr, r.left, r.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Win32WindowView::screenDpi() const {
    if (screenDpiHook) return screenDpiHook();
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

window::Size Win32WindowView::outerSize(window::BaseUnits base) const {
    const window::UnitSize client = window::toPixels(window::kMainDialogSize, base);
    RECT r{0, 0, client.width, client.height};
    ::AdjustWindowRectEx(&r, static_cast<DWORD>(::GetWindowLongW(window_, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(window_, GWL_EXSTYLE)));
    return {r.right - r.left, r.bottom - r.top};
}

bool Win32WindowView::applyFont(const DialogFont& wanted) {
    const BYTE charset = scriptCharset(wanted.language);
    const std::wstring face = chooseFace(
        faceCandidates(wanted.name, wanted.language),
        [&](const std::wstring& f) { return faceInstalled(f, charset); }, messageFontFace());
    // The size the file asks for at the screen's resolution, made smaller where that
    // would not fit the template on the screen, down to its size at 100 %: a small
    // screen at a high scale would otherwise leave the buttons below its edge.
    const int points = wanted.pointSize > 0 ? wanted.pointSize : 8;
    const int height =
        app::largestFitting(pixelHeight(points, screenDpi()), pixelHeight(points, kBaseDpi),
                            availableArea(), [&](int h) {
                                HFONT trial = createDialogFont(face, charset, h);
                                const window::BaseUnits base = measureBaseUnits(trial);
                                ::DeleteObject(trial);
                                return outerSize(base);
                            });
    HFONT font = createDialogFont(face, charset, height);
    if (font == nullptr) return false;
    base_ = measureBaseUnits(font);

    // Every control from the template again, in the new font's dialog units.
    const bool visible = ::IsWindowVisible(window_) != FALSE;
    if (visible) ::SendMessageW(window_, WM_SETREDRAW, FALSE, 0);
    for (const window::ControlTemplate& c : window::mainDialogControls()) {
        HWND w = control(c.id);
        if (w == nullptr) continue;
        ::SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        const window::UnitRect r = window::toPixels(c.rect, base_);
        ::MoveWindow(w, r.x, r.y, r.width, r.height, FALSE);
    }
    ::SendMessageW(control(id::DatePicker), DTM_SETMCFONT, reinterpret_cast<WPARAM>(font), FALSE);
    const window::Size size = outerSize(base_);
    ::SetWindowPos(window_, nullptr, 0, 0, size.width, size.height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (visible) ::SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
    invalidateAll();

    if (font_ != nullptr) ::DeleteObject(font_);
    font_ = font;
    return true;
}

int Win32WindowView::run() {
    if (window_ == nullptr) return -1;
    if (!ended_) {
        ::ShowWindow(window_, SW_SHOW);
        ::SetForegroundWindow(window_);
    }
    MSG msg;
    while (!ended_) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            // Someone asked the thread to end: as the close box would.
            ended_ = true;
            endCode_ = id::DialogCancel;
            break;
        }
        if (preTranslate(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return endCode_;
}

bool Win32WindowView::preTranslate(MSG& msg) {
    // The caption's "?" opens the help at once; the help pointer mode never starts.
    if (msg.message == WM_NCLBUTTONDOWN && msg.hwnd == window_ && msg.wParam == HTHELP) {
        help();
        return true;
    }
    if (accelerators_ != nullptr && ::TranslateAcceleratorW(window_, accelerators_, &msg)) {
        return true;
    }
    return ::IsDialogMessageW(window_, &msg) != FALSE;
}

INT_PTR CALLBACK Win32WindowView::procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<Win32WindowView*>(lParam)->window_ = window;
    }
    auto* self = reinterpret_cast<Win32WindowView*>(::GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->handle(message, wParam, lParam) : FALSE;
}

INT_PTR Win32WindowView::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_TIMER:
            if (!ended_ && controller_ != nullptr) controller_->onTimer(static_cast<int>(wParam));
            return TRUE;
        case WM_COMMAND:
            onCommandMessage(wParam, lParam);
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == DTN_DATETIMECHANGE && controller_ != nullptr && !settingDateTime_) {
                controller_->onDateTimeChanged(static_cast<int>(header->idFrom));
            }
            return TRUE;
        }
        case WM_CONTEXTMENU:
            openContextMenu({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CONTEXTHELP) {
                help();
                ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
                return TRUE;
            }
            return FALSE;
        case WM_HELP:
            help();
            return TRUE;
        case WM_CLOSE:
            command(id::DialogCancel);
            return TRUE;
        case kWmShowPending:
            showPending();
            return TRUE;
        default:
            return FALSE;
    }
}

void Win32WindowView::onCommandMessage(WPARAM wParam, LPARAM lParam) {
    const int commandId = LOWORD(wParam);
    const int code = HIWORD(wParam);
    if (lParam != 0) {  // from a control
        if (commandId == id::FirmwarePath) {
            // Only the user's edits: the core refreshes after setting the text itself.
            if (code == EN_CHANGE && !settingText_ && controller_ != nullptr) {
                controller_->onFirmwarePathEdited();
            }
            return;
        }
        if (code == BN_CLICKED) command(commandId);
        return;
    }
    // Menus, accelerators, and the dialog manager's OK (Enter) and cancel (Esc).
    if (commandId == kCmdHelp) {
        help();
    } else {
        command(commandId);
    }
}

void Win32WindowView::command(int commandId) {
    if (!ended_ && controller_ != nullptr) controller_->onCommand(commandId);
}

void Win32WindowView::help() {
    if (!ended_ && controller_ != nullptr) controller_->onHelp();
}

void Win32WindowView::openContextMenu(POINT at) {
    if (at.x == -1 && at.y == -1) {
        // From the keyboard (Shift+F10, the Menu key): at the focused control, else at the
        // window's centre.
        HWND focus = ::GetFocus();
        RECT r{};
        ::GetWindowRect(focus != nullptr && ::IsChild(window_, focus) ? focus : window_, &r);
        at = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    ::TrackPopupMenu(menu_, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
}

HWND Win32WindowView::control(int controlId) const {
    return window_ != nullptr ? ::GetDlgItem(window_, controlId) : nullptr;
}

HWND Win32WindowView::dialogOwner() const {
    if (closingImageWindow_ != nullptr) return closingImageWindow_;
    return imageWindows_.empty() ? window_ : imageWindows_.back()->handle();
}

// ---- WindowView: controls -------------------------------------------------------------

void Win32WindowView::setEnabled(int controlId, bool enabled) {
    if (HWND w = control(controlId)) ::EnableWindow(w, enabled ? TRUE : FALSE);
}

void Win32WindowView::setVisible(int controlId, bool visible) {
    if (HWND w = control(controlId)) ::ShowWindow(w, visible ? SW_SHOWNA : SW_HIDE);
}

void Win32WindowView::setText(int controlId, const std::string& text) {
    HWND w = control(controlId);
    if (w == nullptr) return;
    settingText_ = true;
    const std::wstring wide = widen(text);
    ::SetWindowTextW(w, (controlId == id::FirmwareVersion ? boardTextShown(wide) : wide).c_str());
    settingText_ = false;
}

std::string Win32WindowView::text(int controlId) const {
    return narrow(windowText(control(controlId)));
}

void Win32WindowView::setChecked(int controlId, bool checked) {
    if (HWND w = control(controlId)) {
        ::SendMessageW(w, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

bool Win32WindowView::isChecked(int controlId) const {
    HWND w = control(controlId);
    return w != nullptr && ::SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32WindowView::setProgress(int percent) {
    ::SendMessageW(control(id::Progress), PBM_SETPOS,
                   static_cast<WPARAM>(std::clamp(percent, 0, 100)), 0);
}

link::DateTime Win32WindowView::pickedDateTime() const {
    link::DateTime dt;
    SYSTEMTIME st{};
    if (::SendMessageW(control(id::DatePicker), DTM_GETSYSTEMTIME, 0,
                       reinterpret_cast<LPARAM>(&st)) == GDT_VALID) {
        dt.year = st.wYear;
        dt.month = st.wMonth;
        dt.day = st.wDay;
    }
    if (::SendMessageW(control(id::TimePicker), DTM_GETSYSTEMTIME, 0,
                       reinterpret_cast<LPARAM>(&st)) == GDT_VALID) {
        dt.hour = st.wHour;
        dt.minute = st.wMinute;
    }
    return dt;
}

void Win32WindowView::showDateTime(const link::DateTime& dt) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(dt.year);
    st.wMonth = static_cast<WORD>(dt.month);
    st.wDay = static_cast<WORD>(dt.day);
    st.wHour = static_cast<WORD>(dt.hour);
    st.wMinute = static_cast<WORD>(dt.minute);
    settingDateTime_ = true;
    for (int picker : {id::DatePicker, id::TimePicker}) {
        ::SendMessageW(control(picker), DTM_SETSYSTEMTIME, GDT_VALID,
                       reinterpret_cast<LPARAM>(&st));
    }
    settingDateTime_ = false;
}

void Win32WindowView::setTabStop(int controlId, bool tabStop) {
    HWND w = control(controlId);
    if (w == nullptr) return;
    const LONG style = ::GetWindowLongW(w, GWL_STYLE);
    const LONG wanted = tabStop ? (style | WS_TABSTOP) : (style & ~LONG{WS_TABSTOP});
    if (wanted != style) ::SetWindowLongW(w, GWL_STYLE, wanted);
}

void Win32WindowView::setFocus(int controlId) {
    // Through the dialog manager, so that the default push button follows the focus.
    if (HWND w = control(controlId)) {
        ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(w), TRUE);
    }
}

// ---- WindowView: the window -----------------------------------------------------------

void Win32WindowView::setTitle(const std::string& title) {
    if (window_ != nullptr) ::SetWindowTextW(window_, widen(title).c_str());
}

void Win32WindowView::setLanguageMenuTexts(const std::string& english, const std::string& japanese,
                                           const std::string& chinese) {
    const std::array<std::pair<int, const std::string*>, 3> items{
        {{id::CmdEnglish, &english}, {id::CmdJapanese, &japanese}, {id::CmdChinese, &chinese}}};
    for (const auto& [command, text] : items) {
        const std::wstring wide = widen(*text);
        const UINT state = ::GetMenuState(menu_, static_cast<UINT>(command), MF_BYCOMMAND);
        ::ModifyMenuW(menu_, static_cast<UINT>(command),
                      MF_BYCOMMAND | MF_STRING | (state & (MF_GRAYED | MF_DISABLED)),
                      static_cast<UINT_PTR>(command), wide.c_str());
    }
}

window::Rect Win32WindowView::windowRect() const {
    RECT r{};
    if (window_ != nullptr) ::GetWindowRect(window_, &r);
    return {r.left, r.top, r.right, r.bottom};
}

void Win32WindowView::moveWindow(const window::Rect& rect) {
    if (window_ != nullptr) {
        ::MoveWindow(window_, rect.left, rect.top, rect.width(), rect.height(), TRUE);
        invalidateAll();
    }
}

window::Size Win32WindowView::clientSize() const {
    RECT r{};
    if (window_ != nullptr) ::GetClientRect(window_, &r);
    return {r.right - r.left, r.bottom - r.top};
}

window::Size Win32WindowView::controlSize(int controlId) const {
    RECT r{};
    HWND w = control(controlId);
    if (w == nullptr) return {};
    ::GetClientRect(w, &r);
    return {r.right - r.left, r.bottom - r.top};
}

void Win32WindowView::moveControl(int controlId, int x, int y, int width, int height) {
    if (HWND w = control(controlId)) {
        ::MoveWindow(w, x, y, width, height, TRUE);
        invalidateAll();
    }
}

void Win32WindowView::invalidateAll() {
    // The controls too: the dialog does not clip its children, so a pending erase of its
    // background alone would wipe out controls that were just painted.
    ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Win32WindowView::repaint() {
    if (window_ == nullptr) return;
    invalidateAll();
    ::UpdateWindow(window_);
}

void Win32WindowView::endDialog(int result) {
    if (ended_) return;
    ended_ = true;
    endCode_ = result;
    if (window_ != nullptr) ::ShowWindow(window_, SW_HIDE);
    // Open boxes and image windows run loops of their own: WM_QUIT ends each of them, and
    // the last one lands in run(), which ends too.
    if (modalDepth_ > 0) ::PostQuitMessage(0);
    if (window_ != nullptr) ::PostMessageW(window_, WM_NULL, 0, 0);
}

window::Rect Win32WindowView::availableArea() const {
    if (workAreaHook) return workAreaHook();
    HMONITOR monitor = ::MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor == nullptr || !::GetMonitorInfoW(monitor, &info)) return {};
    return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

void Win32WindowView::setLanguageMenuEnabled(bool enabled) {
    for (int command : {id::CmdEnglish, id::CmdJapanese, id::CmdChinese}) {
        ::EnableMenuItem(menu_, static_cast<UINT>(command),
                         MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
}

void Win32WindowView::setScanMenuEntry(bool shown, const std::string& text) {
    const auto command = static_cast<UINT>(id::CmdScanTestImage);
    if (shown) {
        const std::wstring wide = widen(text);
        if (scanEntry_) {
            ::ModifyMenuW(menu_, command, MF_BYCOMMAND | MF_STRING, command, wide.c_str());
        } else {
            ::AppendMenuW(menu_, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(menu_, MF_STRING, command, wide.c_str());
        }
    } else if (scanEntry_) {
        ::DeleteMenu(menu_, command, MF_BYCOMMAND);
        ::DeleteMenu(menu_, static_cast<UINT>(::GetMenuItemCount(menu_) - 1), MF_BYPOSITION);
    }
    scanEntry_ = shown;
}

bool Win32WindowView::setDialogFont(const std::string& faceName, int pointSize,
                                    const std::string& language) {
    return window_ != nullptr && applyFont({widen(faceName), pointSize, language});
}

// ---- WindowView: dialogs --------------------------------------------------------------

int Win32WindowView::messageBox(HWND owner, const std::wstring& text, UINT type) {
    ++modalDepth_;
    const int answer = ::MessageBoxW(owner, text.c_str(), caption_.c_str(), type);
    --modalDepth_;
    return answer;
}

void Win32WindowView::showMessage(const std::string& text) {
    queueMessage(text, MB_ICONEXCLAMATION);
}

void Win32WindowView::showInformation(const std::string& text) {
    queueMessage(text, MB_ICONINFORMATION);
}

void Win32WindowView::queueMessage(const std::string& text, UINT icon) {
    // Called from inside the core's handlers (timer ticks among them): the box opens from
    // the loop once the handler has returned. Its own loop then keeps delivering ticks.
    Pending p;
    p.message = text;
    p.icon = icon;
    pending_.push_back(std::move(p));
    if (window_ != nullptr) ::PostMessageW(window_, kWmShowPending, 0, 0);
}

void Win32WindowView::showTestImage() {
    // A copy: the window shows the picture it was opened on, whatever comes later.
    Pending p;
    p.picture = std::make_unique<testimage::TestImage>(image_);
    pending_.push_back(std::move(p));
    if (window_ != nullptr) ::PostMessageW(window_, kWmShowPending, 0, 0);
}

void Win32WindowView::showPending() {
    if (pending_.empty() || ended_) return;
    Pending next = std::move(pending_.front());
    pending_.pop_front();
    if (next.message) {
        messageBox(dialogOwner(), widen(*next.message), MB_OK | next.icon);
        return;
    }
    if (!next.picture) return;
    TestImageWindow imageWindow(*next.picture, [this](HWND w) {
        if (controller_ == nullptr) return true;
        for (TestImageWindow* open : imageWindows_) {
            if (open->handle() != w) continue;
            const HWND previous = std::exchange(closingImageWindow_, w);
            const bool close = controller_->onTestImageWindowClose(open->picture());
            closingImageWindow_ = previous;
            return close;
        }
        return true;
    });
    // A new window opens one step below and right of the last one still open.
    std::optional<POINT> at;
    if (!imageWindows_.empty()) {
        RECT last{};
        ::GetWindowRect(imageWindows_.back()->handle(), &last);
        const window::Rect next =
            app::cascadeAfter({last.left, last.top, last.right, last.bottom},
                              {last.right - last.left, last.bottom - last.top}, availableArea());
        at = POINT{next.left, next.top};
    }
    HWND owner = dialogOwner();
    imageWindows_.push_back(&imageWindow);
    ++modalDepth_;
    imageWindow.run(owner, at);
    --modalDepth_;
    imageWindows_.erase(std::find(imageWindows_.begin(), imageWindows_.end(), &imageWindow));
}

std::optional<std::string> Win32WindowView::fileDialog(const FileDialogPlan& plan) {
    std::wstring buffer(MAX_PATH * 4, L'\0');
    std::copy(plan.initialName.begin(), plan.initialName.end(), buffer.begin());
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = plan.owner;
    ofn.lpstrFilter = plan.filter;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrDefExt = plan.defaultExtension;
    // The original's flags for both; the core makes the file's folder the current one
    // itself, and the save dialog asks before replacing a file.
    ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    ++modalDepth_;
    const BOOL confirmed = plan.save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
    --modalDepth_;
    return chosenPath(confirmed, buffer);
}

std::optional<std::string> Win32WindowView::chooseFirmwareFile() {
    if (firmwareFileHook) return firmwareFileHook();
    return fileDialog({window_, L"Mot Files(*.mot)\0*.mot\0", L"mot", L"*.mot", false});
}

window::Choice Win32WindowView::askYesNoCancel(const std::string& text) {
    // Asked inside a user's close request; the box's loop keeps the ticks coming.
    switch (messageBox(dialogOwner(), widen(text), MB_YESNOCANCEL | MB_ICONEXCLAMATION)) {
        case IDYES:
            return window::Choice::Yes;
        case IDNO:
            return window::Choice::No;
        default:
            return window::Choice::Cancel;
    }
}

std::optional<std::string> Win32WindowView::chooseBitmapFile() {
    if (bitmapFileHook) return bitmapFileHook();
    return fileDialog(
        {dialogOwner(), L"bmp Files(*.bmp)\0*.bmp\0", L"bmp", L"RDBTestImage1", true});
}

void Win32WindowView::openHelp(const std::string& path) {
    if (helpHook) {
        helpHook(path);
        return;
    }
    // Nothing to report when no viewer is there: the original ignored the result too.
    ::ShellExecuteW(window_, L"open", widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace q70::win32
