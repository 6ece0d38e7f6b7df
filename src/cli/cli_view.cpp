#include "cli/cli_view.hpp"

#include <algorithm>

#include "window/control_ids.hpp"

namespace q70::cli {

namespace id = window::id;

void CliView::setVisible(int id, bool visible) {
    controls_[id].visible = visible;
    if (id == id::Progress && !visible) finishProgress();
}

void CliView::setText(int id, const std::string& text) {
    controls_[id].text = text;
    // The controller sets the bar, then the line that names the percentage.
    if (id == id::ProgressText && !text.empty() && visible(id::Progress)) drawProgress(text);
}

std::string CliView::text(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? std::string() : it->second.text;
}

bool CliView::isChecked(int id) const {
    const auto it = controls_.find(id);
    return it != controls_.end() && it->second.checked;
}

bool CliView::enabled(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() || it->second.enabled;
}

bool CliView::visible(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() || it->second.visible;
}

void CliView::showMessage(const std::string& text) {
    if (holding_) {
        held_.push_back(text);
    } else {
        finishProgress();
        err_ << text << '\n' << std::flush;
    }
    if (onMessage) onMessage(text);
}

void CliView::releaseMessages(bool write) {
    holding_ = false;
    if (write) {
        for (const std::string& m : held_) err_ << m << '\n';
        err_ << std::flush;
    }
    held_.clear();
}

void CliView::drawProgress(const std::string& text) {
    const int percent = std::clamp(progress_, 0, 100);
    if (!terminal_) {
        // A log gets one line per step, not a line per redraw.
        if (percent == shownProgress_) return;
        shownProgress_ = percent;
        err_ << text << '\n' << std::flush;
        return;
    }
    constexpr int kBarWidth = 30;
    const int filled = percent * kBarWidth / 100;
    err_ << '\r' << '[' << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << text
         << "\x1b[K" << std::flush;
    shownProgress_ = percent;
    barOpen_ = true;
}

void CliView::finishProgress() {
    if (!barOpen_) return;
    err_ << '\n' << std::flush;
    barOpen_ = false;
}

}  // namespace q70::cli
