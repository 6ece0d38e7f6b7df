// The fault matrix: for each flow of the window (start sequence, settings written by Apply
// and by OK, firmware update, test image) and each answer packet of it, each fault the
// board can commit (lost, a packet of 4 bytes or fewer, a mismatched answer, 0xFE, silence).
// The window runs on the manual clock against the in-process simulated board. Every cell
// checks that
//  - no read holds the window's thread longer than 50 ms;
//  - exactly the expected messages appear, each at most once, the outcome of the job among
//    them (a write or an update that failed says so), and OK does not close the window on a
//    write the board did not acknowledge;
//  - once the board is back the link starts again by itself, and the flow done again goes
//    through and says so;
//  - the firmware file and an earlier rawdata.bin come through untouched (a failed image
//    leaves rawdata.bin as it was; the image that arrives after recovery replaces it whole).

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "faulty_transport.hpp"
#include "sim/simulated_board.hpp"
#include "support/fake_view.hpp"
#include "support/manual_scheduler.hpp"
#include "window/control_ids.hpp"

namespace q70::test {
namespace {

namespace code = link::code;
using Bytes = std::vector<std::uint8_t>;

enum class Flow { Start, Apply, OK, Firmware, TestImage };

struct Cell {
    Flow flow;
    FaultKind fault;
    int request;     // which request of the flow
    int packet = 0;  // which packet of its answer (only the test image has several)
};

const char* name(Flow f) {
    switch (f) {
        case Flow::Start:
            return "Start";
        case Flow::Apply:
            return "Apply";
        case Flow::OK:
            return "OK";
        case Flow::Firmware:
            return "Firmware";
        case Flow::TestImage:
            return "TestImage";
    }
    return "?";
}

const char* name(FaultKind f) {
    switch (f) {
        case FaultKind::Lost:
            return "Lost";
        case FaultKind::Short:
            return "Short";
        case FaultKind::Mismatched:
            return "Mismatched";
        case FaultKind::NoAction:
            return "NoAction";
        case FaultKind::Silence:
            return "Silence";
    }
    return "?";
}

// A small picture, so that its answer takes a handful of packets.
constexpr std::uint16_t kImageWidth = 600;
constexpr std::uint16_t kImageBytesPerLine = 24;

sim::BoardOptions boardOptions() {
    sim::BoardOptions o;
    o.busyMs = 100;
    o.imageWidth = kImageWidth;
    o.imageBytesPerLine = kImageBytesPerLine;
    return o;
}

// How many packets the board's first test image takes.
int imagePackets() {
    ManualScheduler clock;
    sim::SimulatedBoard board(clock, boardOptions());
    board.offerTestImage();
    board.receive(link::encodeWithByte(code::GetTestImage, 0).view());
    int n = 0;
    link::Packet p;
    while (board.nextAnswer(p)) ++n;
    return n;
}

std::string sRecord(char type, const Bytes& addressAndData) {
    unsigned sum = static_cast<unsigned>(addressAndData.size() + 1);
    std::ostringstream line;
    line << 'S' << type << std::hex << std::uppercase;
    auto put = [&](unsigned b) { line << ((b >> 4) & 15) << (b & 15); };
    put(static_cast<unsigned>(addressAndData.size() + 1));
    for (const std::uint8_t b : addressAndData) {
        put(b);
        sum += b;
    }
    put(~sum & 0xFFu);
    return line.str();
}

// 42 records in CR LF lines: a start request and three data requests (16, 16 and 10 lines).
std::string firmwareFile() {
    std::string file =
        sRecord('0', {0, 0, 'Q', '7', '0', ' ', 'V', 'e', 'r', ' ', '2', '.', '0'}) + "\r\n";
    for (int i = 0; i < 40; ++i) {
        Bytes rec = {static_cast<std::uint8_t>(i >> 4), static_cast<std::uint8_t>(i << 4)};
        for (int k = 0; k < 16; ++k) rec.push_back(static_cast<std::uint8_t>(i * 11 + k));
        file += sRecord('1', rec) + "\r\n";
    }
    return file + sRecord('9', {0, 0}) + "\r\n";
}
constexpr int kFirmwareRequests = 4;

std::vector<Cell> allCells() {
    const std::map<Flow, int> requests = {{Flow::Start, 8},
                                          {Flow::Apply, 6},
                                          {Flow::OK, 6},
                                          {Flow::Firmware, kFirmwareRequests},
                                          {Flow::TestImage, 1}};
    const int packets = imagePackets();
    std::vector<Cell> cells;
    for (const auto& [flow, count] : requests) {
        for (const FaultKind fault : {FaultKind::Lost, FaultKind::Short, FaultKind::Mismatched,
                                      FaultKind::NoAction, FaultKind::Silence}) {
            for (int r = 0; r < count; ++r) {
                const int answerPackets = flow == Flow::TestImage ? packets : 1;
                for (int p = 0; p < answerPackets; ++p) cells.push_back({flow, fault, r, p});
            }
        }
    }
    return cells;
}

Bytes readFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string id = info->name();
        for (char& c : id) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        folder = std::filesystem::temp_directory_path() / ("q70-matrix-" + id);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);

