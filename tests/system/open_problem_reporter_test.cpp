#include "system/open_problem_reporter.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_transport.hpp"
#include "sim/simulated_board.hpp"
#include "support/manual_scheduler.hpp"

namespace q70::test {
namespace {

// The link retries a failed open every few seconds: the reason is told once, and again
// only when it changes or comes back after the board was reachable.
TEST(OpenProblemReporter, TellsEachReasonOnceUntilAnOpenSucceeds) {
    ManualScheduler clock;
    sim::SimulatedBoard board(clock, sim::BoardOptions{});
    sim::SimTransport inner(board);
    std::vector<std::string> told;
    system::OpenProblemReporter transport(inner,
                                          [&](const std::string& why) { told.push_back(why); });

    board.unplug();
    EXPECT_FALSE(transport.open());
    EXPECT_FALSE(transport.open());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "The simulated board is unplugged.");

    board.replug();
    EXPECT_TRUE(transport.open());
    EXPECT_TRUE(transport.isOpen());
    EXPECT_EQ(told.size(), 1u);

    transport.close();
    board.unplug();
    EXPECT_FALSE(transport.open());
    EXPECT_EQ(told.size(), 2u);
}

}  // namespace
}  // namespace q70::test
