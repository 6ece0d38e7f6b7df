#include "cli/cli.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/arguments.hpp"
#include "cli/boards.hpp"
#include "cli/record.hpp"
#include "config/paths.hpp"
#include "firmware/firmware_check.hpp"
#include "link/date_time_text.hpp"
#include "link/device_address.hpp"
#include "system/process_environment.hpp"
#include "transport/system_transport.hpp"

namespace q70::cli {

namespace {

constexpr const char* kVersion = "q70ctl " Q70_VERSION;

// What this build can reach and where its messages come from: the help lists only these.
#if defined(Q70_HAVE_USB)
#define Q70_LIST_HELP "the boards connected by USB and their addresses"
#else
#define Q70_LIST_HELP "the boards connected by USB (this build has no USB: none)"
#endif
// Where the JSON fields are told: the manual page, which only the Linux build has.
#if defined(_WIN32)
#define Q70_FIELDS_HELP ""
#else
#define Q70_FIELDS_HELP " (man q70ctl)"
#endif
#if defined(_WIN32)
constexpr const char* kAddressHelp = R"(Device addresses (--device, repeatable):
  \\.\CPYBRD0       the board's own driver (the default)
  \\.\pipe\NAME     a board served on a named pipe (q70-board-sim --listen \\.\pipe\NAME)
  sim              the simulated board built into q70ctl
)";
constexpr const char* kDeviceOptionHelp =
    "The board: \\\\.\\CPYBRD0, \\\\.\\pipe\\NAME or sim; repeatable";
constexpr const char* kMessagesHelp =
    "Messages go to stderr, in the language of the user's Q70Uty.ini in %LOCALAPPDATA%\\q70\n"
    "(made from the one beside q70ctl.exe when first needed).";
#elif defined(Q70_HAVE_USB)
constexpr const char* kAddressHelp = R"(Device addresses (--device, repeatable):
  usb              the first board on USB (usb:VVVV:PPPP picks vendor and product id)
  usb:BUS-PORT     the board on that bus and port path, e.g. usb:1-4.2 (see list)
  all              every board that list finds
  unix:PATH        a board served on a Unix-domain socket (q70-board-sim --listen PATH)
  sim              the simulated board built into q70ctl
)";
constexpr const char* kDeviceOptionHelp =
    "The board: usb, usb:VVVV:PPPP, usb:BUS-PORT, all, unix:PATH or sim; repeatable";
constexpr const char* kMessagesHelp =
    "Messages go to stderr, in the language of Q70Uty.ini beside the executable (for an\n"
    "installed program, the user's copy in ~/.local/share/q70).";
#else
constexpr const char* kAddressHelp = R"(Device addresses (--device, repeatable):
  unix:PATH        a board served on a Unix-domain socket (q70-board-sim --listen PATH)
  sim              the simulated board built into q70ctl
)";
constexpr const char* kDeviceOptionHelp = "The board: unix:PATH or sim; repeatable";
constexpr const char* kMessagesHelp =
    "Messages go to stderr, in the language of Q70Uty.ini beside the executable (for an\n"
    "installed program, the user's copy in ~/.local/share/q70).";
#endif

// Laid out for help2man as well: each item a word, two spaces, its text.
constexpr const char* kCommandsHelp =
    "Usage of the commands:\n"
    "  list [--json]         " Q70_LIST_HELP
    "\n"
    R"(  info [--json]         device information, firmware version, status, the five
                        settings and where the board was reached
  get [--json]          the five settings
  set [NAME=VALUE ...] [--time now|YYYY-MM-DDTHH:MM] [--json]
                        write the five settings and the clock; NAME: time-stamp,
                        margin, paper, print-mode, save-mode; VALUE: 0/1 or
                        disable/enable, a4/letter, original/match
  update FILE [--no-check] [--json]
                        check a firmware file and send it
  test-image -o OUT.bmp [--raw RAW] [--wait SECONDS] [--image-timeout SECONDS]
             [--json]
                        save the board's next test image (-o -: to stdout)
  firmware-check FILE [--json]
                        check a firmware file as S-records, without a board
  decode RAW --width W --height H -o OUT.bmp
                        turn saved raw test-image data into a BMP
q70ctl COMMAND --help tells more about each.

)";

constexpr const char* kBehaviourHelp = R"(
Every device command first reads the board as the window does when it opens (device
information, firmware version, the five settings, status). With several boards
(--device more than once) every board runs at once, each on its own link: each line
of output starts with the board's address, or with --json each board prints its own
JSON line; test-image -o then needs {device} in its file names.

