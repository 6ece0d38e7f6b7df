#include "support/fake_view.hpp"

#include "settings/settings_model.hpp"
#include "window/control_ids.hpp"

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

void FakeView::editDate(const link::DateTime& dt) {
    dateTime = dt;
    if (controller != nullptr) controller->onDateTimeChanged(window::id::DatePicker);
}

}  // namespace q70::test
