#pragma once

#include <gtest/gtest.h>

#include "link/connection.hpp"
#include "support/manual_scheduler.hpp"
#include "support/recording_listener.hpp"
#include "support/scripted_transport.hpp"

namespace q70::test {

inline std::vector<std::uint8_t> toBytes(const link::Packet& p) {
    return {p.bytes.begin(), p.bytes.begin() + static_cast<std::ptrdiff_t>(p.size)};
}

class LinkFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        sched.setHandler([this](int id) { conn.onTimer(id); });
    }

    // The board answers each request with the given packet.
    void answerWith(const link::Packet& p) { transport.queueAnswer(p); }

    ScriptedTransport transport;
    ManualScheduler sched;
    RecordingListener listener;
    link::Connection conn{transport, sched, sched, listener, listener};
    link::TransferEngine& engine = conn.engine();
};

}  // namespace q70::test
