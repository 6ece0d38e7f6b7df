// q70uty.exe: the utility's window on Windows.

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "config/text_catalogue.hpp"
#include "config/text_decoding.hpp"
#include "link/device_address.hpp"
#include "system/open_problem_reporter.hpp"
#include "system/process_environment.hpp"
#include "system/program_folder.hpp"
#include "system/steady_clock.hpp"
#include "system/win32/utf8.hpp"
#include "testimage/test_image.hpp"
#include "transport/factory.hpp"
#include "transport/system_transport.hpp"
#include "win32/single_instance.hpp"
#include "win32/win32_timer_service.hpp"
#include "win32/win32_window_view.hpp"

namespace {

using namespace q70;

constexpr int kUsageError = 2;

constexpr const char* kHelp =
    "Usage: q70uty [--device ADDRESS] [--timeout MS]\n"
    "Service utility for the Q-70 copy board: settings, clock, firmware update and test "
    "image.\n\n"
    "  --device ADDRESS  The board: \\\\.\\CPYBRD0 (the board's driver, the default),\n"
    "                    \\\\.\\pipe\\NAME (a board served on a named pipe) or sim.\n"
    "  --timeout MS      How long one answer of the board is awaited, in ms (default: "
    "5000).\n"
    "  -h, --help        This text.\n"
    "  --version         The program's version.\n";

// A window program has no console of its own: text goes to stderr when someone reads it
// (a console or a pipe), else into a message box.
void tell(const std::string& text, bool isError) {
    HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE) {
        std::fputs(text.c_str(), isError ? stderr : stdout);
        std::fflush(isError ? stderr : stdout);
        return;
    }
    ::MessageBoxW(nullptr, system::widen(text).c_str(), L"q70uty",
                  MB_OK | (isError ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
}

int fail(const std::string& message) {
    tell("q70uty: " + message + "\n", true);
    return kUsageError;
}

struct Options {
    link::DeviceAddress address;
    int timeoutMs = 5000;
};

// Returns -1 to go on, or the exit status.
int parseOptions(const std::vector<std::string>& args, Options& out) {
    std::string device = transport::defaultDeviceAddress();
    std::string timeout = "5000";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const std::string& name, std::string& into) {
            if (a == name) {
                if (i + 1 >= args.size()) return false;
                into = args[++i];
                return true;
            }
            into = a.substr(name.size() + 1);
            return true;
        };
        if (a == "-h" || a == "--help") {
            tell(kHelp, false);
            return 0;
        }
        if (a == "--version") {
            tell(std::string("q70uty ") + Q70_VERSION + "\n", false);
            return 0;
        }
        if (a == "--device" || a.rfind("--device=", 0) == 0) {
            if (!value("--device", device)) return fail("--device needs an address");
        } else if (a == "--timeout" || a.rfind("--timeout=", 0) == 0) {
            if (!value("--timeout", timeout)) return fail("--timeout needs a number");
        } else {
            return fail("unexpected argument '" + a + "'");
        }
    }
    std::string error;
    if (!link::parseDeviceAddress(device, out.address, error)) return fail(error);
    try {
        std::size_t used = 0;
        out.timeoutMs = std::stoi(timeout, &used);
        if (used != timeout.size() || out.timeoutMs <= 0) throw std::invalid_argument(timeout);
    } catch (const std::exception&) {
        return fail("--timeout needs a positive number of milliseconds, not '" + timeout + "'");
    }
    return -1;
}

std::wstring executablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options opts;
    if (const int status = parseOptions(system::utf8Arguments(argc, argv), opts); status >= 0) {
        return status;
    }

    // One copy per executable name; a later copy brings the running one forward.
    win32::SingleInstance instance(win32::instanceName(executablePath()));
    if (!instance.acquire()) return 0;

    system::SteadyClock clock;
    std::string error;
    std::unique_ptr<link::DeviceTransport> transport =
        transport::createTransport(opts.address, clock, error, transport::SimImage::OnRequest);
    if (!transport) return fail(error);
    // The message box only says the board could not be opened; stderr gets the why.
    system::OpenProblemReporter reporter(*transport, [](const std::string& why) {
        if (HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
            err != nullptr && err != INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "q70uty: %s\n", why.c_str());
        }
    });

    config::TextCatalogue texts;
    testimage::TestImage image;
    win32::Win32WindowView view(image, instance.name());
    win32::Win32TimerService timers;
    app::ControllerOptions options;
    options.programFolder = system::resolveProgramFolder(system::executableFolder());
    options.link.answerTimeoutMs = opts.timeoutMs;
    options.localNow = system::localNow;
    options.scanTestImage = transport::simulatedScan(*transport);
    app::UtilityController controller(view, reporter, timers, clock, texts, image, options);
    view.attach(controller);
    view.onCreated = [&](HWND w) {
        instance.markWindow(w);
        timers.attach(w);
    };
    view.onDestroying = [&](HWND w) {
        timers.detach();
        instance.unmarkWindow(w);
    };

    const config::StartupSettings startup = controller.startupReads();
    win32::DialogFont font;
    font.name = system::widen(config::toUtf8(startup.dialogFontName, startup.currentLanguage));
    font.pointSize = startup.dialogFontSize > 0 ? startup.dialogFontSize : 8;
    font.language = startup.currentLanguage;
    if (!view.create(font)) return fail("the window could not be created");
    controller.onInitDialog();
    view.centreOnScreen();
    view.run();
    controller.shutdown();
    view.destroy();
    return 0;
}
