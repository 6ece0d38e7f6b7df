#include "sim/board_cli.hpp"

#include "link/date_time_text.hpp"

namespace q70::sim {

void BoardCli::addTo(CLI::App& app, const std::string& awayUntil) {
    auto settingCheck = CLI::Validator(
        [](std::string& s) {
            std::uint8_t v = 0;
            return parseSettingWord(s, v) ? std::string() : "expected 0, 1 or a word: " + s;
        },
        "0|1|WORD");

    app.add_option("--type", typeLetter, "Device-type letter in the device information (default W)")
        ->check([](const std::string& s) { return s.size() == 1 ? std::string() : "one letter"; });
    app.add_option("--version", version,
                   "Firmware version text (default \"Q70 Ver 1.20\", or the state file's)");
    app.add_option("--name", name, "Name drawn in big letters on the test image (default Q-70)");
    app.add_option("--print-mode", printMode, "Printed image: 0/original or 1/match")
        ->check(settingCheck);
    app.add_option("--save-mode", saveMode, "Saved image: 0/original or 1/match")
        ->check(settingCheck);
    app.add_option("--paper", paper, "Paper size: 0/a4 or 1/letter")->check(settingCheck);
    app.add_option("--margin", margin, "Binding margin: 0/disable or 1/enable")
        ->check(settingCheck);
    app.add_option("--time-stamp", timeStamp, "Time stamp: 0/disable or 1/enable (default 1)")
        ->check(settingCheck);
    app.add_option("--date-time", dateTime, "Board clock as YYYY-MM-DDTHH:MM");
    app.add_option(
        "--busy-ms", busyMs,
        "After a settings or clock write, report the busy state this long (default 1500)");
    app.add_option("--busy-state", busyState, "deviceState reported while busy, 2 to 6 (default 3)")
        ->check(CLI::Range(2, 6));
    app.add_option("--image-after", imageAfter, "Offer a test image this many ms after start");
    app.add_option("--image-every", imageEvery,
                   "Then offer one every this many ms (the first after this long when "
                   "--image-after is not given)");
    app.add_option("--fault", faultTexts,
                   "Misbehave on request, repeatable: KIND[:key=N]... (see below)")
        ->allow_extra_args(false);
    app.add_option("--lose-after", loseAfter,
                   "Vanish once this many packets (requests and answer packets together) have "
                   "crossed the link, even mid-image or mid-firmware");
    app.add_option(
        "--down-ms", downMs,
        "How long --lose-after keeps the board away (default 2000; 0: until " + awayUntil + ")");
}

bool BoardCli::build(BoardOptions& options, const BoardState& base, std::string& error) const {
    options.deviceType = typeLetter[0];
    options.name = name;
    options.busyMs = busyMs;
    options.busyState = static_cast<std::uint8_t>(busyState);
    options.firstImageAfterMs = imageAfter;
    if (!imageAfter && imageEvery > 0) options.firstImageAfterMs = imageEvery;
    options.imageEveryMs = imageEvery;
    options.loseAfterPackets = loseAfter;
    options.loseDownMs = downMs;
    options.faults.clear();
    for (const std::string& faultText : faultTexts) {
        Fault f;
        if (!parseFault(faultText, f, error)) return false;
        options.faults.push_back(f);
    }

    BoardState state = base;
    auto apply = [](const std::string& text, std::uint8_t& field) {
        if (!text.empty()) parseSettingWord(text, field);
    };
    apply(printMode, state.settings.printMode);
    apply(saveMode, state.settings.saveMode);
    apply(paper, state.settings.paper);
    apply(margin, state.settings.margin);
    apply(timeStamp, state.settings.timeStamp);
    std::string dateError;
    if (!dateTime.empty() && !link::parseDateTime(dateTime, state.dateTime, dateError)) {
        error = "bad --date-time: " + dateError;
        return false;
    }
    if (!version.empty()) state.version = version;
    options.settings = state.settings;
    options.dateTime = state.dateTime;
    options.version = state.version;
    return true;
}

std::string BoardCli::faultHelp(const std::string& awayUntil) {
    return R"(Faults (--fault KIND[:key=N]...):
  fe        answer 0xFE instead of the normal answer
  ff        answer 0xFF instead of the normal answer
  short     answer with a packet of 1 to 4 bytes (key size, default 4)
  mismatch  answer with another code (key answer, default 3: no such request)
  silence   do not answer at all
  lose      vanish from the link (key down: ms away, default 2000; 0: until
            )" +
           awayUntil + R"();
            key after=N first lets N answer packets of that request out
            (e.g. lose:code=4:after=20 vanishes in the middle of a test image)
  forget    acknowledge the request but do not carry it out (a write the board
            says it took and forgets: forget:code=18 keeps the old paper size)

Keys for every kind:
  code=N    only requests with this code (1 info, 2 status, 4 test image, 5 date
            and time, 6 print mode, 13 version, 17 save mode, 18 paper, 19 margin,
            20 time stamp, 22 firmware data)
  from=N    only the board's Nth request and later (counting from 1 since start)
  skip=N    let the first N matching requests through
  times=N   strike this many matching requests (default 1; 0: every one)

A struck request is not carried out (except lose with after=N). For example:
fe:code=18, silence:from=9, lose:code=22:skip=2.)";
}

}  // namespace q70::sim
