#pragma once
// What the core asks of a window: the Qt window, q70ctl's terminal view and the tests'
// fake view all implement it. Views hold no rules; every decision is the controller's.
// Texts cross this interface as UTF-8.

#include <optional>
#include <string>

#include "link/protocol.hpp"

namespace q70::window {

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

struct Size {
    int width = 0;
    int height = 0;
};

enum class Choice { Yes, No, Cancel };

class WindowView {
  public:
    virtual ~WindowView() = default;

    // Controls, by id.
    virtual void setEnabled(int id, bool enabled) = 0;
    virtual void setVisible(int id, bool visible) = 0;
    virtual void setText(int id, const std::string& text) = 0;
    virtual std::string text(int id) const = 0;
    virtual void setChecked(int id, bool checked) = 0;
    virtual bool isChecked(int id) const = 0;
    virtual void setProgress(int percent) = 0;
    // Date picker 1071 and time picker 1072, as local time.
    virtual link::DateTime pickedDateTime() const = 0;
    virtual void setFocus(int id) = 0;
    // The pickers show `dt`; a view reports no edit for it (onDateTimeChanged is the user's).
    virtual void showDateTime(const link::DateTime& /*dt*/) {}
    // Whether Tab stops at the control (a radio pair has one stop, on its checked radio).
    virtual void setTabStop(int /*id*/, bool /*tabStop*/) {}
    // What a screen reader announces for the control: its name, and what it belongs to.
    // Views whose screen readers find the names themselves (from captions and the labels
    // before the fields) need do nothing.
    virtual void setAccessibleName(int /*id*/, const std::string& /*name*/,
                                   const std::string& /*description*/) {}

    // The window.
    virtual void setTitle(const std::string& title) = 0;
    virtual void setLanguageMenuTexts(const std::string& english, const std::string& japanese,
                                      const std::string& chinese) = 0;
    // Outer rectangle in screen pixels; moving it resizes the window.
    virtual Rect windowRect() const = 0;
    virtual void moveWindow(const Rect& rect) = 0;
    virtual Size clientSize() const = 0;
    virtual Size controlSize(int id) const = 0;
    virtual void moveControl(int id, int x, int y, int width, int height) = 0;
    virtual void repaint() = 0;
    virtual void endDialog(int result) = 0;
    // The screen area windows may use (without panels and docks), in screen pixels; an
    // empty rectangle when the view cannot tell.
    virtual Rect availableArea() const { return {}; }
    // The three entries of the language menu.
    virtual void setLanguageMenuEnabled(bool /*enabled*/) {}
    // The context menu's entry that has the built-in simulated board scan a test image
    // (command CmdScanTestImage): shown with `text`, or not at all.
    virtual void setScanMenuEntry(bool /*shown*/, const std::string& /*text*/) {}
    // The dialog font a new language file names: its face, its size in points and the
    // file's language ("JAPANESE", ...), whose script the font must have. True when the
    // view took it and laid the template out again for it, at the template's size with the
    // top-left corner kept; the controller then lays the window out as at start. Views
    // whose text system finds glyphs in any font keep their font and answer false.
    virtual bool setDialogFont(const std::string& /*faceName*/, int /*pointSize*/,
                               const std::string& /*language*/) {
        return false;
    }

    // Dialogs. showMessage (exclamation icon, OK) is called from timer ticks: it must
    // not hold the caller (no nested loop that would stop the link).
    virtual void showMessage(const std::string& text) = 0;
    // The same for a job that succeeded: the information icon instead of the exclamation.
    virtual void showInformation(const std::string& text) { showMessage(text); }
    // Firmware file: filter "Mot Files(*.mot)", pattern *.mot. nullopt when cancelled.
    virtual std::optional<std::string> chooseFirmwareFile() = 0;
    virtual Choice askYesNoCancel(const std::string& text) = 0;
    // BMP file: initial name "RDBTestImage1", filter "bmp Files(*.bmp)". nullopt when cancelled.
    virtual std::optional<std::string> chooseBitmapFile() = 0;
    virtual void openHelp(const std::string& path) = 0;
    // A test image is ready in the controller's TestImage: open a window on it. Called
    // from a timer tick, so it must not hold the caller either.
    virtual void showTestImage() = 0;
};

}  // namespace q70::window