A board is driven by one program at a time: while another program (the window or
another q70ctl) has it, q70ctl ends at once with exit status 5, or with --wait-busy
waits for it.

Exit status:
  0  everything asked for was done (on every board)
  1  the operation failed otherwise: a damaged or unexpected answer, a file that
     cannot be read or written
  2  bad arguments
  3  the device could not be opened
  4  timeout: no answer within --timeout, no test image within --wait, or an
     image that did not arrive whole within --image-timeout
  5  busy: another program is using the board
  6  refused: the board did not take a write, a firmware chunk or an update
  7  lost: the board went away in the middle of the job
With several boards, the status of the first board that failed, in address order.
With --json a failure also prints one JSON object on stderr)" Q70_FIELDS_HELP R"(.

)";

constexpr const char* kCommandFooter =
    "Also takes --device ADDRESS, --timeout MS and --wait-busy SECONDS; q70ctl --help lists "
    "the device addresses and exit codes.";

std::string footer() {
    return std::string(kCommandsHelp) + kAddressHelp + kBehaviourHelp + kMessagesHelp;
}

enum class Command { Info, Get, Set, Update, TestImage };

struct Options {
    std::vector<std::string> devices;
    int timeoutMs = 5000;
    int waitBusySeconds = 0;
    bool json = false;
    std::vector<std::string> assignments;
    std::string time = "now";
    std::string file;
    std::string out;
    std::string raw;
    int waitSeconds = 60;
    // The largest picture a board makes (2160 x 1504, at most about 400 KiB of data) takes
    // seconds; even 64 MiB, the most the link carries, comes over full-speed USB in about
    // a minute. Twice that is room enough, and a stuck transfer still ends.
    int imageSeconds = 120;
    bool noCheck = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Everything a board's run needs, checked before any board is touched.
struct Plan {
    Command command = Command::Info;
    const Options* options = nullptr;
    std::vector<SettingAssignment> assignments;
    std::optional<link::DateTime> time;
    bool several = false;
};

struct BoardResult {
    int exit = kExitOk;
    Failure failure;
};

// One line on stderr: {"schema": 1, "error": CLASS, "exit": N, "message": TEXT, "device": …}
void printError(std::ostream& err, const Failure& f, const std::optional<std::string>& device) {
    Record r;
    r.number("schema", kJsonSchema);
    r.text("error", className(f.cls));
    r.number("exit", exitCodeOf(f.cls));
    r.text("message", f.message);
    if (device) {
        r.text("device", *device);
    } else {
        r.null("device");
    }
    r.printJson(err);
}

// A failure before any board: said on stderr, and as JSON with --json.
int refuse(Environment& env, bool json, ErrorClass cls, const std::string& message,
           const std::optional<std::string>& device = std::nullopt) {
    env.err << "q70ctl: " << message << '\n' << std::flush;
    if (json) printError(env.err, {cls, message}, device);
    return exitCodeOf(cls);
}

// One line per board, the address first, so that a shell can take the first word.
int listBoards(Environment& env, bool json) {
    std::vector<link::FoundBoard> boards;
    std::string error;
    if (!env.listBoards) {
        return refuse(env, json, ErrorClass::NoDevice, "This build has no USB support.");
    }
    if (!env.listBoards(boards, error)) return refuse(env, json, ErrorClass::NoDevice, error);
    if (json) env.out << '[';
    for (std::size_t i = 0; i < boards.size(); ++i) {
        const link::FoundBoard& b = boards[i];
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", b.vendorId, b.productId);
        if (json) {
            // An array holds no field of its own: each board carries the schema.
            Record r;
            r.number("schema", kJsonSchema);
            r.text("address", "usb:" + b.port);
            r.text("port", b.port);
            r.number("bus", b.bus);
            r.number("device", b.device);
            r.text("id", id);
            r.foreignText("serial", b.serial);
            env.out << (i == 0 ? "" : ", ") << r.json();
        } else {
            env.out << "usb:" << b.port << " bus=" << b.bus << " device=" << b.device
                    << " id=" << id;
            if (!b.serial.empty()) env.out << " serial=" << lineEscaped(b.serial);
            env.out << '\n';
        }
    }
    if (json) env.out << "]\n";
    env.out << std::flush;
    if (boards.empty() && !json) env.err << "q70ctl: no Q-70 board is connected by USB.\n";
    return kExitOk;
}

// firmware-check: the report on stdout; a file that fails also as a failure on stderr.
int checkFirmware(Environment& env, const std::string& path, bool json) {
    std::string text;
    std::string error;
    if (!firmware::readFirmwareFile(path, text, error)) {
        return refuse(env, json, ErrorClass::BadFile, error);
    }
    const firmware::FirmwareCheck c = firmware::checkSRecords(text);
    Record r;
    if (json) r.number("schema", kJsonSchema);
    r.text("file", path);
    r.flag("valid", c.valid());
    r.foreignText("header", c.header);
    r.number("records", static_cast<std::int64_t>(c.records));
    r.number("data-bytes", static_cast<std::int64_t>(c.dataBytes));
    r.number("first-address", static_cast<std::int64_t>(c.firstAddress));
    r.number("last-address", static_cast<std::int64_t>(c.lastAddress));
    if (c.startAddress) {
        r.number("start-address", static_cast<std::int64_t>(*c.startAddress));
    } else {
        r.null("start-address");
    }
    std::vector<std::int64_t> longLines(c.longLines.begin(), c.longLines.end());
    std::vector<std::int64_t> badLines;
    for (const firmware::BadLine& b : c.badLines)
        badLines.push_back(static_cast<std::int64_t>(b.line));
    r.numbers("long-lines", longLines);
    r.numbers("bad-lines", badLines);
    if (json) {
        r.printJson(env.out);
    } else {
        r.printLines(env.out);
    }
    if (c.valid()) return kExitOk;
    for (const firmware::BadLine& b : c.badLines) {
        env.err << "q70ctl: " << path << ": line " << b.line << ": " << b.why << '\n';
    }
    const std::string message =
        c.records == 0 ? path + " holds no S-records"
                       : path + " has " + std::to_string(c.badLineCount) + " bad line" +
                             (c.badLineCount == 1 ? "" : "s") + ", the first at line " +
                             std::to_string(c.badLines.front().line);
    return refuse(env, json, ErrorClass::BadFile, message);
}

// update: the file is checked before any board is touched. Empty when it passes.
std::optional<Failure> checkBeforeUpdate(Environment& env, const std::string& path) {
    std::string text;
    std::string error;
    if (!firmware::readFirmwareFile(path, text, error)) {
        return Failure{ErrorClass::BadFile, error};
    }
    const firmware::FirmwareCheck c = firmware::checkSRecords(text);
    if (c.valid()) return std::nullopt;
    for (const firmware::BadLine& b : c.badLines) {
        env.err << "q70ctl: " << path << ": line " << b.line << ": " << b.why << '\n';
    }
    std::string message = c.records == 0 ? path + " holds no S-records"
                                         : path + " is no good S-record file (" +
                                               std::to_string(c.badLineCount) +
                                               (c.badLineCount == 1 ? " bad line)" : " bad lines)");
    return Failure{ErrorClass::BadFile,
                   message + "; nothing was sent (--no-check sends it as it is)"};
}

// The whole job on one board; its lines go to env's streams.
BoardResult runBoard(Environment& env, const Plan& plan, const std::string& address) {
    const Options& o = *plan.options;
    link::DeviceAddress parsed;
    std::string error;
    link::parseDeviceAddress(address, parsed, error);  // checked before the run
    std::unique_ptr<link::DeviceTransport> transport =
        env.makeTransport(parsed, env.scheduler, error);
    if (!transport) {
        env.err << "q70ctl: " << error << '\n' << std::flush;
        return {kExitNoDevice, {ErrorClass::NoDevice, error}};
    }
    SessionOptions options{o.timeoutMs, o.waitBusySeconds, address, o.json, {}};
    // Boards at once would write one rawdata.bin over another; each keeps its own (--raw
    // says where), and the shared one is left alone.
    std::string scratch;
    if (plan.several) {
        scratch = system::makeTempFolder("q70ctl-raw-");
        options.rawDataFolder = scratch;
    }
    int rc = kExitOk;
    std::optional<Failure> failure;
    {
        Session session(env, std::move(transport), options);
        const bool needData = plan.command == Command::Info || plan.command == Command::Get ||
                              plan.command == Command::Set;
        rc = session.start(needData);
        if (rc == kExitOk) {
            switch (plan.command) {
                case Command::Info:
                    rc = session.info();
                    break;
                case Command::Get:
                    rc = session.get();
                    break;
                case Command::Set:
                    rc = session.set(plan.assignments, plan.time);
                    break;
                case Command::Update:
                    rc = session.update(o.file);
                    break;
                case Command::TestImage:
                    rc = session.testImage(
                        expandDevice(o.out, address),
                        o.raw.empty() ? std::string() : expandDevice(o.raw, address), o.waitSeconds,
                        o.imageSeconds);
                    break;
            }
        }
        failure = session.failure();
    }
    if (!scratch.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(config::pathFromUtf8(scratch), ec);
    }
    if (rc == kExitOk) return {};
    return {rc, failure.value_or(Failure{ErrorClass::Io, "the operation failed"})};
}

// Several boards' stdout, in address order: a board's lines go out as soon as every
// board before it has finished, so that the output is the same from run to run.
class OrderedOutput {
  public:
    OrderedOutput(std::ostream& target, std::mutex& mutex, std::size_t boards)
        : target_(target), mutex_(mutex), blocks_(boards), done_(boards, false) {}

