// Answer packets from the board, of any content and any size, through the engine's framing,
// reassembly and dispatch: the whole window controller is driven by pump ticks, as in the
// program, while the input also decides when the user presses Apply, OK or Update or
// switches the language, when the device is lost and when the board stays silent (the
// input format is in link_tape.hpp).
//
// Checked on every run: no read holds the thread longer than 50 ms, only one request is
// outstanding, every packet written is a well-formed request of at most 1024 bytes, a
// completed test image is saved with exactly the bytes its header announced, and the window
// only ever shows the messages the link may show.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "fuzz_check.hpp"
#include "link/protocol.hpp"
#include "link_tape.hpp"
#include "support/fake_view.hpp"
#include "support/manual_scheduler.hpp"
#include "testimage/encoder.hpp"
#include "window/control_ids.hpp"

namespace {

using namespace q70;
namespace code = link::code;

const std::filesystem::path& programFolder() {
    static const std::filesystem::path folder = [] {
        const auto p = fuzz::scratchFolder() / "program";
        std::filesystem::create_directories(p);
        // A small firmware file for Update: 20 lines, so that two data requests follow.
        std::ofstream fw(p / "fw.mot", std::ios::binary);
        fw << "S00600004844521B\r\n";
        for (int i = 0; i < 18; ++i) fw << "S1130000285F245F2212226A000424290008237C2A\r\n";
        fw << "S9030000FC\r\n";
        return p;
    }();
    return folder;
}

// The board as the input plays it.
class TapeTransport : public link::DeviceTransport {
  public:
    TapeTransport(fuzz::TapeReader& in, test::ManualScheduler& clock) : in_(in), clock_(clock) {}

    void attach(const link::TransferEngine& engine) { engine_ = &engine; }

    bool open() override {
        open_ = !in_.empty() && in_.byte() % 16 != 0;
        return open_;
    }
    bool isOpen() const override { return open_; }

    bool writePacket(std::span<const std::uint8_t> packet) override {
        FUZZ_CHECK(engine_ == nullptr || !engine_->isAwaitingAnswer());
        FUZZ_CHECK(packet.size() >= 5 && packet.size() <= link::kPacketSize);
        link::Request request;
        FUZZ_CHECK(link::decodeRequest(packet, request));
        FUZZ_CHECK(request.length + 4 == packet.size());
        if (!open_) return false;
        if (in_.byte() % 32 == 0) return false;
        lastRequest_.assign(packet.begin(), packet.end());
        ++requestsWritten_;
        pending_.clear();  // a new request: whatever the board still had to say is gone
        return true;
    }

    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override {
        FUZZ_CHECK(maxWaitMs >= 0 && maxWaitMs <= 50);
        if (!open_ || in_.empty()) return {link::ReadStatus::Failed, 0};
        const int move = in_.byte() % 10;
        if (!pending_.empty() && move <= fuzz::kMoveRepeat) return deliver(buffer, takePending());
        if (move < fuzz::kMoveAnswer) {
            const std::size_t size = in_.u16() % (link::kPacketSize + 1);
            std::vector<std::uint8_t> bytes = in_.bytes(size);
            bytes.resize(size, 0);
            return deliver(buffer, std::move(bytes));
        }
        if (move < fuzz::kMoveRepeat) {
            wellFormedAnswer();
            if (!pending_.empty()) return deliver(buffer, takePending());
            return {link::ReadStatus::Pending, 0};
        }
        if (move == fuzz::kMoveRepeat) {
            std::vector<std::uint8_t> bytes = last_;
            bytes.resize(link::kPacketSize, 0);
            return deliver(buffer, std::move(bytes));
        }
        if (move == fuzz::kMoveLost) return {link::ReadStatus::Failed, 0};
        clock_.elapse(static_cast<std::uint64_t>(maxWaitMs));
        return {link::ReadStatus::Pending, 0};
    }

    void close() override { open_ = false; }
    std::size_t requestsWritten() const { return requestsWritten_; }

