// q70ctl: the command-line client. Sets up the process (program folder, clock, terminal,
// local time) and hands over to q70::cli::run.

#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli.hpp"
#include "system/process_environment.hpp"
#include "system/program_folder.hpp"
#include "transport/factory.hpp"
#if defined(Q70_HAVE_USB)
#include "transport/usb/usb_transport.hpp"
#endif

int main(int argc, char** argv) {
    q70::system::useBinaryStandardStreams();
    const std::vector<std::string> args = q70::system::utf8Arguments(argc, argv);
    std::vector<const char*> argPointers;
    for (const std::string& a : args) argPointers.push_back(a.c_str());
    argPointers.push_back(nullptr);

    q70::cli::SteadyScheduler scheduler;
    q70::cli::Environment env{
        std::cout,
        std::cerr,
        q70::system::stderrIsTerminal(),
        q70::system::resolveProgramFolder(q70::system::executableFolder()),
        scheduler,
        [](const q70::link::DeviceAddress& address, const q70::link::Clock& clock,
           std::string& error) { return q70::transport::createTransport(address, clock, error); },
        q70::system::localNow,
    };
    // Several boards at once: each on its own clock and tick loop, in a thread of its own.
    env.makeScheduler = [] { return std::make_unique<q70::cli::SteadyScheduler>(); };
#if defined(Q70_HAVE_USB)
    env.listBoards = [](std::vector<q70::link::FoundBoard>& boards, std::string& error) {
        return q70::transport::listUsbBoards(q70::link::kDefaultUsbVendorId,
                                             q70::link::kDefaultUsbProductId, boards, error);
    };
#endif
    // An exception would end in an abort, whose status a script cannot tell from others.
    try {
        return q70::cli::run(static_cast<int>(args.size()), argPointers.data(), env);
    } catch (const std::exception& e) {
        std::cerr << "q70ctl: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "q70ctl: unexpected failure\n";
    }
    return q70::cli::kExitFailed;
}
