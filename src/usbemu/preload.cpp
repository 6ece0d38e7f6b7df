#include "usbemu/preload.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace q70::usbemu {
namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";
constexpr const char* kReexecMark = "Q70_USB_EMU_REEXEC";

// The AddressSanitizer runtime this program was linked against, if any: it aborts unless
// it is the first library loaded, so it goes before the preload.
std::string asanRuntime() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const std::size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string path = line.substr(slash);
        if (path.find("/libasan.so") != std::string::npos) return path;
    }
    return {};
}

}  // namespace

bool underPreload() {
    const char* p = std::getenv("LD_PRELOAD");
    return p != nullptr && std::strstr(p, "libumockdev-preload") != nullptr;
}

bool ensurePreload(char** argv) {
    if (underPreload()) return true;
    if (std::getenv(kReexecMark) != nullptr) return false;  // tried once already
    std::string preload;
    const std::string asan = asanRuntime();
    if (!asan.empty()) preload = asan + ":";
    preload += kPreload;
    if (const char* old = std::getenv("LD_PRELOAD"); old != nullptr && *old != '\0') {
        preload += ":";
        preload += old;
    }
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    ::setenv(kReexecMark, "1", 1);
    ::execv("/proc/self/exe", argv);
    return false;
}

}  // namespace q70::usbemu
