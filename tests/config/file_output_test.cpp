// The user's files are replaced whole or not at all, and only regular files are replaced.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/file_output.hpp"
#include "temp_folder.hpp"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace q70::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

// Nothing but the files the test made: no temporary file is left beside them.
std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> n;
    for (const auto& e : fs::directory_iterator(folder)) n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
}

TEST(FileOutput, ReplacesAFileWholeAndKeepsItsPermissions) {
    TempFolder t;
    const fs::path target = t.write("old.bmp", "the old picture, longer than the new one");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    std::string error;
    ASSERT_TRUE(config::writeFileWhole(target.string(), bytesOf("new"), &error)) << error;
    EXPECT_EQ(readAll(target), "new");
    EXPECT_EQ(names(t.path()), std::vector<std::string>{"old.bmp"});
#if !defined(_WIN32)
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
    ASSERT_TRUE(config::writeFileWhole((t.path() / "fresh.bin").string(), {}, &error)) << error;
    EXPECT_EQ(fs::file_size(t.path() / "fresh.bin"), 0u);
}

// Each case: what stands at the target before, and a write that must fail and leave it so.
struct Hostile {
    const char* what;
    const char* target;                                // in the test's folder
    std::function<bool(const fs::path& target)> make;  // false: cannot be made here
    const char* reason;                                // part of the error
};

TEST(FileOutput, AFailedWriteLeavesTheTargetAsItWasAndNoTemporaryFile) {
    const std::vector<Hostile> cases = {
        {"a folder", "out.bmp", [](const fs::path& p) { return fs::create_directory(p); },
         "a folder"},
        {"a read-only file", "out.bmp",
         [](const fs::path& p) {
             std::ofstream(p) << "old";
             fs::permissions(p, fs::perms::owner_read);
             return true;
         },
         "read-only"},
        {"a file in a missing folder", "no/out.bmp", [](const fs::path&) { return true; }, ""},
#if !defined(_WIN32)
        {"a FIFO", "out.bmp", [](const fs::path& p) { return ::mkfifo(p.c_str(), 0600) == 0; },
         "a FIFO"},
        // As /dev/full: writes fail. Only root may make it.
        {"a device", "out.bmp",
         [](const fs::path& p) { return ::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0; },
         "a device"},
        {"a link to a folder", "out.bmp",
         [](const fs::path& p) {
             fs::create_directory(p.parent_path() / "real");
             fs::create_symlink("real", p);
             return true;
         },
         "a folder"},
#endif
    };
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder t;
        const fs::path target = t.path() / c.target;
        if (!c.make(target)) continue;
        const std::vector<std::string> before = names(t.path());
        const auto status = fs::symlink_status(target);
        std::string error;
        EXPECT_FALSE(config::writeFileWhole(target.string(), bytesOf("new picture"), &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(names(t.path()), before);
        EXPECT_EQ(fs::symlink_status(target).type(), status.type());
        if (fs::is_regular_file(target)) {
            EXPECT_EQ(readAll(target), "old");
        }
        std::error_code ec;
        fs::permissions(target, fs::perms::owner_all, ec);  // so that the folder can go
    }
}

TEST(FileOutput, TellsWhatStandsAtAPath) {
    TempFolder t;
    fs::create_directory(t.path() / "pictures");
    t.write("old.bmp", "old");
    EXPECT_EQ(config::outputPathKind((t.path() / "pictures").string()), config::PathKind::Folder);
    EXPECT_EQ(config::describePathKind(config::PathKind::Folder), "a folder");
    EXPECT_EQ(config::outputPathKind((t.path() / "old.bmp").string()),
              config::PathKind::RegularFile);
    EXPECT_EQ(config::outputPathKind((t.path() / "new.bmp").string()), config::PathKind::Missing);
    EXPECT_EQ(config::describePathKind(config::PathKind::RegularFile), "");
}

#if !defined(_WIN32)
TEST(FileOutput, WritesThroughASymbolicLinkAndKeepsTheLink) {
    TempFolder t;
    fs::create_directory(t.path() / "real");
    t.write("real/picture.bmp", "old");
    fs::create_symlink("real/picture.bmp", t.path() / "link.bmp");
    fs::create_symlink(t.path() / "real" / "new.bmp", t.path() / "dangling.bmp");
    std::string error;
    ASSERT_TRUE(config::writeFileWhole((t.path() / "link.bmp").string(), bytesOf("new"), &error))
        << error;
    EXPECT_TRUE(fs::is_symlink(t.path() / "link.bmp"));
    EXPECT_EQ(readAll(t.path() / "real" / "picture.bmp"), "new");
    ASSERT_TRUE(config::writeFileWhole((t.path() / "dangling.bmp").string(), bytesOf("x"), &error))
        << error;
    EXPECT_EQ(readAll(t.path() / "real" / "new.bmp"), "x");
    EXPECT_EQ(names(t.path() / "real"), (std::vector<std::string>{"new.bmp", "picture.bmp"}));
}

// A full disk, as a file size limit: the write stops half-way.
TEST(FileOutput, AFullDiskKeepsTheOldFile) {
    TempFolder t;
    const fs::path target = t.write("old.bmp", "old");
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool written =
        config::writeFileWhole(target.string(), std::vector<std::uint8_t>(100'000, 7), &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readAll(target), "old");
    EXPECT_EQ(names(t.path()), std::vector<std::string>{"old.bmp"});
}
#endif

}  // namespace
}  // namespace q70::test
