#include "support/fake_view.hpp"

#include "settings/settings_model.hpp"
#include "window/control_ids.hpp"
#include "window/dialog_template.hpp"

namespace q70::test {

namespace {
const FakeView::Control kAbsent{};
}

std::string FakeView::text(int id) const {
    return control(id).text;
}

bool FakeView::isChecked(int id) const {
    return control(id).checked;
}

const FakeView::Control& FakeView::control(int id) const {
    auto it = controls.find(id);
    return it == controls.end() ? kAbsent : it->second;
}

window::Size FakeView::controlSize(int id) const {
    const Control& c = control(id);
    return {c.width, c.height};
}

void FakeView::moveControl(int id, int x, int y, int w, int h) {
    Control& c = controls[id];
    c.x = x;
    c.y = y;
    c.width = w;
    c.height = h;
}

bool FakeView::setDialogFont(const std::string& face, int points, const std::string& language) {
    fontRequests.push_back({face, points, language});
    if (!fontTemplateSize) return false;
    window = {window.left, window.top, window.left + fontTemplateSize->width,
              window.top + fontTemplateSize->height};
    return true;
}

window::Choice FakeView::askYesNoCancel(const std::string& t) {
    questions.push_back(t);
    if (answers.empty()) return window::Choice::Cancel;
    const window::Choice a = answers.front();
    answers.pop_front();
    return a;
}

std::optional<std::string> FakeView::next(std::deque<std::optional<std::string>>& q) {
    if (q.empty()) return std::nullopt;
    auto v = q.front();
    q.pop_front();
    return v;
}

void FakeView::click(int id) {
    if (!control(id).enabled) return;  // a disabled control takes no clicks
    if (const auto s = settings::settingForRadio(id)) {
        const auto& i = settings::info(*s);
        controls[i.radioIds[0]].checked = i.radioIds[0] == id;
        controls[i.radioIds[1]].checked = i.radioIds[1] == id;
    }
    if (controller != nullptr) controller->onCommand(id);
}

void FakeView::typePath(const std::string& t) {
    controls[window::id::FirmwarePath].text = t;
    if (controller != nullptr) controller->onFirmwarePathEdited();
}

std::vector<int> FakeView::tabStops() const {
    std::vector<int> stops;
    for (const window::ControlTemplate& c : window::mainDialogControls()) {
        const Control& state = control(c.id);
        const bool stop = state.tabStop.value_or(c.has(window::style::TabStop));
        const bool shown = state.visible && !c.has(window::style::Invisible);
        if (stop && shown && state.enabled) stops.push_back(c.id);
    }
    return stops;
}

void FakeView::arrowFrom(int radioId) {
    for (const window::RadioPair& pair : window::radioPairs()) {
        if (pair.first != radioId && pair.second != radioId) continue;
        const int other = pair.first == radioId ? pair.second : pair.first;
        if (!control(other).enabled) return;
        focus = other;
        if (!control(other).checked) click(other);
    }
}

void FakeView::editDate(const link::DateTime& dt) {
    dateTime = dt;
    if (controller != nullptr) controller->onDateTimeChanged(window::id::DatePicker);
}

}  // namespace q70::test