  private:
    // A first packet announcing a test image between the budget and the size the engine
    // refuses gets a smaller announced length and picture: every size in between takes the
    // same paths, and tens of megabytes on most runs would slow the search to a crawl.
    // Sizes the engine refuses are left alone.
    void keepImageSmall(std::vector<std::uint8_t>& bytes) const {
        // Bytes a short packet leaves out read as 0 (the header words too).
        if (engine_ == nullptr || !engine_->state().expectAnswerStart || bytes.size() < 5) return;
        const std::uint32_t length = link::readLength(bytes);
        if (length > kImageBudget && length - 6 <= link::kMaxImageBytes) {
            const std::uint32_t smaller =
                link::kMaxSinglePacketLength + 1 +
                (length - link::kMaxSinglePacketLength - 1) % kImageBudget;
            for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(smaller >> (8 * i));
        }
        const link::TestImageHeader h = link::decodeTestImageHeader(bytes, length);
        const std::uint64_t bitmap = h.bitmapBytes();
        if (bitmap > kBitmapBudget && bitmap <= link::kMaxImageBytes && bytes.size() >= 10) {
            const std::uint64_t stride = (std::uint64_t{h.width} + 31) / 32 * 4;
            const auto bytesPerLine =
                static_cast<std::uint16_t>(h.bytesPerLine % (kBitmapBudget / (stride * 8) + 1));
            bytes[8] = static_cast<std::uint8_t>(bytesPerLine >> 8);
            bytes[9] = static_cast<std::uint8_t>(bytesPerLine);
        }
    }

    static constexpr std::uint32_t kImageBudget = 8u << 10;
    static constexpr std::uint64_t kBitmapBudget = 32u << 10;

    link::ReadResult deliver(link::PacketBuffer& buffer, std::vector<std::uint8_t> bytes) {
        keepImageSmall(bytes);
        const std::size_t n = std::min(bytes.size(), buffer.size());
        std::copy_n(bytes.begin(), n, buffer.begin());
        last_ = std::move(bytes);
        return {link::ReadStatus::Ok, n};
    }

    std::vector<std::uint8_t> takePending() {
        std::vector<std::uint8_t> p = std::move(pending_.front());
        pending_.pop_front();
        return p;
    }

    void queue(const link::Packet& p) {
        pending_.emplace_back(p.bytes.begin(),
                              p.bytes.begin() + static_cast<std::ptrdiff_t>(p.size));
    }

    std::string text() {
        const std::vector<std::uint8_t> b = in_.bytes(in_.byte() % 48);
        return {b.begin(), b.end()};
    }

    void wellFormedAnswer() {
        link::Request r;
        if (!link::decodeRequest(lastRequest_, r)) return;
        switch (r.code) {
            case code::GetDeviceInfo: {
                link::DeviceInfo info;
                info.deviceType = static_cast<char>(in_.byte());
                info.infoText = text();
                queue(link::encodeDeviceInfoAnswer(info));
                return;
            }
            case code::GetFirmwareVersion:
                queue(link::encodeVersionAnswer(text()));
                return;
            case code::GetStatus: {
                const std::uint8_t state = in_.byte();
                const std::uint8_t flags = in_.byte();
                queue(link::encodeStatusAnswer({state, (flags & 1) != 0, (flags & 2) != 0}));
                return;
            }
            case code::GetTestImage:
                testImage();
                return;
            default:
                break;
        }
        if (link::isSettingCode(r.code) && r.payload.empty()) {
            queue(link::encodeSettingAnswer(r.code, in_.byte()));
            return;
        }
        static constexpr std::uint8_t kWriteAnswers[] = {code::Acknowledge, code::FirmwareData,
                                                         code::NoAction, code::Continue};
        queue(link::encodeAnswer(kWriteAnswers[in_.byte() % 4]));
    }

    // A whole test image of the input's ink, encoded as the simulated board does.
    void testImage() {
        const std::uint16_t width = static_cast<std::uint16_t>(1 + in_.u16() % 300);
        const std::uint16_t bytesPerLine = static_cast<std::uint16_t>(1 + in_.byte() % 24);
        testimage::EncoderOptions options;
        options.seed = in_.u32();
        options.randomLengths = (options.seed & 1) != 0;
        std::vector<std::uint8_t> lines = in_.bytes(std::size_t{width} * bytesPerLine);
        lines.resize(std::size_t{width} * bytesPerLine, 0);
        const auto data = testimage::encodeLines(lines, width, bytesPerLine, options);
        for (const auto& p : link::encodeTestImageAnswer('W', width, bytesPerLine, data)) queue(p);
    }

