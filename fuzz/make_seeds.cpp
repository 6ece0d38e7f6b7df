// Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/: sessions of the
// window with the simulated board recorded in fuzz_link_answers' input format, test images
// the simulated board draws, firmware files, the language files of the program folder and
// device addresses. Run by hand when a format changes:
//   build/fuzz/fuzz/make_seeds <repository>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "link_tape.hpp"
#include "sim/sim_transport.hpp"
#include "sim/simulated_board.hpp"
#include "sim/test_picture.hpp"
#include "support/fake_view.hpp"
#include "support/manual_scheduler.hpp"
#include "testimage/encoder.hpp"
#include "window/control_ids.hpp"

namespace {

using namespace q70;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void writeSeed(const fs::path& folder, const std::string& name, const Bytes& bytes) {
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    std::printf("%s/%s: %zu bytes\n", folder.filename().c_str(), name.c_str(), bytes.size());
}

Bytes toBytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// ---- fuzz_link_answers: the simulated board's side of a session, on tape -------------------

// Passes everything to the simulated board and writes each outcome as the choice that makes
// the fuzz target's board do the same.
class RecordingTransport : public link::DeviceTransport {
  public:
    RecordingTransport(sim::SimTransport& inner, Bytes& tape, test::ManualScheduler& clock)
        : inner_(inner), tape_(tape), clock_(clock) {}

    bool open() override {
        const bool ok = inner_.open();
        tape_.push_back(ok ? 1 : 0);
        return ok;
    }
    bool isOpen() const override { return inner_.isOpen(); }
    bool writePacket(std::span<const std::uint8_t> packet) override {
        if (!inner_.isOpen()) return false;
        const bool ok = inner_.writePacket(packet);
        tape_.push_back(ok ? 1 : 0);
        return ok;
    }
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override {
        if (!inner_.isOpen()) return {link::ReadStatus::Failed, 0};
        const link::ReadResult r = inner_.readPacket(buffer, maxWaitMs);
        switch (r.status) {
            case link::ReadStatus::Ok:
                tape_.push_back(fuzz::kMovePacket);
                tape_.push_back(static_cast<std::uint8_t>(r.size));
                tape_.push_back(static_cast<std::uint8_t>(r.size >> 8));
                tape_.insert(tape_.end(), buffer.begin(),
                             buffer.begin() + static_cast<std::ptrdiff_t>(r.size));
                break;
            case link::ReadStatus::Pending:
                tape_.push_back(fuzz::kMoveSilence);
                clock_.elapse(static_cast<std::uint64_t>(maxWaitMs));
                break;
            case link::ReadStatus::Failed:
                tape_.push_back(fuzz::kMoveLost);
                break;
        }
        return r;
    }
    void close() override { inner_.close(); }

  private:
    sim::SimTransport& inner_;
    Bytes& tape_;
    test::ManualScheduler& clock_;
};

struct Session {
    explicit Session(const fs::path& folder, sim::BoardOptions options)
        : board(sched, std::move(options)),
          simTransport(board),
          transport(simTransport, tape, sched),
          controller(view, transport, sched, sched, texts, image,
                     app::ControllerOptions{folder.string(), {}}) {
        view.attach(controller);
        sched.setHandler([this](int id) { controller.onTimer(id); });
        controller.onInitDialog();
    }

    void ticks(int n) {
        for (int i = 0; i < n && view.endResults.empty(); ++i) {
            tape.push_back(0);
            sched.step();
        }
    }
    // The user's actions, done and put on tape.
    void apply() {
        tape.push_back(fuzz::kActionApply);
        view.click(window::id::Apply);
    }
    void ok() {
        tape.push_back(fuzz::kActionOK);
        view.click(window::id::OK);
    }
    void update(const fs::path& file) {
        tape.push_back(fuzz::kActionUpdate);
        view.typePath(file.string());
        view.click(window::id::Update);
    }
    void language() {
        tape.push_back(fuzz::kActionLanguage);
        controller.onCommand(window::id::CmdEnglish);
    }
    void radio(int index) {
        tape.push_back(fuzz::kActionRadio);
        tape.push_back(static_cast<std::uint8_t>(index));
        view.click(fuzz::kRadios[index]);
    }

