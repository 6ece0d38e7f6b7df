#include "cli/cli.hpp"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/arguments.hpp"
#include "cli/record.hpp"
#include "link/date_time_text.hpp"
#include "link/device_address.hpp"
#include "transport/system_transport.hpp"

namespace q70::cli {

namespace {

constexpr const char* kVersion = "q70ctl " Q70_VERSION;

// Laid out for help2man as well: each item a word, two spaces, its text.
constexpr const char* kFooter = R"(Usage of the commands:
  list [--json]         the boards connected by USB and their addresses
  info [--json]         device information, firmware version and status
  get [--json]          the five settings
  set [NAME=VALUE ...] [--time now|YYYY-MM-DDTHH:MM]
                        write the five settings and the clock; NAME: time-stamp,
                        margin, paper, print-mode, save-mode; VALUE: 0/1 or
                        disable/enable, a4/letter, original/match
  update FILE           send a firmware file
  test-image -o OUT.bmp [--raw RAW] [--wait SECONDS]
                        save the board's next test image
  decode RAW --width W --height H -o OUT.bmp
                        turn saved raw test-image data into a BMP
q70ctl COMMAND --help tells more about each.

Device addresses:
  usb              the first board on USB (usb:VVVV:PPPP picks vendor and product id)
  usb:BUS-PORT     the board on that bus and port path, e.g. usb:1-4.2 (see list)
  unix:PATH        a board served on a Unix-domain socket (q70-board-sim --listen PATH)
  sim              the simulated board built into q70ctl
  \\.\NAME          on Windows: the board's driver, \\.\CPYBRD0 (the default there), or
                   a named pipe, \\.\pipe\NAME (q70-board-sim --listen \\.\pipe\NAME)

Every device command first reads the board as the window does when it opens (device
information, firmware version, the five settings, status).

Exit status:
  0  everything asked for was done
  1  the operation failed: the board refused or answered wrongly, a bad packet, the
     board was lost, a file could not be read or written
  2  bad arguments
  3  the device could not be opened
  4  timeout: no answer within --timeout, or no test image within --wait

Messages go to stderr, in the language of Q70Uty.ini beside the executable.)";

constexpr const char* kCommandFooter =
    "Also takes --device ADDRESS and --timeout MS; q70ctl --help lists the device addresses "
    "and exit codes.";

struct Options {
    std::string device = transport::defaultDeviceAddress();
    int timeoutMs = 5000;
    bool json = false;
    std::vector<std::string> assignments;
    std::string time = "now";
    std::string file;
    std::string out;
    std::string raw;
    int waitSeconds = 60;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// One line per board, the address first, so that a shell can take the first word.
int listBoards(Environment& env, bool json) {
    std::vector<link::FoundBoard> boards;
    std::string error;
    if (!env.listBoards) {
        env.err << "q70ctl: This build has no USB support.\n";
        return kExitNoDevice;
    }
    if (!env.listBoards(boards, error)) {
        env.err << "q70ctl: " << error << '\n';
        return kExitNoDevice;
    }
    if (json) env.out << '[';
    for (std::size_t i = 0; i < boards.size(); ++i) {
        const link::FoundBoard& b = boards[i];
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", b.vendorId, b.productId);
        if (json) {
            Record r;
            r.text("address", "usb:" + b.port);
            r.text("port", b.port);
            r.number("bus", b.bus);
            r.number("device", b.device);
            r.text("id", id);
            r.text("serial", b.serial);
            std::ostringstream one;
            r.printJson(one);
            std::string text = one.str();
            if (!text.empty() && text.back() == '\n') text.pop_back();
            env.out << (i == 0 ? "" : ", ") << text;
        } else {
            env.out << "usb:" << b.port << " bus=" << b.bus << " device=" << b.device
                    << " id=" << id;
            if (!b.serial.empty()) env.out << " serial=" << b.serial;
            env.out << '\n';
        }
    }
    if (json) env.out << "]\n";
    env.out << std::flush;
    if (boards.empty() && !json) env.err << "q70ctl: no Q-70 board is connected by USB.\n";
    return kExitOk;
}

}  // namespace

int run(int argc, const char* const* argv, Environment& env) {
    CLI::App app{
        "q70ctl: reads and writes a Q-70 copy board's settings and clock, updates its "
        "firmware and saves its test image, without a window."};
    app.name("q70ctl");
    // CLI11 takes /x for an option on Windows; a path like /dev/zero must stay a path.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", kVersion);
    app.require_subcommand(1);
    app.fallthrough();  // --device and --timeout also after the command
    app.get_formatter()->column_width(30);

    Options o;
    app.add_option("--device", o.device, "The board: usb, usb:VVVV:PPPP, unix:PATH or sim")
        ->capture_default_str()
        ->type_name("ADDRESS");
    app.add_option("--timeout", o.timeoutMs, "Longest wait for one answer, in ms")
        ->capture_default_str()
        ->check(CLI::Range(1, 3'600'000).description(""))
        ->type_name("MS");

    CLI::App* list = app.add_subcommand(
        "list", "Print the boards connected by USB, one a line: address, bus, device, id, serial");
    list->add_flag("--json", o.json, "Print one JSON array of objects with the same names");

    CLI::App* info = app.add_subcommand(
        "info", "Print the device information, firmware version and status as NAME=VALUE lines");
    CLI::App* get = app.add_subcommand("get", "Print the five settings as NAME=WORD lines");
    for (CLI::App* command : {info, get}) {
        command->add_flag("--json", o.json,
                          "Print one JSON object instead, with the same names (man q70ctl)");
    }

    CLI::App* set = app.add_subcommand(
        "set", "Write the five settings and the date and time, as the window's Apply does");
    set->add_option("SETTINGS", o.assignments,
                    "time-stamp, margin, paper, print-mode or save-mode = 0, 1 or a word "
                    "(disable/enable, a4/letter, original/match); settings not named keep the "
                    "board's values")
        ->type_name("NAME=VALUE");
    set->add_option("--time", o.time, "The date and time to write: now or YYYY-MM-DDTHH:MM (local)")
        ->capture_default_str()
        ->type_name("TIME");

    CLI::App* update = app.add_subcommand("update", "Send a firmware file (Motorola S-records)");
    update->add_option("FILE", o.file, "The .mot file; the board is told this name as given")
        ->required();

    CLI::App* image = app.add_subcommand(
        "test-image", "Wait for the board to offer its test image, receive it and save it as BMP");
    image->add_option("-o,--output", o.out, "The BMP file to write")
        ->required()
        ->type_name("OUT.bmp");
    image->add_option("--raw", o.raw, "Also keep the image data exactly as received")
        ->type_name("RAW");
    image->add_option("--wait", o.waitSeconds, "How long to wait for the board's offer")
        ->capture_default_str()
        ->check(CLI::Range(0, 86'400).description(""))
        ->type_name("SECONDS");

    CLI::App* decode = app.add_subcommand(
        "decode", "Turn saved raw test-image data (as rawdata.bin) into a BMP, without a board");
    decode->add_option("RAW", o.file, "The raw data")
        ->required()
        ->check(CLI::ExistingFile.description(""))
        ->type_name("");
    decode->add_option("--width", o.width, "Scan lines in the image (its width in pixels)")
        ->required()
        ->check(CLI::Range(1, 65'535).description(""))
        ->type_name("W");
    decode
        ->add_option("--height", o.height,
                     "Dots per scan line (its height in pixels), a multiple of 8")
        ->required()
        ->check(CLI::Range(8, 65'535 * 8).description(""))
        ->type_name("H");
    decode->add_option("-o,--output", o.out, "The BMP file to write")
        ->required()
        ->type_name("OUT.bmp");

    // Set last, so that the commands do not inherit it.
    app.footer(kFooter);
    for (CLI::App* command : {info, get, set, update, image}) command->footer(kCommandFooter);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e, env.out, env.err);
        return rc == 0 ? kExitOk : kExitUsage;
    }

    if (list->parsed()) return listBoards(env, o.json);
    if (decode->parsed()) {
        if (o.height % 8 != 0) {
            env.err << "q70ctl: --height must be a multiple of 8 (dots come in bytes of 8)\n";
            return kExitUsage;
        }
        return decodeRawFile(env.err, o.file, o.width, o.height, o.out);
    }

    // Everything that can be checked without the board is checked before it is touched.
    std::vector<SettingAssignment> assignments;
    std::optional<link::DateTime> time;
    std::string error;
    if (set->parsed()) {
        if (!parseAssignments(o.assignments, assignments, error)) {
            env.err << "q70ctl: set: " << error << '\n';
            return kExitUsage;
        }
        if (o.time != "now") {
            link::DateTime dt;
            if (!link::parseDateTime(o.time, dt, error)) {
                env.err << "q70ctl: set --time: " << error << '\n';
                return kExitUsage;
            }
            time = dt;
        }
    }
    link::DeviceAddress address;
    if (!link::parseDeviceAddress(o.device, address, error)) {
        env.err << "q70ctl: --device: " << error << '\n';
        return kExitUsage;
    }
    std::unique_ptr<link::DeviceTransport> transport =
        env.makeTransport(address, env.scheduler, error);
    if (!transport) {
        env.err << "q70ctl: " << error << '\n';
        return kExitNoDevice;
    }

    Session session(env, std::move(transport), o.timeoutMs);
    const bool needData = info->parsed() || get->parsed() || set->parsed();
    const int rc = session.start(needData);
    if (rc != kExitOk) return rc;
    if (info->parsed()) return session.info(o.json);
    if (get->parsed()) return session.get(o.json);
    if (set->parsed()) return session.set(assignments, time);
    if (update->parsed()) return session.update(o.file);
    return session.testImage(o.out, o.raw, o.waitSeconds);
}

}  // namespace q70::cli
