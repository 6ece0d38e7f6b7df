// One queued request through the engine against an in-memory transport that answers at
// once: encode into the ring, send, read, frame, dispatch. And a whole test image from the
// simulated board in this process, through the pump, the reassembly and the bitmap.

#include <benchmark/benchmark.h>

#include "link/connection.hpp"
#include "sim/sim_transport.hpp"
#include "sim/simulated_board.hpp"
#include "testimage/decoder.hpp"
#include "testimage/test_image.hpp"

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

// Hands the finished image to the test-image object as the window does, less the file.
class ImageSink : public Sink {
  public:
    void onTestImageHeader(const TestImageHeader& h) override {
        image.setHeader(h.width, h.height(), h.dataSize, h.deviceType);
    }
    void onTestImageComplete(std::vector<std::uint8_t> data) override {
        image.saveRawData(data);
        built = image.buildBitmap();
        image.releaseData();
        ++images;
    }
    q70::testimage::TestImage image;
    bool built = false;
    int images = 0;
};

void BM_TestImageEndToEnd(benchmark::State& state) {
    NullTimers timers;
    q70::sim::SimulatedBoard board(timers);
    q70::sim::SimTransport transport(board);
    ImageSink sink;
    sink.image.setProgramFolder("/nonexistent-q70-bench-folder");
    Connection conn(transport, timers, timers, sink, sink);
    conn.openAtStart();
    conn.engine().resetTransferState();
    std::size_t packets = 0;
    for (auto _ : state) {
        // The board draws and encodes its picture when asked; that is its time, not ours.
        state.PauseTiming();
        board.offerTestImage();
        conn.engine().enqueueRequest(code::GetTestImage, 0);
        conn.engine().sendNextRequest();
        packets = board.answersQueued();
        const int before = sink.images;
        state.ResumeTiming();
        // Ticks back to back: the pump's own cost, without waiting for the clock.
        while (sink.images == before && conn.engine().isAwaitingAnswer()) conn.onTimer(kPumpTimer);
        if (!sink.built) state.SkipWithError("no bitmap");
    }
    state.SetLabel(q70::testimage::rotateKernelName(q70::testimage::rotateKernel()));
    state.counters["packets"] = static_cast<double>(packets);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(packets * kPacketSize));
}
BENCHMARK(BM_TestImageEndToEnd)->Unit(benchmark::kMicrosecond);

}  // namespace
