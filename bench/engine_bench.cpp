// One queued request through the engine against an in-memory transport that answers at
// once: encode into the ring, send, read, frame, dispatch.

#include <benchmark/benchmark.h>

#include "link/connection.hpp"

namespace {

using namespace q70::link;

class EchoTransport : public DeviceTransport {
  public:
    bool open() override { return open_ = true; }
    bool isOpen() const override { return open_; }
    bool writePacket(std::span<const std::uint8_t> p) override {
        pending_ = p.size() > 4 ? p[4] : 0;
        return true;
    }
    ReadResult readPacket(PacketBuffer& buf, int) override {
        const Packet a = encodeSettingAnswer(pending_, 1);
        std::copy_n(a.bytes.begin(), a.size, buf.begin());
        return {ReadStatus::Ok, a.size};
    }
    void close() override { open_ = false; }

  private:
    bool open_ = false;
    std::uint8_t pending_ = 0;
};

class NullTimers : public TimerService, public Clock {
  public:
    void startTimer(int, int) override {}
    void stopTimer(int) override {}
    std::uint64_t nowMs() const override { return 0; }
};

class Sink : public LinkListener, public RequestSource {
  public:
    void onSettingReport(std::uint8_t, std::uint8_t v) override { benchmark::DoNotOptimize(v); }
    std::uint8_t settingValueForWrite(std::uint8_t) override { return 1; }
    DateTime pickedDateTime() override { return {}; }
    std::span<const std::uint8_t> firmwarePath() override { return {}; }
    std::span<const std::uint8_t> firmwareChunk() override { return {}; }
    bool firmwareChunkReachesEnd() override { return false; }
    void setLastChunkQueued() override {}
};

void BM_EngineExchange(benchmark::State& state) {
    EchoTransport transport;
    NullTimers timers;
    Sink sink;
    Connection conn(transport, timers, timers, sink, sink);
    conn.openAtStart();
    conn.engine().resetTransferState();
    for (auto _ : state) {
        conn.engine().enqueueRequest(code::Paper, 0);
        conn.onTimer(kPumpTimer);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EngineExchange);

}  // namespace
