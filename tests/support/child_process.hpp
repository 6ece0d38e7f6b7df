#pragma once
// The process tests' view of a child program (q70ctl, q70-board-sim): started with stdin
// from the null device and its output to files or to a pipe, waited for with a limit.
// One implementation per system.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace q70::test {

class ChildProcess {
  public:
    ChildProcess();
    ~ChildProcess();  // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // stdout and stderr to these files (created or truncated).
    bool start(const std::vector<std::string>& args, const std::filesystem::path& out,
               const std::filesystem::path& err);
    // stdout to a pipe that readLine reads, stderr to the null device.
    bool startReadingOutput(const std::vector<std::string>& args);
    // One line of the child's stdout without its end; false at the end of the output.
    bool readLine(std::string& line);

    // The exit status; a child still running after `limit` is killed (-1).
    int wait(std::chrono::milliseconds limit = std::chrono::minutes(2));
    // Asks the child to stop (SIGTERM; on Windows the process is ended) and waits.
    void stop();
    // Pokes a running q70-board-sim: "image" or "unplug" (SIGUSR1 or SIGUSR2; on Windows
    // the word on its control pipe, \\.\pipe\NAME-control).
    bool pokeBoard(const std::string& listenAddress, const std::string& word);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Where a test's q70-board-sim listens (--listen) and how q70ctl reaches it (--device): a
// socket in `folder` on Linux, a named pipe named after `folder` on Windows.
std::string boardListenAddress(const std::filesystem::path& folder);
std::string boardDeviceAddress(const std::filesystem::path& folder);

}  // namespace q70::test
