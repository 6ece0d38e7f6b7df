#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "config/paths.hpp"
#include "sim/sim_transport.hpp"
#include "sim/simulated_board.hpp"
#include "system/steady_clock.hpp"
#include "system/win32/utf8.hpp"
#include "win32/dialog_font.hpp"
#include "win32/dialog_template_builder.hpp"
#include "win32/single_instance.hpp"
#include "win32/win32_timer_service.hpp"
#include "win32/win32_window_view.hpp"
#include "window/control_ids.hpp"
#include "window/dialog_template.hpp"

namespace q70::test {
namespace {

namespace id = window::id;
using win32::Win32WindowView;

std::wstring lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

std::wstring className(HWND w) {
    wchar_t name[64] = {};
    ::GetClassNameW(w, name, 64);
    return lower(name);
}

// Dispatches messages until `done` or the time runs out; false on the timeout.
template <typename Done>
bool pumpUntil(Done done, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    MSG msg;
    while (!done()) {
        if (::GetTickCount() - start > timeoutMs) return false;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(5);
    }
    return true;
}

const win32::DialogFont kFont{L"MS Sans Serif", 8, "ENGLISH"};

// The windows of these tests live on a desktop of their own, started after the fixture chose
// wine's null graphics driver: the prefix's default desktop may have started without one.
class OwnDesktop : public ::testing::Environment {
  public:
    void SetUp() override {
        HDESK desk =
            ::CreateDesktopW(L"q70-window-tests", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        if (desk != nullptr) ::SetThreadDesktop(desk);
    }
};
const auto* const kOwnDesktop = ::testing::AddGlobalTestEnvironment(new OwnDesktop);

TEST(Win32Window, EveryControlOfTheTemplateIsThePlatformsControlWithItsStyle) {
    testimage::TestImage image;
    Win32WindowView view(image, L"q70test");
    ASSERT_TRUE(view.create(kFont));
    for (const window::ControlTemplate& c : window::mainDialogControls()) {
        HWND w = view.control(c.id);
        ASSERT_NE(w, nullptr) << c.id;
        EXPECT_EQ(::GetDlgCtrlID(w), c.id);
        EXPECT_EQ(className(w), lower(system::widen(c.className))) << c.id;
        const DWORD style = static_cast<DWORD>(::GetWindowLongW(w, GWL_STYLE));
        const DWORD wanted = win32::controlStyle(c.id);
        for (DWORD bit :
             {DWORD(WS_GROUP), DWORD(WS_TABSTOP), DWORD(WS_VISIBLE), DWORD(WS_DISABLED)}) {
            EXPECT_EQ(style & bit, wanted & bit) << c.id << " style bit " << bit;
        }
        if (c.kind == window::ControlKind::RadioButton) {
            EXPECT_EQ(style & BS_TYPEMASK, DWORD(BS_AUTORADIOBUTTON)) << c.id;
        }
        if (c.kind == window::ControlKind::GroupBox) {
            EXPECT_EQ(style & BS_TYPEMASK, DWORD(BS_GROUPBOX)) << c.id;
        }
    }
    // The caption's help button, and no box that would push it off the caption.
    const LONG ex = ::GetWindowLongW(view.handle(), GWL_EXSTYLE);
    EXPECT_NE(ex & WS_EX_CONTEXTHELP, 0);
    EXPECT_EQ(::GetWindowLongW(view.handle(), GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    // Bound texts start empty; the others show the template's caption.
    EXPECT_EQ(view.text(id::FirmwareNameLabel), "");
    EXPECT_EQ(view.text(id::Reset), "Reset");
}

TEST(Win32Window, ViewCallsReachTheControls) {
    testimage::TestImage image;
    Win32WindowView view(image, L"q70test");
    ASSERT_TRUE(view.create(kFont));

    view.setText(id::AspectFrame, "Seitenverh\xc3\xa4ltnis");  // UTF-8 in, UTF-16 on screen
    wchar_t caption[64] = {};
    ::GetWindowTextW(view.control(id::AspectFrame), caption, 64);
    EXPECT_EQ(std::wstring(caption), L"Seitenverh\u00e4ltnis");
    EXPECT_EQ(view.text(id::AspectFrame), "Seitenverh\xc3\xa4ltnis");

    view.setChecked(id::PaperLetter, true);
    EXPECT_EQ(::SendMessageW(view.control(id::PaperLetter), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(view.isChecked(id::PaperLetter));
    view.setChecked(id::PaperLetter, false);  // neither of the pair: the settings need it
    EXPECT_FALSE(view.isChecked(id::PaperLetter));
    EXPECT_FALSE(view.isChecked(id::PaperA4));

    view.setProgress(42);
    EXPECT_EQ(::SendMessageW(view.control(id::Progress), PBM_GETPOS, 0, 0), 42);
    view.setProgress(250);
    EXPECT_EQ(::SendMessageW(view.control(id::Progress), PBM_GETPOS, 0, 0), 100);

    view.setEnabled(id::Apply, false);
    EXPECT_FALSE(::IsWindowEnabled(view.control(id::Apply)));
    view.setVisible(id::Update, false);
    EXPECT_EQ(::GetWindowLongW(view.control(id::Update), GWL_STYLE) & WS_VISIBLE, 0);

    SYSTEMTIME st{};
    st.wYear = 2004;
    st.wMonth = 12;
    st.wDay = 31;
    st.wHour = 23;
    st.wMinute = 59;
    ::SendMessageW(view.control(id::DatePicker), DTM_SETSYSTEMTIME, GDT_VALID,
                   reinterpret_cast<LPARAM>(&st));
    ::SendMessageW(view.control(id::TimePicker), DTM_SETSYSTEMTIME, GDT_VALID,
                   reinterpret_cast<LPARAM>(&st));
    const link::DateTime dt = view.pickedDateTime();
    EXPECT_EQ(dt.year, 2004);
    EXPECT_EQ(dt.month, 12);
    EXPECT_EQ(dt.day, 31);
    EXPECT_EQ(dt.hour, 23);
    EXPECT_EQ(dt.minute, 59);

    view.moveControl(id::Reset, 10, 20, 77, 23);
    EXPECT_EQ(view.controlSize(id::Reset).width, 77);
    EXPECT_EQ(view.controlSize(id::Reset).height, 23);

    view.setLanguageMenuTexts("Englisch", "Japanisch", "Chinesisch");
    wchar_t item[32] = {};
    ::GetMenuStringW(view.languageMenu(), id::CmdJapanese, item, 32, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(item), L"Japanisch");
    view.setLanguageMenuEnabled(false);
    EXPECT_NE(::GetMenuState(view.languageMenu(), id::CmdChinese, MF_BYCOMMAND) & MF_GRAYED, 0u);

    view.setTitle("Q-70 Setup");
    ::GetWindowTextW(view.handle(), caption, 64);
    EXPECT_EQ(std::wstring(caption), L"Q-70 Setup");
}

std::string tempFolder() {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return system::narrow(temp);
}

// The whole window on the simulated board, its timers real.
struct Running {
    system::SteadyClock clock;
    sim::SimulatedBoard board{clock, {}};
    sim::SimTransport transport{board};
    config::TextCatalogue texts;
    testimage::TestImage image;
    Win32WindowView view{image, L"q70test"};
    win32::Win32TimerService timers;
    std::unique_ptr<app::UtilityController> controller;

    struct Counter : app::ExchangeObserver {
        int answers = 0;
        void onAnswer(std::uint8_t, std::uint8_t, bool) override { ++answers; }
    } counter;

    explicit Running(std::string programFolder = tempFolder(),
                     const std::function<void(app::ControllerOptions&)>& configure = {}) {
        app::ControllerOptions options;
        options.programFolder = std::move(programFolder);
        if (configure) configure(options);
        controller = std::make_unique<app::UtilityController>(view, transport, timers, clock, texts,
                                                              image, options);
        controller->setExchangeObserver(&counter);
        view.attach(*controller);
        view.onCreated = [this](HWND w) { timers.attach(w); };
        view.onDestroying = [this](HWND) { timers.detach(); };
        view.helpHook = [](const std::string&) {};
    }
    ~Running() {
        controller->shutdown();
        view.destroy();
    }
};

// The first visible dialog of this thread other than `except`.
HWND openMessageBox(HWND except = nullptr) {
    struct Find {
        HWND except;
        HWND box = nullptr;
    } find{except};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<Find*>(p);
            wchar_t name[16] = {};
            ::GetClassNameW(w, name, 16);
            if (w != f->except && std::wstring(name) == L"#32770" && ::IsWindowVisible(w)) {
                f->box = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.box;
}

Running* g_running = nullptr;
HWND g_box = nullptr;
int g_answersAtBox = -1;
DWORD g_boxSince = 0;
int g_answersWhileOpen = -1;

TEST(Win32Window, TicksKeepComingWhileAMessageBoxIsOpen) {
    Running r;
    ASSERT_TRUE(r.view.create(kFont));
    r.controller->onInitDialog();
    // The start sequence's eight answers, then one status a second.
    ASSERT_TRUE(pumpUntil([&] { return r.counter.answers >= 8; }, 10000));

    g_running = &r;
    g_box = nullptr;
    g_answersAtBox = -1;
    g_answersWhileOpen = -1;
    r.view.showMessage("a message from inside a tick");
    // A thread timer: the box's own loop dispatches it, as it does the window's ticks.
    const UINT_PTR watch = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        Running& run = *g_running;
        HWND box = openMessageBox();
        if (box == nullptr || box == run.view.handle()) return;
        if (g_box == nullptr) {
            g_box = box;
            g_answersAtBox = run.counter.answers;
            g_boxSince = ::GetTickCount();
        } else if (::GetTickCount() - g_boxSince > 2500 && g_answersWhileOpen < 0) {
            g_answersWhileOpen = run.counter.answers - g_answersAtBox;
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    });
    ASSERT_TRUE(
        pumpUntil([&] { return g_answersWhileOpen >= 0 && openMessageBox() == nullptr; }, 15000));
    ::KillTimer(nullptr, watch);
    EXPECT_NE(g_box, nullptr);
    EXPECT_GE(g_answersWhileOpen, 2) << "the status poll stopped while the box was open";
    g_running = nullptr;
}

TEST(Win32Window, CommandsFromTheMenuAndTheAcceleratorsReachTheController) {
    Running r;
    ASSERT_TRUE(r.view.create(kFont));
    r.controller->onInitDialog();
    const window::Rect before = r.view.windowRect();
    // As an accelerator delivers it: WM_COMMAND with code 1 and no control.
    ::SendMessageW(r.view.handle(), WM_COMMAND, MAKEWPARAM(id::CmdToggleMaintenance, 1), 0);
    EXPECT_TRUE(r.controller->maintenanceShown());
    EXPECT_EQ(r.view.windowRect().height(), before.height() + app::kMaintenanceStepPx);
    EXPECT_NE(::GetWindowLongW(r.view.control(id::Update), GWL_STYLE) & WS_VISIBLE, 0);
    ::SendMessageW(r.view.handle(), WM_COMMAND, MAKEWPARAM(id::CmdToggleMaintenance, 1), 0);
    EXPECT_EQ(r.view.windowRect().height(), before.height());

    int helps = 0;
    r.view.helpHook = [&](const std::string& path) {
        ++helps;
        EXPECT_NE(path.find("Q70Uty"), std::string::npos) << path;
    };
    ::SendMessageW(r.view.handle(), WM_COMMAND, MAKEWPARAM(win32::kCmdHelp, 1), 0);
    ::SendMessageW(r.view.handle(), WM_SYSCOMMAND, SC_CONTEXTHELP, 0);  // the caption's "?"
    EXPECT_EQ(helps, 2);

    // The accelerator table: Ctrl+Alt+F12 and Ctrl+Shift+F12 toggle, F1 opens the help.
    ACCEL keys[8] = {};
    const int n = ::CopyAcceleratorTableW(r.view.accelerators(), keys, 8);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(keys[0].fVirt, FVIRTKEY | FCONTROL | FALT);
    EXPECT_EQ(keys[0].key, VK_F12);
    EXPECT_EQ(keys[0].cmd, id::CmdToggleMaintenance);
    EXPECT_EQ(keys[1].fVirt, FVIRTKEY | FCONTROL | FSHIFT);
    EXPECT_EQ(keys[1].cmd, id::CmdToggleMaintenance);
    EXPECT_EQ(keys[2].key, VK_F1);

    // Esc and the close box end the dialog without writing.
    ::SendMessageW(r.view.handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(r.view.ended());
    EXPECT_EQ(r.view.endCode(), id::DialogCancel);
}

TEST(Win32Window, TheFontsFaceFallsBackAlongItsScriptsFaces) {
    struct Case {
        const char* language;
        const wchar_t* fileFace;
        std::vector<std::wstring> installed;
        const wchar_t* expected;
    } const cases[] = {
        {"JAPANESE", L"Yu Gothic UI", {L"Yu Gothic UI", L"Meiryo UI"}, L"Yu Gothic UI"},
        {"JAPANESE", L"Noto Sans CJK JP", {L"Meiryo UI", L"MS UI Gothic"}, L"Meiryo UI"},
        {"JAPANESE", L"", {L"MS UI Gothic"}, L"MS UI Gothic"},
        {"CHINESE", L"Microsoft YaHei UI", {L"SimSun"}, L"SimSun"},
        {"CHINESE", L"Microsoft YaHei UI", {L"Yu Gothic UI"}, L"message font"},
        {"ENGLISH", L"Segoe UI", {L"Yu Gothic UI"}, L"message font"},
    };
    for (const Case& c : cases) {
        const auto has = [&](const std::wstring& f) {
            return std::find(c.installed.begin(), c.installed.end(), f) != c.installed.end();
        };
        EXPECT_EQ(
            win32::chooseFace(win32::faceCandidates(c.fileFace, c.language), has, L"message font"),
            c.expected)
            << c.language << " " << system::narrow(c.fileFace);
    }
}

// The language files the Windows build ships, in a program folder of the test's own.
struct ShippedLanguages {
    std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                   ("q70-win32-fonts-" + std::to_string(::GetCurrentProcessId()));
    ShippedLanguages() {
        std::filesystem::create_directories(folder);
        std::filesystem::copy(std::filesystem::path(Q70_BIN_DIR) / "Loc", folder / "Loc",
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(folder / "Loc/ENG/Q70Uty.ini", folder / "Q70Uty.ini",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    ~ShippedLanguages() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

// A control draws only the glyphs of its own font, boxes for the characters it lacks.
bool hasEveryGlyph(HFONT font, const std::wstring& text) {
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ previous = ::SelectObject(dc, font);
    std::vector<WORD> glyphs(text.size());
    const DWORD n = ::GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()),
                                       glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
    ::SelectObject(dc, previous);
    ::ReleaseDC(nullptr, dc);
    return n == text.size() && std::find(glyphs.begin(), glyphs.end(), 0xFFFF) == glyphs.end();
}

TEST(Win32Window, AfterEveryLanguageSwitchEveryCaptionHasItsGlyphsAndTheLayoutItsMetrics) {
    const ShippedLanguages languages;
    Running r(config::utf8FromPath(languages.folder));
    ASSERT_TRUE(r.view.create({L"Segoe UI", 9, "ENGLISH"}));
    r.controller->onInitDialog();
    // English to Japanese, Japanese to Chinese, Chinese to English; Cancel's caption shows
    // that the switch took place.
    const std::pair<int, const char*> steps[] = {
        {id::CmdJapanese, "キャンセル"}, {id::CmdChinese, "取消"}, {id::CmdEnglish, "Cancel"}};
    for (const auto& [command, cancel] : steps) {
        r.controller->onCommand(command);
        ASSERT_EQ(r.view.text(id::Cancel), cancel);
        const HFONT font = r.view.dialogFont();
        for (const window::ControlTemplate& c : window::mainDialogControls()) {
            HWND w = r.view.control(c.id);
            if (c.kind != window::ControlKind::Frame && c.kind != window::ControlKind::BlackFrame) {
                EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(w, WM_GETFONT, 0, 0)), font);
            }
            EXPECT_TRUE(hasEveryGlyph(font, system::widen(r.view.text(c.id))))
                << cancel << ": " << r.view.text(c.id);
            if (c.id >= id::Reset && c.id <= id::Apply) continue;  // the controller's row
            RECT at{};
            ::GetWindowRect(w, &at);
            ::MapWindowPoints(nullptr, r.view.handle(), reinterpret_cast<POINT*>(&at), 2);
            EXPECT_EQ((window::UnitRect{at.left, at.top, at.right - at.left, at.bottom - at.top}),
                      window::toPixels(c.rect, r.view.baseUnits()))
                << cancel << ": " << c.id;
        }
    }
}

TEST(Win32Window, AtAHighScaleTheFontShrinksUntilTheWindowFitsTheWorkArea) {
    const int at96 = win32::pixelHeight(9, 96);
    const int at144 = win32::pixelHeight(9, 144);
    struct Case {
        int dpi;
        window::Rect area;
        int fewest, most;  // pixels of font height
    } const cases[] = {
        {144, {0, 0, 1366, 768}, at96 + 1, at144 - 1},  // 150 % on a small laptop
        {144, {0, 0, 2560, 1400}, at144, at144},        // room for the full size
        {144, {0, 0, 800, 400}, at96, at96},            // never below 100 %
    };
    for (const Case& c : cases) {
        Running r;
        r.view.screenDpiHook = [&] { return c.dpi; };
        r.view.workAreaHook = [&] { return c.area; };
        ASSERT_TRUE(r.view.create({L"Segoe UI", 9, "ENGLISH"}));
        r.controller->onInitDialog();
        r.view.centreOnScreen();
        r.controller->onCommand(id::CmdToggleMaintenance);
        LOGFONTW font{};
        ::GetObjectW(r.view.dialogFont(), sizeof font, &font);
        EXPECT_GE(-font.lfHeight, c.fewest) << c.area.height();
        EXPECT_LE(-font.lfHeight, c.most) << c.area.height();
        RECT apply{};
        ::GetWindowRect(r.view.control(id::Apply), &apply);
        const window::Rect w = r.view.windowRect();
        EXPECT_GE(w.top, 0) << "the caption stays on the screen";
        if (c.fewest > at96) {
            EXPECT_LE(apply.bottom, c.area.bottom) << "and so do the buttons";
        }
    }
}

// A key as the window's loop hands it to the dialog manager.
void press(HWND dialog, UINT key) {
    for (UINT message : {UINT(WM_KEYDOWN), UINT(WM_KEYUP)}) {
        MSG msg{::GetFocus(), message, key, 0, 0, {}};
        if (!::IsDialogMessageW(dialog, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

int focused() {
    return ::GetDlgCtrlID(::GetFocus());
}

// The running window, shown, its start sequence read, the focus in it.
void startShown(Running& r) {
    ASSERT_TRUE(r.view.create(kFont));
    r.controller->onInitDialog();
    ASSERT_TRUE(pumpUntil([&] { return r.counter.answers >= 8; }, 10000));
    ::ShowWindow(r.view.handle(), SW_SHOW);
    ::SetForegroundWindow(r.view.handle());
    ASSERT_TRUE(pumpUntil([&] { return ::IsWindowEnabled(r.view.control(id::Cancel)); }, 5000));
}

TEST(Win32Window, TheKeyboardAloneChangesThePaperSizeAndAppliesIt) {
    Running r;
    startShown(r);
    HWND dialog = r.view.handle();
    ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(r.view.control(id::Cancel)),
                   TRUE);
    ASSERT_EQ(focused(), id::Cancel);
    // One round of Tab: top to bottom, each radio pair once, on its checked radio.
    std::vector<int> round;
    for (int i = 0; i < 30; ++i) {
        press(dialog, VK_TAB);
        if (focused() == id::Cancel) break;
        round.push_back(focused());
    }
    const auto checked = [&](int a, int b) { return r.view.isChecked(b) ? b : a; };
    EXPECT_EQ(round, (std::vector<int>{
                         checked(id::TimeStampDisable, id::TimeStampEnable), id::DatePicker,
                         id::TimePicker, checked(id::MarginDisable, id::MarginEnable),
                         checked(id::PaperA4, id::PaperLetter),
                         checked(id::PrintModeOriginal, id::PrintModeMatch),
                         checked(id::SaveModeOriginal, id::SaveModeMatch), id::Reset, id::OK}));

    ASSERT_TRUE(r.view.isChecked(id::PaperA4));
    while (focused() != id::PaperA4 && round.size() < 60) {
        press(dialog, VK_TAB);
        round.push_back(0);
    }
    press(dialog, VK_DOWN);
    EXPECT_EQ(focused(), id::PaperLetter);
    EXPECT_TRUE(r.view.isChecked(id::PaperLetter));
    EXPECT_FALSE(r.view.isChecked(id::PaperA4));
    ASSERT_TRUE(::IsWindowEnabled(r.view.control(id::Apply)));
    // The tab stop moved with the check: Tab from the frame before lands on Letter.
    EXPECT_NE(::GetWindowLongW(r.view.control(id::PaperLetter), GWL_STYLE) & WS_TABSTOP, 0);
    EXPECT_EQ(::GetWindowLongW(r.view.control(id::PaperA4), GWL_STYLE) & WS_TABSTOP, 0);

    while (focused() != id::Apply && round.size() < 90) {
        press(dialog, VK_TAB);
        round.push_back(0);
    }
    ASSERT_EQ(focused(), id::Apply);
    press(dialog, VK_RETURN);
    ASSERT_TRUE(pumpUntil([&] { return r.board.settings().paper == 1; }, 10000));
    EXPECT_FALSE(r.view.ended()) << "Apply keeps the window";
}

// What a screen reader finds: a control with a caption is named by it, a field without one
// by the label right before it in the dialog's order, in the window's language.
TEST(Win32Window, EveryControlAUserOperatesIsNamedByItsCaptionOrTheLabelBeforeIt) {
    const ShippedLanguages languages;
    Running r(config::utf8FromPath(languages.folder));
    ASSERT_TRUE(r.view.create({L"Segoe UI", 9, "ENGLISH"}));
    r.controller->onInitDialog();
    auto windowText = [](HWND w) {
        wchar_t text[256] = {};
        ::GetWindowTextW(w, text, 256);
        return system::narrow(text);
    };
    for (int command : {id::CmdEnglish, id::CmdJapanese}) {
        r.controller->onCommand(command);
        for (const window::ControlTemplate& c : window::mainDialogControls()) {
            using K = window::ControlKind;
            if (c.kind != K::PushButton && c.kind != K::RadioButton && c.kind != K::Edit &&
                c.kind != K::DatePicker && c.kind != K::TimePicker) {
                continue;
            }
            HWND w = r.view.control(c.id);
            const int label = window::labelOf(c.id);
            if (label == 0) {
                EXPECT_FALSE(windowText(w).empty()) << c.id;
                continue;
            }
            HWND before = ::GetWindow(w, GW_HWNDPREV);
            EXPECT_EQ(before, r.view.control(label)) << c.id;
            EXPECT_EQ(className(before), L"static");
            EXPECT_FALSE(windowText(before).empty()) << c.id;
        }
    }
    EXPECT_EQ(r.view.text(id::DateLabel), "日付");
}

link::DateTime g_computerClock{2026, 12, 7, 21, 43};

TEST(Win32Window, ThePickersFollowTheComputersClockAndSettingThemIsNoEdit) {
    g_computerClock = {2026, 12, 7, 21, 43};
    Running r(tempFolder(),
              [](app::ControllerOptions& o) { o.localNow = [] { return g_computerClock; }; });
    startShown(r);
    EXPECT_EQ(r.view.pickedDateTime(), g_computerClock);
    g_computerClock = {2026, 12, 8, 0, 1};
    ASSERT_TRUE(pumpUntil([&] { return r.view.pickedDateTime() == g_computerClock; },
                          3 * app::kClockCheckMs));
    EXPECT_FALSE(::IsWindowEnabled(r.view.control(id::Apply))) << "no edit of the user's";
}

int g_boxes = 0;

// Unplugged: one message, and Cancel still ends the window; the board back, the window too.
TEST(Win32Window, AnUnpluggedBoardIsToldOnceAndCancelStaysUsable) {
    Running r;
    startShown(r);
    // Boxes are closed from a thread timer, as their own loop dispatches it.
    g_running = &r;
    g_boxes = 0;
    const UINT_PTR watch = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        HWND box = openMessageBox(g_running->view.handle());
        if (box == nullptr) return;
        ++g_boxes;
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    r.board.unplug();
    const DWORD start = ::GetTickCount();
    pumpUntil([&] { return ::GetTickCount() - start > 6000; }, 7000);
    const int boxes = g_boxes;
    EXPECT_EQ(boxes, 1);
    EXPECT_TRUE(::IsWindowEnabled(r.view.control(id::Cancel)));
    EXPECT_FALSE(::IsWindowEnabled(r.view.control(id::OK)));
    r.board.replug();
    ASSERT_TRUE(pumpUntil([&] { return ::IsWindowEnabled(r.view.control(id::OK)); }, 10000));
    ::KillTimer(nullptr, watch);
    g_running = nullptr;
    ::SendMessageW(r.view.handle(), WM_COMMAND, MAKEWPARAM(id::Cancel, BN_CLICKED),
                   reinterpret_cast<LPARAM>(r.view.control(id::Cancel)));
    EXPECT_TRUE(r.view.ended());
}

int g_scans = 0;

TEST(Win32Window, TheMenuOffersTheScanOnlyOnTheSimulatedBoard) {
    auto entry = [](const Running& r) {
        wchar_t text[64] = {};
        const int n =
            ::GetMenuStringW(r.view.languageMenu(), id::CmdScanTestImage, text, 64, MF_BYCOMMAND);
        return n > 0 ? system::narrow(text) : std::string();
    };
    {
        Running plain;
        ASSERT_TRUE(plain.view.create(kFont));
        plain.controller->onInitDialog();
        EXPECT_EQ(entry(plain), "");
        EXPECT_EQ(::GetMenuItemCount(plain.view.languageMenu()), 3);
    }
    const ShippedLanguages languages;
    g_scans = 0;
    Running r(config::utf8FromPath(languages.folder),
              [](app::ControllerOptions& o) { o.scanTestImage = [] { ++g_scans; }; });
    ASSERT_TRUE(r.view.create(kFont));
    r.controller->onInitDialog();
    EXPECT_EQ(entry(r), "&Scan a test image");
    r.controller->onCommand(id::CmdJapanese);
    EXPECT_EQ(entry(r), "テスト画像をスキャン(&S)");
    EXPECT_EQ(::GetMenuItemCount(r.view.languageMenu()), 5) << "the entry was added once";
    ::SendMessageW(r.view.handle(), WM_COMMAND, MAKEWPARAM(id::CmdScanTestImage, 0), 0);
    EXPECT_EQ(g_scans, 1);
}

TEST(Win32Window, ASecondCopyRestoresAndRaisesTheFirstAndEnds) {
    const std::wstring name = L"q70test-" + std::to_wstring(::GetCurrentProcessId());
    win32::SingleInstance first(name);
    ASSERT_TRUE(first.acquire());
    testimage::TestImage image;
    Win32WindowView view(image, name);
    ASSERT_TRUE(view.create(kFont));
    first.markWindow(view.handle());
    ::ShowWindow(view.handle(), SW_SHOWMINIMIZED);
    ASSERT_TRUE(::IsIconic(view.handle()));

    win32::SingleInstance second(name);
    EXPECT_FALSE(second.acquire());
    EXPECT_FALSE(::IsIconic(view.handle())) << "the first copy was not restored";
    EXPECT_EQ(win32::findMarkedWindow(name), view.handle());

    first.unmarkWindow(view.handle());
    EXPECT_EQ(win32::findMarkedWindow(name), nullptr);
    // Another executable's name runs side by side.
    win32::SingleInstance other(name + L"-other");
    EXPECT_TRUE(other.acquire());
    EXPECT_EQ(win32::instanceName(L"C:\\Program Files\\Q-70\\q70uty.exe"), L"q70uty");
}

}  // namespace
}  // namespace q70::test