    void finished(std::size_t board, std::string lines) {
        std::lock_guard lock(mutex_);
        blocks_[board] = std::move(lines);
        done_[board] = true;
        while (next_ < done_.size() && done_[next_]) target_ << blocks_[next_++];
        target_ << std::flush;
    }

  private:
    std::ostream& target_;
    std::mutex& mutex_;
    std::vector<std::string> blocks_;
    std::vector<bool> done_;
    std::size_t next_ = 0;
};

// One board's run when several go at once: its lines prefixed, its failure caught.
BoardResult runPrefixed(Environment& env, std::mutex& mutex, OrderedOutput& ordered,
                        std::size_t index, Scheduler& scheduler, const Plan& plan,
                        const std::string& address) {
    std::ostringstream collected;
    std::mutex own;
    LinePrefixer outLines(collected, own, plan.options->json ? "" : address + " ");
    // Messages go out as they come: a progress line is worth seeing when it happens.
    LinePrefixer errLines(env.err, mutex, address + " ");
    std::ostream out(&outLines);
    std::ostream err(&errLines);
    Environment board{out,
                      err,
                      false,
                      env.programFolder,
                      scheduler,
                      env.makeTransport,
                      env.localNow,
                      env.listBoards,
                      {}};
    BoardResult result;
    try {
        result = runBoard(board, plan, address);
    } catch (const std::exception& e) {
        err << "q70ctl: " << e.what() << '\n';
        result = {kExitFailed, {ErrorClass::Io, e.what()}};
    }
    outLines.finish();
    errLines.finish();
    if (result.exit != kExitOk && plan.options->json) {
        std::lock_guard lock(mutex);
        printError(env.err, result.failure, address);
    }
    ordered.finished(index, collected.str());
    return result;
}

int runBoards(Environment& env, const Plan& plan, const std::vector<std::string>& addresses) {
    if (addresses.size() == 1) {
        const BoardResult r = runBoard(env, plan, addresses.front());
        if (r.exit != kExitOk && plan.options->json)
            printError(env.err, r.failure, addresses.front());
        return r.exit;
    }
    std::mutex mutex;
    OrderedOutput ordered(env.out, mutex, addresses.size());
    std::vector<BoardResult> results(addresses.size());
    if (env.makeScheduler) {
        std::vector<std::unique_ptr<Scheduler>> schedulers;
        for (std::size_t i = 0; i < addresses.size(); ++i)
            schedulers.push_back(env.makeScheduler());
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            threads.emplace_back([&, i] {
                results[i] =
                    runPrefixed(env, mutex, ordered, i, *schedulers[i], plan, addresses[i]);
            });
        }
        for (std::thread& t : threads) t.join();
    } else {
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            results[i] = runPrefixed(env, mutex, ordered, i, env.scheduler, plan, addresses[i]);
        }
    }
    for (const BoardResult& r : results) {
        if (r.exit != kExitOk) return r.exit;
    }
    return kExitOk;
}