        firmware = firmwareFile();
        std::ofstream(folder / "fw.mot", std::ios::binary) << firmware;
        for (int i = 0; i < 3000; ++i) earlierRaw.push_back(static_cast<std::uint8_t>(i * 37));
        std::ofstream(folder / "rawdata.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(earlierRaw.data()),
                   static_cast<std::streamsize>(earlierRaw.size()));

        controller =
            std::make_unique<app::UtilityController>(view, transport, sched, sched, texts, image,
                                                     app::ControllerOptions{folder.string(), {}});
        view.attach(*controller);
        sched.setHandler([this](int id) { controller->onTimer(id); });
    }

    void TearDown() override {
        controller->shutdown();
        controller.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    void startWindow() {
        controller->startupReads();
        controller->onInitDialog();
    }

    std::string text(config::TextKey key) const { return texts.utf8(key); }

    // Sets paper and margin as the flow wants them; the board holds A4 and no margin.
    void chooseSettings() {
        view.click(window::id::PaperLetter);
        view.click(window::id::MarginEnable);
    }

    void startUpdate() {
        view.typePath((folder / "fw.mot").string());
        view.click(window::id::Update);
    }

    // The flow's request codes, its user action, and whether it went through.
    std::set<std::uint8_t> flowCodes(Flow f) const {
        switch (f) {
            case Flow::Start:
                return {1, 2, 6, 13, 17, 18, 19, 20};
            case Flow::Apply:
            case Flow::OK:
                return {5, 6, 17, 18, 19, 20};
            case Flow::Firmware:
                return {code::FirmwareData};
            case Flow::TestImage:
                return {code::GetTestImage};
        }
        return {};
    }

    void act(Flow f) {
        switch (f) {
            case Flow::Start:
                break;
            case Flow::Apply:
                chooseSettings();
                view.click(window::id::Apply);
                break;
            case Flow::OK:
                chooseSettings();
                view.click(window::id::OK);
                break;
            case Flow::Firmware:
                startUpdate();
                break;
            case Flow::TestImage:
                board.offerTestImage();
                break;
        }
    }

    bool settingsWritten() const {
        const link::DateTime& d = board.dateTime();
        return board.settings().paper == 1 && board.settings().margin == 1 &&
               d.year == view.dateTime.year && d.month == view.dateTime.month &&
               d.day == view.dateTime.day && d.hour == view.dateTime.hour &&
               d.minute == view.dateTime.minute;
    }

    std::string firmwareLf() const {
        std::string lf;
        for (char c : firmware)
            if (c != '\r') lf.push_back(c);
        return lf;
    }

    bool firmwareSent() const {
        return board.firmwareUpdates() >= 1 && board.firmwareText() == firmwareLf() &&
               board.version() == "Q70 Ver 2.0";
    }

    bool imageSaved(int windowsBefore) const {
        return view.imageWindowsOpened > windowsBefore &&
               readFile(folder / "rawdata.bin") == board.lastImageData() &&
               image.width() == kImageWidth && image.height() == kImageBytesPerLine * 8u;
    }

    bool panelOpen() const {
        return view.enabled(window::id::PaperA4) && view.enabled(window::id::PaperLetter);
    }

    std::filesystem::path folder;
    std::string firmware;
    Bytes earlierRaw;
    ManualScheduler sched;
    sim::SimulatedBoard board{sched, boardOptions()};
    FaultyTransport transport{board};
    FakeView view;
    config::TextCatalogue texts;
    testimage::TestImage image;
    std::unique_ptr<app::UtilityController> controller;
};