    fuzz::TapeReader& in_;
    test::ManualScheduler& clock_;
    const link::TransferEngine* engine_ = nullptr;
    bool open_ = false;
    std::vector<std::uint8_t> lastRequest_;
    std::vector<std::uint8_t> last_;
    std::deque<std::vector<std::uint8_t>> pending_;
    std::size_t requestsWritten_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::TapeReader in(data, size);
    const std::string folder = programFolder().string();
    const std::string firmwarePath = (programFolder() / "fw.mot").string();

    test::ManualScheduler sched;
    test::FakeView view;
    TapeTransport transport(in, sched);
    config::TextCatalogue texts;
    testimage::TestImage image;
    app::UtilityController controller(view, transport, sched, sched, texts, image,
                                      app::ControllerOptions{folder, {}});
    transport.attach(controller.connection().engine());
    view.attach(controller);
    sched.setHandler([&](int id) { controller.onTimer(id); });
    controller.onInitDialog();

    const std::set<std::string> allowed = {
        texts.utf8(config::TextKey::MsgUSBOpenError),
        texts.utf8(config::TextKey::MsgReceivePktError),
        texts.utf8(config::TextKey::MsgReceiveBadPkt),
        // How a write or an update ended.
        texts.utf8(config::TextKey::MsgSetWOK),
        texts.utf8(config::TextKey::MsgSetWNG),
        texts.utf8(config::TextKey::MsgFirmUpOK),
        texts.utf8(config::TextKey::MsgFirmUpNG),
    };

    int imagesSeen = 0;
    // Update and a language change read files: a few per run reach every state they lead
    // to, and more would only slow the search.
    constexpr int kMaxSlowActions = 3;
    int updates = 0;
    int languageChanges = 0;
    for (int step = 0; step < 2000 && !in.empty() && view.endResults.empty(); ++step) {
        const int action = in.byte() % 100;
        if (action < fuzz::kActionApply) {
            sched.step();
        } else if (action < fuzz::kActionOK) {
            view.click(window::id::Apply);
        } else if (action < fuzz::kActionUpdate) {
            view.click(window::id::OK);
        } else if (action < fuzz::kActionLanguage) {
            if (updates++ < kMaxSlowActions) {
                view.typePath(firmwarePath);
                view.click(window::id::Update);
            }
        } else if (action < fuzz::kActionRadio) {
            if (languageChanges++ < kMaxSlowActions) controller.onCommand(window::id::CmdEnglish);
        } else {
            view.click(fuzz::kRadios[in.byte() % fuzz::kRadioCount]);
        }

        FUZZ_CHECK(controller.connection().engine().queuedBytes() < link::kRingSize);
        for (const std::string& m : view.messages) FUZZ_CHECK(allowed.count(m) == 1);
        if (view.imageWindowsOpened != imagesSeen) {
            imagesSeen = view.imageWindowsOpened;
            const testimage::TestImage& shown = controller.testImage();
            FUZZ_CHECK(shown.data().empty());  // the borrowed data was let go
            if (shown.hasBitmap()) {
                FUZZ_CHECK(shown.bitmapWidth() % 32 == 0 && shown.bitmapWidth() >= shown.width());
                FUZZ_CHECK(shown.dib().size() ==
                           std::size_t{shown.stride()} * shown.bitmapHeight() + 48);
            }
            std::error_code ec;
            FUZZ_CHECK(std::filesystem::file_size(shown.rawDataPath(), ec) == shown.dataSize());
        }
    }
    controller.shutdown();
    // For checking what a seed or a finding does: Q70_FUZZ_VERBOSE=1 fuzz_link_answers FILE
    static const bool verbose = std::getenv("Q70_FUZZ_VERBOSE") != nullptr;
    if (verbose) {
        std::fprintf(stderr, "requests %zu, images %d, messages %zu, firmware %s, ended %d\n",
                     transport.requestsWritten(), view.imageWindowsOpened, view.messages.size(),
                     controller.lastChunkQueued() ? "all queued" : "not finished",
                     static_cast<int>(!view.endResults.empty()));
    }
    return 0;
}
