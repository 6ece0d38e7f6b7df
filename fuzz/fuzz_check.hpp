#pragma once
// A check that holds in release builds too: a broken invariant is a finding, so it aborts
// where libFuzzer sees it and keeps the input.

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace q70::fuzz {

// A folder of this process's own for the files a target writes; removed at exit. Never
// freed, so that it outlives every static that might still use it.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path* folder = [] {
        // Files are rewritten on every run: memory-backed storage keeps that cheap.
        std::error_code ec;
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0
                ? std::filesystem::path("/dev/shm")
                : std::filesystem::temp_directory_path();
        auto* p = new std::filesystem::path(
            base / ("q70-fuzz-" + std::to_string(static_cast<long>(::getpid()))));
        std::filesystem::create_directories(*p);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*folder, ec);
        });
        return p;
    }();
    return *folder;
}

}  // namespace q70::fuzz
