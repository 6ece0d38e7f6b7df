// Ten thousand exchanges with the in-process board: every answer matches its request,
// every value read back is the one written, and nothing piles up on either side.

#include <gtest/gtest.h>

#include "link/connection.hpp"
#include "sim/sim_transport.hpp"
#include "sim_support.hpp"
#include "support/manual_scheduler.hpp"

namespace q70::test {
namespace {

using namespace q70::link;

TEST(SimSoak, TenThousandExchangesKeepTheirFraming) {
    ManualScheduler sched;
    sim::BoardOptions options;
    options.busyMs = 0;
    sim::SimulatedBoard board(sched, options);
    sim::SimTransport transport(board);
    FlowListener listener;
    Connection conn(transport, sched, sched, listener, listener);
    sched.setHandler([&](int id) { conn.onTimer(id); });
    listener.attach(conn.engine());

    conn.openAtStart();
    conn.engine().resetTransferState();
    conn.startTimers();
    conn.queueStartSequence();
    sched.advance(8 * 50);

    constexpr std::uint8_t kReads[] = {
        code::GetDeviceInfo, code::GetFirmwareVersion, code::PrintMode, code::SaveMode, code::Paper,
        code::Margin,        code::TimeStamp};
    constexpr std::uint64_t kExchanges = 10000;
    std::uint64_t round = 0;
    std::size_t imagesExpected = 0;
    while (board.requestCount() < kExchanges) {
        // A burst of writes and reads, with a test image now and then.
        const std::uint8_t setting = kSettingWriteOrder[round % kSettingWriteOrder.size()];
        const auto value = static_cast<std::uint8_t>((round / 5) % 2);
        listener.settingValues[setting] = value;
        conn.engine().enqueueRequest(setting, 1);
        for (const std::uint8_t c : kReads) conn.engine().enqueueRequest(c, 0);
        if (round % 100 == 99) {
            board.offerTestImage();
            ++imagesExpected;
        }
        const std::size_t reportsBefore = listener.reports.size();
        sched.startTimer(kPumpTimer, kFastPeriodMs);
        // Until the burst's five reads are back (and the image, when one was offered).
        for (int i = 0; i < 400 && (listener.reports.size() < reportsBefore + 5 ||
                                    listener.images.size() < imagesExpected);
             ++i) {
            sched.step();
        }
        ASSERT_EQ(*board.settings().byCode(setting), value) << "round " << round;
        ASSERT_EQ(listener.reports.back(),
                  std::make_pair(code::TimeStamp, board.settings().timeStamp));
        ++round;
    }

    for (int i = 0; i < 10 && conn.engine().isAwaitingAnswer(); ++i) sched.step();
    ASSERT_FALSE(conn.engine().isAwaitingAnswer());
    EXPECT_GE(board.requestCount(), kExchanges);
    EXPECT_TRUE(listener.messages.empty());
    EXPECT_TRUE(listener.failures.empty());
    EXPECT_EQ(listener.unmatched, 0);
    // Every exchange was dispatched once, as the answer to the request it belonged to.
    const std::uint64_t imageExchanges = listener.images.size();
    EXPECT_EQ(listener.dispatched.size() + imageExchanges, board.requestCount());
    for (const auto& [request, answer] : listener.dispatched) {
        ASSERT_TRUE(answer == request || answer == code::Acknowledge)
            << int(request) << " " << int(answer);
    }
    EXPECT_EQ(listener.images.size(), imagesExpected);
    EXPECT_GE(imagesExpected, 5u);
    // Nothing left behind on either side.
    EXPECT_EQ(board.answersQueued(), 0u);
    EXPECT_TRUE(conn.engine().state().imageBuffer.empty());
    EXPECT_EQ(listener.images.back(), board.lastImageData());
}

}  // namespace
}  // namespace q70::test
