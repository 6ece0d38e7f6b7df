#include "sim/board_config.hpp"

#include "link/date_time_text.hpp"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace q70::sim {
namespace {

bool parseNumber(std::string_view text, std::uint64_t& out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

struct KindName {
    FaultKind kind;
    std::string_view name;
};
constexpr KindName kKinds[] = {
    {FaultKind::AnswerNoAction, "fe"}, {FaultKind::AnswerContinue, "ff"},
    {FaultKind::ShortPacket, "short"}, {FaultKind::MismatchedCode, "mismatch"},
    {FaultKind::Silence, "silence"},   {FaultKind::Lose, "lose"},
    {FaultKind::Forget, "forget"},
};

struct Setting {
    std::string_view key;
    std::uint8_t BoardSettings::*field;
};
constexpr Setting kSettingKeys[] = {
    {"print-mode", &BoardSettings::printMode}, {"save-mode", &BoardSettings::saveMode},
    {"paper", &BoardSettings::paper},          {"margin", &BoardSettings::margin},
    {"time-stamp", &BoardSettings::timeStamp},
};

}  // namespace

bool parseFault(std::string_view text, Fault& out, std::string& error) {
    const std::string quoted = "\"" + std::string(text) + "\"";
    Fault f;
    const std::size_t colon = text.find(':');
    const std::string_view kind = text.substr(0, colon);
    bool known = false;
    for (const KindName& k : kKinds) {
        if (k.name == kind) {
            f.kind = k.kind;
            known = true;
        }
    }
    if (!known) {
        error = "Bad fault " + quoted +
                ": it must start with fe, ff, short, mismatch, silence, lose or forget.";
        return false;
    }

    std::string_view rest =
        colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
    while (!rest.empty()) {
        const std::size_t next = rest.find(':');
        const std::string_view item = rest.substr(0, next);
        rest = next == std::string_view::npos ? std::string_view{} : rest.substr(next + 1);
        const std::size_t eq = item.find('=');
        std::uint64_t v = 0;
        if (eq == std::string_view::npos || !parseNumber(item.substr(eq + 1), v)) {
            error = "Bad fault " + quoted + ": \"" + std::string(item) + "\" is not key=number.";
            return false;
        }
        const std::string_view key = item.substr(0, eq);
        auto fits = [&](std::uint64_t max) {
            if (v <= max) return true;
            error = "Bad fault " + quoted + ": " + std::string(key) + " must be at most " +
                    std::to_string(max) + ".";
            return false;
        };
        if (key == "code") {
            if (!fits(255)) return false;
            f.requestCode = static_cast<int>(v);
        } else if (key == "from") {
            f.fromRequest = v;
        } else if (key == "skip") {
            if (!fits(UINT32_MAX)) return false;
            f.skip = static_cast<std::uint32_t>(v);
        } else if (key == "times") {
            if (!fits(UINT32_MAX)) return false;
            f.times = static_cast<std::uint32_t>(v);
        } else if (key == "size" && f.kind == FaultKind::ShortPacket) {
            if (v < 1 || !fits(4)) {
                error = "Bad fault " + quoted + ": size must be 1 to 4.";
                return false;
            }
            f.shortSize = static_cast<std::uint8_t>(v);
        } else if (key == "answer" && f.kind == FaultKind::MismatchedCode) {
            if (!fits(255)) return false;
            f.answerCode = static_cast<std::uint8_t>(v);
        } else if (key == "after" && f.kind == FaultKind::Lose) {
            if (!fits(UINT32_MAX)) return false;
            f.answerPackets = static_cast<std::uint32_t>(v);
        } else if (key == "down" && f.kind == FaultKind::Lose) {
            if (!fits(UINT32_MAX)) return false;
            f.downMs = static_cast<std::uint32_t>(v);
        } else {
            error = "Bad fault " + quoted + ": " + std::string(kind) + " takes no key \"" +
                    std::string(key) + "\".";
            return false;
        }
    }
    out = f;
    return true;
}

std::string describeFault(const Fault& f) {
    std::string s;
    for (const KindName& k : kKinds)
        if (k.kind == f.kind) s = std::string(k.name);
    if (f.requestCode >= 0) s += ":code=" + std::to_string(f.requestCode);
    if (f.fromRequest > 0) s += ":from=" + std::to_string(f.fromRequest);
    if (f.skip > 0) s += ":skip=" + std::to_string(f.skip);
    s += ":times=" + std::to_string(f.times);
    if (f.kind == FaultKind::ShortPacket) s += ":size=" + std::to_string(f.shortSize);
    if (f.kind == FaultKind::MismatchedCode) s += ":answer=" + std::to_string(f.answerCode);
    if (f.kind == FaultKind::Lose) {
        s += ":after=" + std::to_string(f.answerPackets) + ":down=" + std::to_string(f.downMs);
    }
    return s;
}

bool parseSettingWord(std::string_view text, std::uint8_t& value) {
    if (text == "0" || text == "disable" || text == "a4" || text == "original") {
        value = 0;
    } else if (text == "1" || text == "enable" || text == "letter" || text == "match") {
        value = 1;
    } else {
        return false;
    }
    return true;
}

bool loadBoardState(const std::filesystem::path& file, BoardState& state, std::string& error) {
    std::ifstream in(file);
    if (!in) {
        error = "Cannot read the state file " + file.string() + ".";
        return false;
    }
    BoardState loaded = state;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        bool ok = eq != std::string::npos;
        bool handled = false;
        for (const Setting& s : kSettingKeys) {
            if (key == s.key) {
                handled = true;
                ok = ok && parseSettingWord(value, loaded.settings.*s.field);
            }
        }
        if (!handled && key == "date-time") {
            std::string ignored;
            ok = ok && link::parseDateTime(value, loaded.dateTime, ignored);
        }
        if (!handled && key == "version") loaded.version = value;
        if (!ok) {
            error = "Bad line " + std::to_string(number) + " in the state file " + file.string() +
                    ": " + line;
            return false;
        }
    }
    state = loaded;
    return true;
}

bool saveBoardState(const std::filesystem::path& file, const BoardState& state,
                    std::string& error) {
    std::filesystem::path temp = file;
    temp += ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        if (out) {
            out << "# q70-board-sim state\n";
            for (const Setting& s : kSettingKeys)
                out << s.key << '=' << int(state.settings.*s.field) << '\n';
            out << "date-time=" << link::formatDateTime(state.dateTime) << '\n';
            out << "version=" << state.version << '\n';
        }
        out.flush();
        if (!out) {
            error = "Cannot write the state file " + temp.string() + ".";
            std::error_code ec;
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, file, ec);
    if (ec) {
        error = "Cannot replace the state file " + file.string() + ": " + ec.message();
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

}  // namespace q70::sim
