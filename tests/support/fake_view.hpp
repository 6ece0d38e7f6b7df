#pragma once
// A window without widgets for tests: it keeps each control's state by id, acts like the
// platform's controls when a test clicks or types, and answers questions as told.

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "window/window_view.hpp"

namespace q70::test {

class FakeView : public window::WindowView {
  public:
    struct Control {
        bool enabled = true;
        bool visible = true;
        bool checked = false;
        std::string text;
        int x = 0, y = 0, width = 77, height = 33;
        std::optional<bool> tabStop;  // unset: as the template has it
        std::string accessibleName;
        std::string accessibleDescription;
    };

    // Control state.
    void setEnabled(int id, bool e) override { controls[id].enabled = e; }
    void setVisible(int id, bool v) override { controls[id].visible = v; }
    void setText(int id, const std::string& t) override { controls[id].text = t; }
    std::string text(int id) const override;
    void setChecked(int id, bool c) override { controls[id].checked = c; }
    bool isChecked(int id) const override;
    void setProgress(int p) override {
        progress = p;
        progressHistory.push_back(p);
    }
    link::DateTime pickedDateTime() const override { return dateTime; }
    void setFocus(int id) override { focus = id; }
    void showDateTime(const link::DateTime& dt) override {
        dateTime = dt;
        ++dateTimeShown;
    }
    void setTabStop(int id, bool t) override { controls[id].tabStop = t; }
    void setAccessibleName(int id, const std::string& name, const std::string& d) override {
        controls[id].accessibleName = name;
        controls[id].accessibleDescription = d;
    }

    void setTitle(const std::string& t) override { title = t; }
    void setLanguageMenuTexts(const std::string& en, const std::string& ja,
                              const std::string& zh) override {
        menu = {en, ja, zh};
    }
    window::Rect windowRect() const override { return window; }
    void moveWindow(const window::Rect& r) override { window = r; }
    window::Size clientSize() const override {
        return {window.width() - 2 * frameWidth, window.height() - captionHeight - frameWidth};
    }
    window::Size controlSize(int id) const override;
    void moveControl(int id, int x, int y, int w, int h) override;
    void repaint() override { ++repaints; }
    void endDialog(int result) override { endResults.push_back(result); }
    window::Rect availableArea() const override { return screenArea; }
    void setLanguageMenuEnabled(bool e) override { languageMenuEnabled = e; }
    void setScanMenuEntry(bool shown, const std::string& text) override {
        scanMenuEntry = shown ? std::optional<std::string>(text) : std::nullopt;
    }
    // Recorded; with `fontTemplateSize` set, taken as a view with fonts of its own takes it:
    // the window at that size, its top-left corner kept.
    bool setDialogFont(const std::string& face, int points, const std::string& language) override;

    void showMessage(const std::string& t) override { messages.push_back(t); }
    void showInformation(const std::string& t) override {
        messages.push_back(t);
        informations.push_back(t);
    }
    std::optional<std::string> chooseFirmwareFile() override { return next(firmwareChoices); }
    window::Choice askYesNoCancel(const std::string& t) override;
    std::optional<std::string> chooseBitmapFile() override { return next(bitmapChoices); }
    void openHelp(const std::string& path) override { helpOpened.push_back(path); }
    void showTestImage() override { ++imageWindowsOpened; }

    // What a user does.
    void attach(app::UtilityController& c) { controller = &c; }
    // A click: radios check themselves and clear their partner, as the platform does.
    void click(int id);
    void typePath(const std::string& text);
    void editDate(const link::DateTime& dt);
    // The platform's keys: Tab stops at the enabled, visible tab stops in the template's
    // order; an arrow key in a radio pair moves to the other radio and clicks it.
    std::vector<int> tabStops() const;
    void arrowFrom(int radioId);

    const Control& control(int id) const;
    bool enabled(int id) const { return control(id).enabled; }
    bool visible(int id) const { return control(id).visible; }

    std::map<int, Control> controls;
    int progress = -1;
    std::vector<int> progressHistory;
    link::DateTime dateTime{2026, 12, 7, 21, 43};
    int dateTimeShown = 0;  // the program set the pickers
    int focus = 0;
    std::string title;
    std::vector<std::string> menu;
    window::Rect window{0, 0, 788, 574};  // the template's outer size at 8 points
    int frameWidth = 3;
    int captionHeight = 26;
    int repaints = 0;
    window::Rect screenArea{};  // unknown unless a test sets one
    bool languageMenuEnabled = true;
    std::optional<std::string> scanMenuEntry;
    struct FontRequest {
        std::string face;
        int points = 0;
        std::string language;
        friend bool operator==(const FontRequest&, const FontRequest&) = default;
    };
    std::vector<FontRequest> fontRequests;
    std::optional<window::Size> fontTemplateSize;
    std::vector<int> endResults;
    std::vector<std::string> messages;
    std::vector<std::string> informations;  // those of messages with the information icon
    std::deque<std::optional<std::string>> firmwareChoices;
    std::deque<std::optional<std::string>> bitmapChoices;
    std::deque<window::Choice> answers;
    std::vector<std::string> questions;
    std::vector<std::string> helpOpened;
    int imageWindowsOpened = 0;
    app::UtilityController* controller = nullptr;

  private:
    static std::optional<std::string> next(std::deque<std::optional<std::string>>& q);
};

}  // namespace q70::test
