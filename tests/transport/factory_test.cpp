#include "transport/factory.hpp"

#include <gtest/gtest.h>

#include "link/protocol.hpp"
#include "sim/sim_transport.hpp"
#include "support/manual_scheduler.hpp"

namespace q70::test {
namespace {

using namespace q70::link;

std::unique_ptr<DeviceTransport> make(const std::string& text, const Clock& clock,
                                      std::string& error) {
    DeviceAddress a;
    EXPECT_TRUE(parseDeviceAddress(text, a, error)) << error;
    return transport::createTransport(a, clock, error);
}

TEST(TransportFactory, SimIsTheDemoBoardThatOffersAnImageSoon) {
    ManualScheduler clock;
    std::string error;
    auto t = make("sim", clock, error);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->open());
    auto status = [&] {
        EXPECT_TRUE(t->writePacket(encodeBare(code::GetStatus).view()));
        PacketBuffer buf{};
        const ReadResult r = t->readPacket(buf, 0);
        EXPECT_EQ(r.status, ReadStatus::Ok);
        return buf[5];
    };
    EXPECT_EQ(status(), 1);
    clock.elapse(transport::kDemoImageAfterMs);
    EXPECT_EQ(status(), 0);
    // Silent until asked: an immediate Pending.
    PacketBuffer buf{};
    EXPECT_EQ(t->readPacket(buf, 50).status, ReadStatus::Pending);
}

TEST(TransportFactory, EveryAddressKind) {
    ManualScheduler clock;
    std::string error;
#ifdef _WIN32
    // Each system reaches only its own kind of channel; the other kind is explained.
    EXPECT_TRUE(make("\\\\.\\CPYBRD0", clock, error));
    EXPECT_FALSE(make("unix:/tmp/none.sock", clock, error));
    EXPECT_NE(error.find("Linux"), std::string::npos);
#else
    EXPECT_TRUE(make("unix:/tmp/none.sock", clock, error));
#endif
#if defined(Q70_HAVE_USB)
    EXPECT_TRUE(make("usb:1234:5678", clock, error));
#else
    EXPECT_FALSE(make("usb", clock, error));
#endif
#ifndef _WIN32
    error.clear();
    EXPECT_FALSE(make("\\\\.\\CPYBRD0", clock, error));
    EXPECT_NE(error.find("Windows"), std::string::npos);
#endif
}

}  // namespace
}  // namespace q70::test
