#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "support/child_process.hpp"

extern char** environ;

namespace q70::test {

struct ChildProcess::State {
    pid_t pid = -1;
    FILE* out = nullptr;
};

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    if (state_->pid > 0) {
        ::kill(state_->pid, SIGKILL);
        wait();
    }
    if (state_->out != nullptr) std::fclose(state_->out);
}

namespace {

pid_t spawn(const std::vector<std::string>& args, int outFd, int errFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

}  // namespace

bool ChildProcess::start(const std::vector<std::string>& args, const std::filesystem::path& out,
                         const std::filesystem::path& err) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (o >= 0 && e >= 0) state_->pid = spawn(args, o, e);
    if (o >= 0) ::close(o);
    if (e >= 0) ::close(e);
    return state_->pid > 0;
}

bool ChildProcess::startReadingOutput(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    state_->pid = spawn(args, fds[1], devNull);
    ::close(fds[1]);
    ::close(devNull);
    state_->out = ::fdopen(fds[0], "r");
    return state_->pid > 0;
}

bool ChildProcess::readLine(std::string& line) {
    if (state_->out == nullptr) return false;
    char buf[512];
    if (std::fgets(buf, sizeof buf, state_->out) == nullptr) return false;
    line = buf;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return true;
}

int ChildProcess::wait(std::chrono::milliseconds limit) {
    if (state_->pid <= 0) return -1;
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(state_->pid, &status, WNOHANG);
        if (r == state_->pid) break;
        if (r < 0 && errno != EINTR) {
            state_->pid = -1;
            return -1;
        }
        if (std::chrono::steady_clock::now() > end) {
            ::kill(state_->pid, SIGKILL);
            ::waitpid(state_->pid, &status, 0);
            state_->pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    state_->pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool ChildProcess::pokeBoard(const std::string&, const std::string& word) {
    if (state_->pid <= 0) return false;
    return ::kill(state_->pid, word == "image" ? SIGUSR1 : SIGUSR2) == 0;
}

void ChildProcess::stop() {
    if (state_->pid <= 0) return;
    ::kill(state_->pid, SIGTERM);
    wait(std::chrono::seconds(10));
}

std::string boardListenAddress(const std::filesystem::path& folder) {
    return (folder / "board.sock").string();
}

std::string boardDeviceAddress(const std::filesystem::path& folder) {
    return "unix:" + boardListenAddress(folder);
}

}  // namespace q70::test
