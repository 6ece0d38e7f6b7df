// The lock that keeps two programs off one board: one holder at a time, the second told
// who, nothing left behind by a holder that crashed, and no hang when there is no folder.

#include "system/board_lock.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "config/temp_folder.hpp"
#include "support/environment_variable.hpp"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace q70::test {
namespace {

using system::BoardLock;
using Result = system::BoardLock::Result;

// The lock files of one test in a folder of its own, on either system.
struct LockFolder {
    TempFolder dir;
    EnvironmentVariable runtime{"XDG_RUNTIME_DIR", dir.str()};
    EnvironmentVariable local{"LOCALAPPDATA", dir.str()};
};

TEST(BoardLock, OneHolderAtATimeAndTheSecondIsToldWho) {
    LockFolder f;
    BoardLock first;
    BoardLock second;
    ASSERT_EQ(first.acquire("usb:1-4.2"), Result::Taken);
    EXPECT_TRUE(first.held());
    EXPECT_EQ(second.acquire("usb:1-4.2"), Result::Busy);
    EXPECT_FALSE(second.held());
    EXPECT_EQ(second.holder().pid, system::thisProcess().pid);
    EXPECT_EQ(second.holder().program, system::thisProcess().program);
    // Another board is another lock.
    EXPECT_EQ(second.acquire("usb:1-4.3"), Result::Taken);
    first.release();
    EXPECT_EQ(second.acquire("usb:1-4.2"), Result::Taken) << "taking one lets go of the other";
    EXPECT_EQ(first.acquire("usb:1-4.3"), Result::Taken);
    EXPECT_EQ(first.acquire("usb:1-4.2"), Result::Busy);
}

TEST(BoardLock, NamesStayApartAndPlain) {
    const std::string ids[] = {"usb:1-4.2",          "usb:1-4_2",        "unix:/run/a/b.sock",
                               "unix:/run/a_b.sock", "\\\\.\\pipe\\q70", std::string(300, 'x')};
    std::set<std::string> names;
    for (const std::string& id : ids) {
        const std::string name = system::lockFileName(id);
        EXPECT_TRUE(names.insert(name).second) << id;
        EXPECT_LE(name.size(), 100u);
        for (const char c : name)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ||
                        c == '_')
                << name;
    }
}

TEST(BoardLock, TheHolderIsWrittenAndToldInWords) {
    const system::LockHolder window{"q70uty", 12};
    EXPECT_EQ(system::parseHolderLine(system::holderLine(window)).pid, 12u);
    EXPECT_EQ(system::parseHolderLine(system::holderLine(window)).program, "q70uty");
    // A line not written whole yet tells nothing.
    EXPECT_TRUE(system::parseHolderLine("q70ctl 12").program.empty());
    EXPECT_TRUE(system::parseHolderLine("q70ctl x1\n").program.empty());

    EXPECT_EQ(system::describeHolder(window), "the window (q70uty, PID 12)");
    EXPECT_EQ(system::describeHolder({"q70ctl", 7}), "another q70ctl (PID 7)");
    EXPECT_EQ(system::describeHolder({}), "another program");
    EXPECT_EQ(system::describeHolder(system::thisProcess()).rfind("this same ", 0), 0u);
}

#if !defined(_WIN32)
TEST(BoardLock, AFolderThatCannotBeUsedFallsBackAndNeverHangs) {
    TempFolder dir;
    const auto file = dir.write("not-a-folder", "x");
    EnvironmentVariable runtime("XDG_RUNTIME_DIR", file.string());
    EnvironmentVariable temp("TMPDIR", dir.str());
    EXPECT_EQ(system::boardLockFolder(), dir.str() + "/q70-" + std::to_string(::getuid()));
    BoardLock lock;
    EXPECT_EQ(lock.acquire("usb:9-9"), Result::Taken);
    lock.release();

    // Nowhere to put a lock: the board is used without one, at once.
    EnvironmentVariable nowhere("TMPDIR", "/proc");
    EXPECT_EQ(system::boardLockFolder(), "");
    EXPECT_EQ(lock.acquire("usb:9-9"), Result::Unavailable);
}

TEST(BoardLock, ALockLeftByACrashedProgramDoesNotBlock) {
    LockFolder f;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        BoardLock mine;
        const char ok = mine.acquire("unix:/crash") == Result::Taken ? '1' : '0';
        [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    BoardLock lock;
    EXPECT_EQ(lock.acquire("unix:/crash"), Result::Busy);
    EXPECT_EQ(lock.holder().pid, static_cast<unsigned long>(child));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(lock.acquire("unix:/crash"), Result::Taken);
    ::close(ready[0]);
    ::close(ready[1]);
}
#endif

}  // namespace
}  // namespace q70::test
