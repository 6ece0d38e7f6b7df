// q70ctl: the command-line client. Sets up the process (program folder, clock, terminal,
// local time) and hands over to q70::cli::run.

#include <unistd.h>

#include <ctime>
#include <exception>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "cli/cli.hpp"
#include "platform/program_folder.hpp"
#include "platform/transport_factory.hpp"
#if defined(Q70_HAVE_USB)
#include "platform/usb/usb_transport.hpp"
#endif

namespace {

std::string executableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path(ec).string();
    return exe.parent_path().string();
}

q70::link::DateTime localNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
}

}  // namespace

int main(int argc, char** argv) {
    q70::cli::SteadyScheduler scheduler;
    q70::cli::Environment env{
        std::cout,
        std::cerr,
        ::isatty(STDERR_FILENO) == 1,
        q70::platform::resolveProgramFolder(executableFolder()),
        scheduler,
        [](const q70::link::DeviceAddress& address, const q70::link::Clock& clock,
           std::string& error) { return q70::platform::createTransport(address, clock, error); },
        localNow,
    };
#if defined(Q70_HAVE_USB)
    env.listBoards = [](std::vector<q70::link::FoundBoard>& boards, std::string& error) {
        return q70::platform::listUsbBoards(q70::link::kDefaultUsbVendorId,
                                            q70::link::kDefaultUsbProductId, boards, error);
    };
#endif
    // An exception would end in an abort, whose status a script cannot tell from others.
    try {
        return q70::cli::run(argc, argv, env);
    } catch (const std::exception& e) {
        std::cerr << "q70ctl: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "q70ctl: unexpected failure\n";
    }
    return q70::cli::kExitFailed;
}