// The addresses to run on, in address order: `all` becomes every board `list` finds, and
// an address named twice runs once. False (the exit code in `rc`) when there are none.
bool expandAddresses(Environment& env, const Options& o, std::vector<std::string>& out, int& rc) {
    out.clear();
    std::vector<std::string> canonical;
    const auto add = [&](const std::string& address, const link::DeviceAddress& parsed) {
        const std::string key = link::formatDeviceAddress(parsed);
        if (std::find(canonical.begin(), canonical.end(), key) != canonical.end()) return;
        canonical.push_back(key);
        out.push_back(address);
    };
    std::vector<std::string> devices = o.devices;
    if (devices.empty()) devices.push_back(transport::defaultDeviceAddress());
    // Every address is checked before any board is touched.
    for (const std::string& d : devices) {
        if (d == "all") continue;
        link::DeviceAddress parsed;
        std::string error;
        if (!link::parseDeviceAddress(d, parsed, error)) {
            rc = refuse(env, o.json, ErrorClass::Usage, "--device: " + error, d);
            return false;
        }
    }
    for (const std::string& d : devices) {
        if (d != "all") {
            link::DeviceAddress parsed;
            std::string error;
            link::parseDeviceAddress(d, parsed, error);
            add(d, parsed);
            continue;
        }
        std::vector<link::FoundBoard> boards;
        std::string error;
        if (!env.listBoards) {
            rc = refuse(env, o.json, ErrorClass::NoDevice,
                        "--device all: this build has no USB support.", d);
            return false;
        }
        if (!env.listBoards(boards, error)) {
            rc = refuse(env, o.json, ErrorClass::NoDevice, error, d);
            return false;
        }
        for (const link::FoundBoard& b : boards) {
            link::DeviceAddress parsed;
            parsed.usbPort = b.port;
            add("usb:" + b.port, parsed);
        }
    }
    if (out.empty()) {
        rc = refuse(env, o.json, ErrorClass::NoDevice, "no Q-70 board is connected by USB.",
                    std::string("all"));
        return false;
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const std::string& a, const std::string& b) { return addressLess(a, b); });
    return true;
}

