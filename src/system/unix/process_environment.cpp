#include "system/process_environment.hpp"

#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <system_error>

namespace q70::system {

std::string executableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path(ec).string();
    return exe.parent_path().string();
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void useBinaryStandardStreams() {}

link::DateTime localNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::string makeTempFolder(const std::string& prefix) {
    std::error_code ec;
    std::string name = (std::filesystem::temp_directory_path(ec) / (prefix + "XXXXXX")).string();
    if (ec || ::mkdtemp(name.data()) == nullptr) return {};
    return name;
}

}  // namespace q70::system
