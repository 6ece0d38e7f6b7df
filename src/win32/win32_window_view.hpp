#pragma once
// The utility's main window on Windows: the core's dialog template built in memory and run
// by the platform's dialog manager, with the platform's own controls. Events go to the
// controller, view calls go to the controls. It decides nothing.

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "testimage/test_image.hpp"
#include "win32/dialog_template_builder.hpp"
#include "window/dialog_template.hpp"
#include "window/window_view.hpp"

namespace q70::win32 {

class TestImageWindow;

// Command of F1, the framework's own help command.
inline constexpr int kCmdHelp = 57670;

class Win32WindowView : public window::WindowView {
  public:
    // `caption` titles the message boxes (the program's name).
    Win32WindowView(const testimage::TestImage& image, std::wstring caption);
    ~Win32WindowView() override;
    Win32WindowView(const Win32WindowView&) = delete;
    Win32WindowView& operator=(const Win32WindowView&) = delete;

    // The controller receives every event; attach before creating.
    void attach(app::UtilityController& controller) { controller_ = &controller; }
    // Creates the window from the template with `font`, hidden, at (0, 0). False when the
    // dialog manager refuses the template.
    bool create(const DialogFont& font);
    // Centred on the work area, and inside it when it is the bigger.
    void centreOnScreen();
    // Shows the window and runs its loop until the dialog ends; answers the end code.
    int run();
    // Called with the new window right after it is created (and before the controller
    // initialises it) and right before it is destroyed.
    std::function<void(HWND)> onCreated;
    std::function<void(HWND)> onDestroying;
    void destroy();

    HWND handle() const { return window_; }
    HWND control(int id) const;
    HMENU languageMenu() const { return menu_; }
    HACCEL accelerators() const { return accelerators_; }
    bool ended() const { return ended_; }
    int endCode() const { return endCode_; }
    // The test-image windows now open, oldest first.
    const std::vector<TestImageWindow*>& testImageWindows() const { return imageWindows_; }

    // Stand-ins for the blocking file dialogs and the help viewer (tests).
    std::function<std::optional<std::string>()> firmwareFileHook;
    std::function<std::optional<std::string>()> bitmapFileHook;
    std::function<void(const std::string&)> helpHook;
    // Stand-ins for the screen's resolution and work area (tests).
    std::function<int()> screenDpiHook;
    std::function<window::Rect()> workAreaHook;

    // The font the controls show and its dialog base units.
    HFONT dialogFont() const { return font_; }
    window::BaseUnits baseUnits() const { return base_; }

    // WindowView
    void setEnabled(int id, bool enabled) override;
    void setVisible(int id, bool visible) override;
    void setText(int id, const std::string& text) override;
    std::string text(int id) const override;
    void setChecked(int id, bool checked) override;
    bool isChecked(int id) const override;
    void setProgress(int percent) override;
    link::DateTime pickedDateTime() const override;
    void setFocus(int id) override;
    void showDateTime(const link::DateTime& dt) override;
    void setTabStop(int id, bool tabStop) override;
    void setTitle(const std::string& title) override;
    void setLanguageMenuTexts(const std::string& english, const std::string& japanese,
                              const std::string& chinese) override;
    window::Rect windowRect() const override;
    void moveWindow(const window::Rect& rect) override;
    window::Size clientSize() const override;
    window::Size controlSize(int id) const override;
    void moveControl(int id, int x, int y, int width, int height) override;
    void repaint() override;
    void endDialog(int result) override;
    window::Rect availableArea() const override;
    void setLanguageMenuEnabled(bool enabled) override;
    void setScanMenuEntry(bool shown, const std::string& text) override;
    bool setDialogFont(const std::string& faceName, int pointSize,
                       const std::string& language) override;
    void showMessage(const std::string& text) override;
    void showInformation(const std::string& text) override;
    std::optional<std::string> chooseFirmwareFile() override;
    window::Choice askYesNoCancel(const std::string& text) override;
    std::optional<std::string> chooseBitmapFile() override;
    void openHelp(const std::string& path) override;
    void showTestImage() override;

  private:
    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool preTranslate(MSG& msg);
    void onCommandMessage(WPARAM wParam, LPARAM lParam);
    void command(int id);
    void help();
    void showPending();
    void queueMessage(const std::string& text, UINT icon);
    void openContextMenu(POINT at);
    int messageBox(HWND owner, const std::wstring& text, UINT type);
    HWND dialogOwner() const;
    void invalidateAll();
    int screenDpi() const;
    bool applyFont(const DialogFont& font);
    window::Size outerSize(window::BaseUnits base) const;
    struct FileDialogPlan {
        HWND owner;
        const wchar_t* filter;  // pairs of name and pattern, ending in an empty name
        const wchar_t* defaultExtension;
        std::wstring initialName;
        bool save;
    };
    std::optional<std::string> fileDialog(const FileDialogPlan& plan);

    const testimage::TestImage& image_;
    std::wstring caption_;
    app::UtilityController* controller_ = nullptr;
    HWND window_ = nullptr;
    HMENU menuBar_ = nullptr;  // holds the language popup
    HMENU menu_ = nullptr;
    HACCEL accelerators_ = nullptr;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HFONT font_ = nullptr;  // ours; the dialog manager's own template font stays its
    window::BaseUnits base_{};
    bool ended_ = false;
    int endCode_ = -1;
    int modalDepth_ = 0;  // nested modal loops now running (boxes, image windows)
    bool settingText_ = false;
    bool settingDateTime_ = false;  // the program sets the pickers: no edit of the user's
    bool scanEntry_ = false;        // the menu holds the simulated board's scan entry
    // What the core asked for from inside a handler; shown from the loop once the handler
    // has returned, so that the core's state is final before any modal window opens.
    struct Pending {
        std::optional<std::string> message;             // a message box, or
        UINT icon = MB_ICONEXCLAMATION;                 // (with this icon)
        std::unique_ptr<testimage::TestImage> picture;  // a test-image window
    };
    std::deque<Pending> pending_;
    std::vector<TestImageWindow*> imageWindows_;
    HWND closingImageWindow_ = nullptr;  // the question and Save As belong to it
};

}  // namespace q70::win32