TEST_P(FaultMatrix, SurvivesAndRecovers) {
    const Cell cell = GetParam();
    const bool midImage = cell.flow == Flow::TestImage && cell.packet > 0;
    const bool firmwareRequest = cell.flow == Flow::Firmware;
    const bool writeFlow = cell.flow == Flow::Apply || cell.flow == Flow::OK;

    if (cell.flow == Flow::Start) {
        transport.arm(cell.fault, flowCodes(cell.flow), cell.request, cell.packet);
        startWindow();
    } else {
        startWindow();
        sched.advance(1000);
        ASSERT_TRUE(panelOpen());
        transport.arm(cell.fault, flowCodes(cell.flow), cell.request, cell.packet);
        act(cell.flow);
    }

    // What the user is told: the link's message where the link failed, then how the job
    // ended. A firmware transfer that loses its board says only that the update failed.
    std::vector<std::string> expected;
    switch (cell.fault) {
        case FaultKind::Lost:
        case FaultKind::Silence:
            if (!firmwareRequest) expected.push_back(text(config::TextKey::MsgReceivePktError));
            break;
        case FaultKind::Short:
            expected.push_back(text(config::TextKey::MsgReceiveBadPkt));
            break;
        case FaultKind::Mismatched:
        case FaultKind::NoAction:
            // In the middle of an image either one is a packet too short for its place.
            if (midImage) expected.push_back(text(config::TextKey::MsgReceiveBadPkt));
            break;
    }
    if (writeFlow) expected.push_back(text(config::TextKey::MsgSetWNG));
    if (firmwareRequest) expected.push_back(text(config::TextKey::MsgFirmUpNG));

    // Long enough for a silent board's answer to time out (5 s); checked as soon as the
    // failure has been told, before the link starts again.
    for (int t = 0; t < 8000 && !(transport.struck() && view.messages.size() >= expected.size());
         t += 50) {
        sched.advance(50);
    }
    ASSERT_TRUE(transport.struck()) << "the fault never struck";
    if (expected.empty()) sched.advance(2000);
    EXPECT_EQ(view.messages, expected);

    // No success after a failure: OK never closes the window on a write the board did not
    // acknowledge, a failed image never reaches the screen or rawdata.bin, and an update
    // that failed is not finished.
    if (cell.flow == Flow::OK) {
        EXPECT_TRUE(view.endResults.empty());
    }
    if (!expected.empty()) {
        EXPECT_EQ(view.imageWindowsOpened, 0);
        EXPECT_EQ(readFile(folder / "rawdata.bin"), earlierRaw) << "an earlier rawdata.bin changed";
    } else {
        // Nothing failed on the link: at most a whole image came later.
        const Bytes raw = readFile(folder / "rawdata.bin");
        EXPECT_TRUE(raw == earlierRaw || raw == board.lastImageData());
    }
    if (firmwareRequest) {
        EXPECT_FALSE(controller->firmwareUpdating());
        EXPECT_FALSE(view.visible(window::id::Progress));
        EXPECT_TRUE(view.enabled(window::id::Update)) << "no way to try again";
        // Only the answer is spoilt: a board that took the last chunk has the whole file.
        if (cell.request < kFirmwareRequests - 1) {
            EXPECT_FALSE(firmwareSent());
        }
    }

    // The board is back and behaves: the link starts again by itself, with no click and
    // no further message, and the panel opens once the board has answered.
    transport.disarm();
    board.replug();
    const std::size_t writesBefore = transport.writes();
    sched.advance(3000);
    EXPECT_TRUE(transport.isOpen()) << "the device was not reopened";
    EXPECT_FALSE(controller->connection().linkDown());
    EXPECT_GT(transport.writes(), writesBefore) << "the link stayed dead";
    EXPECT_TRUE(panelOpen()) << "the start sequence did not go through";
    EXPECT_EQ(view.messages, expected) << "a message during recovery";

    // The user does the flow again, and it goes through and says so.
    const int windowsBefore = view.imageWindowsOpened;
    switch (cell.flow) {
        case Flow::Start:
            break;
        case Flow::Apply:
            view.click(window::id::TimeStampDisable);  // something to write in any case
            chooseSettings();
            view.click(window::id::Apply);
            break;
        case Flow::OK:
            chooseSettings();
            view.click(window::id::OK);
            break;
        case Flow::Firmware:
            startUpdate();
            break;
        case Flow::TestImage:
            if (!board.testImageOffered()) board.offerTestImage();
            break;
    }
    sched.advance(6000);

    std::vector<std::string> told = expected;
    switch (cell.flow) {
        case Flow::Start: {
            // Polled again: the board's values are on the window and the poll goes on.
            const std::size_t reads = transport.reads();
            sched.advance(3000);
            EXPECT_GT(transport.reads(), reads);
            EXPECT_TRUE(panelOpen());
            break;
        }
        case Flow::Apply:
            EXPECT_TRUE(settingsWritten());
            EXPECT_EQ(board.settings().timeStamp, 0);
            told.push_back(text(config::TextKey::MsgSetWOK));
            break;
        case Flow::OK:
            EXPECT_TRUE(settingsWritten());
            EXPECT_EQ(view.endResults, std::vector<int>{window::id::ResultWritten});
            break;
        case Flow::Firmware:
            EXPECT_TRUE(firmwareSent());
            EXPECT_EQ(view.progress, 100);
            told.push_back(text(config::TextKey::MsgFirmUpOK));
            break;
        case Flow::TestImage:
            EXPECT_TRUE(imageSaved(windowsBefore)) << "no whole image after recovery";
            break;
    }
    EXPECT_EQ(view.messages, told);
    if (cell.flow != Flow::TestImage) {
        EXPECT_EQ(readFile(folder / "rawdata.bin"), earlierRaw);
    }
    const Bytes fw = readFile(folder / "fw.mot");
    EXPECT_EQ(std::string(fw.begin(), fw.end()), firmware);
    EXPECT_LE(transport.maxWaitMs(), 50);
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix, ::testing::ValuesIn(allCells()),
                         [](const ::testing::TestParamInfo<Cell>& i) {
                             std::string n = std::string(name(i.param.flow)) + "_" +
                                             name(i.param.fault) + "_request" +
                                             std::to_string(i.param.request);
                             if (i.param.flow == Flow::TestImage)
                                 n += "_packet" + std::to_string(i.param.packet);
                             return n;
                         });

}  // namespace
}  // namespace q70::test