    Bytes tape;
    test::ManualScheduler sched;
    sim::SimulatedBoard board;
    sim::SimTransport simTransport;
    RecordingTransport transport;
    test::FakeView view;
    config::TextCatalogue texts;
    testimage::TestImage image;
    app::UtilityController controller;
};

sim::BoardOptions smallBoard() {
    sim::BoardOptions o;
    // Large enough to take three packets, small enough for a seed.
    o.imageWidth = 240;
    o.imageBytesPerLine = 16;
    o.busyMs = 200;
    return o;
}

void linkSeeds(const fs::path& out, const fs::path& scratch) {
    const fs::path fw = scratch / "fw.mot";
    {
        std::ofstream f(fw, std::ios::binary);
        f << "S00600004844521B\r\n";
        for (int i = 0; i < 18; ++i) f << "S1130000285F245F2212226A000424290008237C2A\r\n";
        f << "S9030000FC\r\n";
    }
    {
        Session s(scratch, smallBoard());
        s.ticks(40);
        writeSeed(out, "start_and_poll", s.tape);
    }
    {
        auto o = smallBoard();
        o.firstImageAfterMs = 0;
        Session s(scratch, o);
        s.ticks(80);
        if (s.view.imageWindowsOpened != 1) std::fprintf(stderr, "no test image in the seed\n");
        writeSeed(out, "test_image", s.tape);
    }
    {
        Session s(scratch, smallBoard());
        s.ticks(24);
        s.radio(2);  // Letter
        s.apply();
        s.ticks(80);
        s.ok();
        s.ticks(30);
        if (s.view.endResults.empty()) std::fprintf(stderr, "OK did not end the window\n");
        writeSeed(out, "apply_then_ok", s.tape);
    }
    {
        Session s(scratch, smallBoard());
        s.ticks(24);
        s.update(fw);
        s.ticks(30);
        if (s.board.firmwareUpdates() != 1) std::fprintf(stderr, "no firmware update\n");
        writeSeed(out, "firmware_update", s.tape);
    }
    {
        Session s(scratch, smallBoard());
        s.ticks(24);
        s.board.unplug(300);
        s.ticks(20);
        s.language();  // the link starts again
        s.ticks(30);
        writeSeed(out, "unplug_and_language", s.tape);
    }
    {
        auto o = smallBoard();
        sim::Fault shortStatus;
        shortStatus.kind = sim::FaultKind::ShortPacket;
        shortStatus.requestCode = link::code::GetStatus;
        shortStatus.shortSize = 3;
        o.faults.push_back(shortStatus);
        sim::Fault mismatch;
        mismatch.kind = sim::FaultKind::MismatchedCode;
        mismatch.requestCode = link::code::Paper;
        o.faults.push_back(mismatch);
        Session s(scratch, o);
        s.ticks(30);
        s.language();  // restarts the pump
        s.ticks(40);
        if (s.view.messages.empty()) std::fprintf(stderr, "no bad-packet message\n");
        writeSeed(out, "short_and_mismatched", s.tape);
    }
}

// ---- fuzz_test_image: FuzzedDataProvider takes the numbers from the end -------------------

void appendConsumed(Bytes& tail, std::uint64_t value, int bytes) {
    // The provider reads the most significant byte first, walking backwards from the end.
    for (int i = bytes - 1; i >= 0; --i)
        tail.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes withTail(Bytes front, const Bytes& consumedInOrder) {
    front.insert(front.end(), consumedInOrder.rbegin(), consumedInOrder.rend());
    return front;
}

void testImageSeeds(const fs::path& out) {
    struct Size {
        std::uint32_t width, bytesPerLine;
    };
    for (const Size size : {Size{48, 8}, Size{13, 4}, Size{100, 12}}) {
        const sim::ScanLines lines =
            sim::drawTestPicture({"Q70", "seed"}, size.width, size.bytesPerLine);
        testimage::EncoderOptions options;
        options.seed = size.width;
        options.randomLengths = true;
        options.emptyBlockPercent = 10;
        const Bytes data =
            testimage::encodeLines(lines.bytes, size.width, size.bytesPerLine, options);

        Bytes consumed;
        appendConsumed(consumed, 0, 1);  // the header as sent
        appendConsumed(consumed, size.width, 2);
        appendConsumed(consumed, size.bytesPerLine, 2);
        appendConsumed(consumed, data.size(), 4);
        appendConsumed(consumed, 'W', 1);
        writeSeed(
            out,
            "picture_" + std::to_string(size.width) + "x" + std::to_string(size.bytesPerLine * 8),
            withTail(data, consumed));
    }
    // A round trip of the picture's own ink, with the encoder's defaults.
    const sim::ScanLines lines = sim::drawTestPicture({"Q70", ""}, 40, 6);
    Bytes consumed;
    appendConsumed(consumed, 1, 1);
    appendConsumed(consumed, 39, 1);  // width 40
    appendConsumed(consumed, 5, 1);   // 6 bytes per line
    writeSeed(out, "round_trip", withTail(lines.bytes, consumed));
}

// ---- fuzz_firmware_chunks: S-record files ----------------------------------------------

std::string record(char type, const std::vector<std::uint8_t>& bytes) {
    static const char* hex = "0123456789ABCDEF";
    std::string line = "S";
    line.push_back(type);
    const auto count = static_cast<std::uint8_t>(bytes.size() + 1);
    unsigned sum = count;
    auto put = [&](std::uint8_t b) {
        line.push_back(hex[b >> 4]);
        line.push_back(hex[b & 15]);
    };
    put(count);
    for (auto b : bytes) {
        put(b);
        sum += b;
    }
    put(static_cast<std::uint8_t>(~sum));
    return line;
}

std::string srecordFile(int dataLines, int dataBytes, const std::string& eol, bool lastEol) {
    std::string file = record('0', {0, 0, 'Q', '7', '0', ' ', '1', '.', '2', '1'}) + eol;
    for (int i = 0; i < dataLines; ++i) {
        std::vector<std::uint8_t> b = {0, static_cast<std::uint8_t>(i >> 8),
                                       static_cast<std::uint8_t>(i * dataBytes)};
        for (int k = 0; k < dataBytes; ++k) b.push_back(static_cast<std::uint8_t>(i * 7 + k));
        file += record('2', b) + eol;
    }
    file += record('8', {0, 0, 0});
    if (lastEol) file += eol;
    return file;
}

void firmwareSeeds(const fs::path& out) {
    writeSeed(out, "sixteen_lines", toBytes(srecordFile(14, 16, "\n", true)));
    writeSeed(out, "seventeen_lines_crlf", toBytes(srecordFile(15, 16, "\r\n", true)));
    writeSeed(out, "long_lines", toBytes(srecordFile(40, 32, "\r\n", false)));
    writeSeed(out, "line_too_long", toBytes(std::string(900, 'S') + "\n"));
    writeSeed(out, "empty", {});
    // What the check before an update meets: 32-bit records, a count record, lower-case
    // hex, a trailing empty line, a damaged checksum.
    std::string wide = record('0', {0, 0, 'V', '2'}) + "\r\n";
    wide += record('3', {0x80, 0, 0, 0, 1, 2, 3}) + "\r\n" + record('5', {0, 1}) + "\r\n";
    wide += record('7', {0x80, 0, 0, 0}) + "\r\n\r\n";
    writeSeed(out, "check_s3_s5_s7_crlf", toBytes(wide));
    std::string lower = srecordFile(3, 8, "\n", true);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
    writeSeed(out, "check_lower_case", toBytes(lower));
    std::string damaged = srecordFile(5, 8, "\n", true);
    damaged[damaged.find("S2") + 9] ^= 1;
    writeSeed(out, "check_bad_checksum", toBytes(damaged));
}

// ---- fuzz_board_requests: request packets as the host sends them --------------------------

void appendRequest(Bytes& seed, const link::Packet& p, bool later = false) {
    const auto head = static_cast<std::uint16_t>(p.size | (later ? 0x8000 : 0));
    seed.push_back(static_cast<std::uint8_t>(head));
    seed.push_back(static_cast<std::uint8_t>(head >> 8));
    seed.insert(seed.end(), p.bytes.begin(), p.bytes.begin() + static_cast<std::ptrdiff_t>(p.size));
}

void boardSeeds(const fs::path& out) {
    Bytes start;
    for (const std::uint8_t c : link::kStartSequence) appendRequest(start, link::encodeBare(c));
    appendRequest(start, link::encodeWithByte(link::code::GetTestImage, 0));
    writeSeed(out, "start_and_image", start);

    Bytes writes;
    for (const std::uint8_t c : link::kSettingWriteOrder)
        appendRequest(writes, link::encodeWithByte(c, 1));
    appendRequest(writes, link::encodeSetDateTime({2004, 12, 31, 23, 59}));
    appendRequest(writes, link::encodeBare(link::code::GetStatus), true);
    writeSeed(out, "settings_write", writes);

    Bytes firmware;
    const std::string path = "fw.mot";
    appendRequest(firmware, link::encodeFirmwareData(
                                link::firmware_sub::Start,
                                {reinterpret_cast<const std::uint8_t*>(path.data()), path.size()}));
    const std::string text = srecordFile(6, 16, "\n", true);
    appendRequest(firmware, link::encodeFirmwareData(
                                link::firmware_sub::LastChunk,
                                {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
    appendRequest(firmware, link::encodeBare(link::code::GetFirmwareVersion));
    writeSeed(out, "firmware_update", firmware);
}

// ---- fuzz_config and fuzz_device_address -------------------------------------------------

void configSeeds(const fs::path& out, const fs::path& repo) {
    const fs::path data = repo / "data";
    for (const char* name :
         {"Q70Uty.ini", "Loc/ENG/Q70Uty.ini", "Loc/JPN/Q70Uty.ini", "Loc/CHS/Q70Uty.ini"}) {
        std::ifstream in(data / name, std::ios::binary);
        if (!in) continue;
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        std::string seed = name;
        for (char& c : seed) c = (c == '/' || c == '.') ? '_' : c;
        writeSeed(out, seed, toBytes(text));
    }
    // A Japanese file as the Windows version wrote it (Shift-JIS), and the lookup rules.
    writeSeed(out, "legacy_cp932",
              toBytes("[General]\r\nLanguage=JAPANESE\r\n[DialogCaption]\r\nButtonOK=\x83n\x83"
                      "C\r\n"
                      "ButtonCancel=\x83L\x83\x83\x83\x93\x83Z\x83\x8b\r\n"));
    writeSeed(out, "lookup_rules",
              toBytes("; comment\n[generaL]\nVersion = \"2.00\"\nMode_Font_Size=-12x\n"
                      "[DialogCaption]\nButtonOK=\nButtonOK=second\n[MessageText\nbad line\n"));
}

void addressSeeds(const fs::path& out) {
    int n = 0;
    for (const char* a : {"usb", "usb:1209:0001", "USB:abcd:EF0", "unix:/run/q70.sock", "sim",
                          "\\\\.\\CPYBRD0", "usb:12345:1", "unix:"}) {
        writeSeed(out, "address_" + std::to_string(n++), toBytes(a));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds REPOSITORY\n");
        return 2;
    }
    const fs::path repo = argv[1];
    const fs::path corpus = repo / "fuzz" / "corpus";
    const fs::path scratch = fs::temp_directory_path() / "q70-make-seeds";
    fs::remove_all(scratch);
    fs::create_directories(scratch);

    linkSeeds(corpus / "fuzz_link_answers", scratch);
    testImageSeeds(corpus / "fuzz_test_image");
    firmwareSeeds(corpus / "fuzz_firmware_chunks");
    configSeeds(corpus / "fuzz_config", repo);
    addressSeeds(corpus / "fuzz_device_address");
    boardSeeds(corpus / "fuzz_board_requests");

    fs::remove_all(scratch);
    return 0;
}
