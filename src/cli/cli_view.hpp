#pragma once
// q70ctl's window: controls are kept in memory, messages go to stderr, the firmware
// progress becomes a bar on a terminal or percentage lines otherwise, and dialogs are
// answered at once (no file is ever chosen, no question answered Yes).

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "window/window_view.hpp"

namespace q70::cli {

class CliView : public window::WindowView {
  public:
    CliView(std::ostream& err, bool errIsTerminal) : err_(err), terminal_(errIsTerminal) {}

    void setEnabled(int id, bool enabled) override { controls_[id].enabled = enabled; }
    void setVisible(int id, bool visible) override;
    void setText(int id, const std::string& text) override;
    std::string text(int id) const override;
    void setChecked(int id, bool checked) override { controls_[id].checked = checked; }
    bool isChecked(int id) const override;
    void setProgress(int percent) override { progress_ = percent; }
    link::DateTime pickedDateTime() const override { return dateTime_; }
    void setFocus(int) override {}

    void setTitle(const std::string&) override {}
    void setLanguageMenuTexts(const std::string&, const std::string&, const std::string&) override {
    }
    window::Rect windowRect() const override { return window_; }
    void moveWindow(const window::Rect& rect) override { window_ = rect; }
    window::Size clientSize() const override { return {window_.width(), window_.height()}; }
    window::Size controlSize(int) const override { return {77, 23}; }
    void moveControl(int, int, int, int, int) override {}
    void repaint() override {}
    void endDialog(int result) override { endResult_ = result; }

    void showMessage(const std::string& text) override;
    std::optional<std::string> chooseFirmwareFile() override { return std::nullopt; }
    window::Choice askYesNoCancel(const std::string&) override { return window::Choice::No; }
    std::optional<std::string> chooseBitmapFile() override { return std::nullopt; }
    void openHelp(const std::string&) override {}
    void showTestImage() override { ++imagesShown_; }

    // What q70ctl does in place of a user.
    void setPickedDateTime(const link::DateTime& dt) { dateTime_ = dt; }
    bool enabled(int id) const;
    bool visible(int id) const;
    int progress() const { return progress_; }
    int imagesShown() const { return imagesShown_; }
    std::optional<int> endResult() const { return endResult_; }
    // Ends a progress bar line on the terminal.
    void finishProgress();
    // While held, messages are kept instead of written; releasing writes them (or drops
    // them, when q70ctl says the same better itself).
    void holdMessages() { holding_ = true; }
    void releaseMessages(bool write);
    // Told of every message shown, after it has been written.
    std::function<void(const std::string&)> onMessage;

  private:
    struct Control {
        bool enabled = true;
        bool visible = true;
        bool checked = false;
        std::string text;
    };
    void drawProgress(const std::string& text);

    std::ostream& err_;
    bool terminal_;
    std::map<int, Control> controls_;
    link::DateTime dateTime_{};
    window::Rect window_{0, 0, 788, 574};
    int progress_ = 0;
    int shownProgress_ = -1;
    bool barOpen_ = false;
    int imagesShown_ = 0;
    std::optional<int> endResult_;
    bool holding_ = false;
    std::vector<std::string> held_;
};

}  // namespace q70::cli