// --json anywhere on the line: for the error object of a line that does not parse.
bool asksForJson(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--json") return true;
    }
    return false;
}

}  // namespace

int run(int argc, const char* const* argv, Environment& env) {
    CLI::App app{
        "q70ctl: reads and writes a Q-70 copy board's settings and clock, updates its "
        "firmware and saves its test image, without a window; one board or many at once."};
    app.name("q70ctl");
    // CLI11 takes /x for an option on Windows; a path like /dev/zero must stay a path.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", kVersion);
    app.require_subcommand(1);
    app.fallthrough();  // --device and --timeout also after the command
    app.get_formatter()->column_width(30);

    Options o;
    app.add_option("--device", o.devices, kDeviceOptionHelp)
        ->default_str(transport::defaultDeviceAddress())
        ->allow_extra_args(false)
        ->type_name("ADDRESS");
    app.add_option("--timeout", o.timeoutMs, "Longest wait for one answer, in ms")
        ->capture_default_str()
        ->check(CLI::Range(1, 3'600'000).description(""))
        ->type_name("MS");
    app.add_option("--wait-busy", o.waitBusySeconds,
                   "How long to wait for a board another program is using (0: exit 5 at once)")
        ->capture_default_str()
        ->check(CLI::Range(0, 86'400).description(""))
        ->type_name("SECONDS");

    CLI::App* list = app.add_subcommand(
        "list",
        "Print the boards connected by USB, one a line: address, bus, device, id, serial"
#if !defined(Q70_HAVE_USB)
        " (this build has no USB)"
#endif
    );
    list->add_flag("--json", o.json, "Print one JSON array of objects with the same names");

    CLI::App* info = app.add_subcommand(
        "info",
        "Print the device information, firmware version, status, the five settings and where "
        "the board was reached, as NAME=VALUE lines");
    CLI::App* get = app.add_subcommand("get", "Print the five settings as NAME=WORD lines");
    for (CLI::App* command : {info, get}) {
        command->add_flag("--json", o.json,
                          "Print one JSON object instead, with the same names" Q70_FIELDS_HELP);
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

    CLI::App* update = app.add_subcommand(
        "update", "Check a firmware file (Motorola S-records) and send it to the board");
    update->add_option("FILE", o.file, "The .mot file; the board is told this name as given")
        ->required();
    update->add_flag("--no-check", o.noCheck,
                     "Send the file as it is, unchecked, as the window does");

    CLI::App* image = app.add_subcommand(
        "test-image", "Wait for the board to offer its test image, receive it and save it as BMP");
    image
        ->add_option("-o,--output", o.out,
                     "The BMP file to write (- for standard output); {device} in it becomes the "
                     "board's address")
        ->required()
        ->type_name("OUT.bmp");
    image->add_option("--raw", o.raw, "Also keep the image data exactly as received")
        ->type_name("RAW");
    image->add_option("--wait", o.waitSeconds, "How long to wait for the board's offer")
        ->capture_default_str()
        ->check(CLI::Range(0, 86'400).description(""))
        ->type_name("SECONDS");
    image
        ->add_option("--image-timeout", o.imageSeconds,
                     "How long an image, once begun, may take to arrive whole")
        ->capture_default_str()
        ->check(CLI::Range(1, 86'400).description(""))
        ->type_name("SECONDS");
    for (CLI::App* command : {set, update, image}) {
        command->add_flag("--json", o.json,
                          "Print what was done as one JSON object on stdout" Q70_FIELDS_HELP);
    }

    CLI::App* check = app.add_subcommand(
        "firmware-check",
        "Check a firmware file as Motorola S-records, without a board, and tell what it holds");
    check->add_option("FILE", o.file, "The .mot file")->required()->type_name("FILE");
    check->add_flag("--json", o.json, "Print one JSON object instead" Q70_FIELDS_HELP);

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
    decode->add_option("-o,--output", o.out, "The BMP file to write (- for standard output)")
        ->required()
        ->type_name("OUT.bmp");

    // Set last, so that the commands do not inherit it.
    app.footer(footer());
    for (CLI::App* command : {info, get, set, update, image}) command->footer(kCommandFooter);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e, env.out, env.err);
        if (rc == 0) return kExitOk;
        if (asksForJson(argc, argv))
            printError(env.err, {ErrorClass::Usage, e.what()}, std::nullopt);
        return kExitUsage;
    }

    if (list->parsed()) return listBoards(env, o.json);
    if (check->parsed()) return checkFirmware(env, o.file, o.json);
    if (decode->parsed()) {
        if (o.height % 8 != 0) {
            return refuse(env, false, ErrorClass::Usage,
                          "--height must be a multiple of 8 (dots come in bytes of 8)");
        }
        Failure failure;
        return decodeRawFile(env.out, env.err, o.file, o.width, o.height, o.out, failure);
    }

    // Everything that can be checked without the board is checked before it is touched.
    Plan plan;
    plan.options = &o;
    plan.command = info->parsed()     ? Command::Info
                   : get->parsed()    ? Command::Get
                   : set->parsed()    ? Command::Set
                   : update->parsed() ? Command::Update
                                      : Command::TestImage;
    std::string error;
    if (set->parsed()) {
        if (!parseAssignments(o.assignments, plan.assignments, error)) {
            return refuse(env, o.json, ErrorClass::Usage, "set: " + error);
        }
        if (o.time != "now") {
            link::DateTime dt;
            if (!link::parseDateTime(o.time, dt, error)) {
                return refuse(env, o.json, ErrorClass::Usage, "set --time: " + error);
            }
            plan.time = dt;
        }
    }
    std::vector<std::string> addresses;
    int rc = kExitOk;
    if (!expandAddresses(env, o, addresses, rc)) return rc;
    plan.several = addresses.size() > 1;
    if (plan.command == Command::TestImage && plan.several &&
        (!namesDevice(o.out) || (!o.raw.empty() && !namesDevice(o.raw)))) {
        return refuse(env, o.json, ErrorClass::Usage,
                      "test-image: with several boards, -o and --raw need {device} in their "
                      "names, so that each board gets files of its own");
    }
    if (plan.command == Command::TestImage) {
        if (o.raw == kStandardOutput) {
            return refuse(env, o.json, ErrorClass::Usage,
                          "test-image --raw: standard output takes only the BMP (-o -)");
        }
        if (o.out == kStandardOutput && o.json) {
            return refuse(env, o.json, ErrorClass::Usage,
                          "test-image -o -: standard output cannot carry both the BMP and --json");
        }
        // A path that cannot take the picture is refused before the board is asked for it.
        for (const std::string& a : addresses) {
            for (const std::string& pattern : {o.out, o.raw}) {
                if (pattern.empty()) continue;
                const std::string refused = refuseOutput(expandDevice(pattern, a));
                if (!refused.empty()) return refuse(env, o.json, ErrorClass::Io, refused, a);
            }
        }
    }
    if (plan.command == Command::Update && !o.noCheck) {
        if (const std::optional<Failure> bad = checkBeforeUpdate(env, o.file)) {
            env.err << "q70ctl: " << bad->message << '\n' << std::flush;
            if (o.json) {
                for (const std::string& a : addresses) printError(env.err, *bad, a);
            }
            return exitCodeOf(bad->cls);
        }
    }
    return runBoards(env, plan, addresses);
}

}  // namespace q70::cli
