#include <gtest/gtest.h>

#include "app/window_placement.hpp"

#include <fstream>
#include <iterator>

#include "support/controller_fixture.hpp"
#include "testimage/encoder.hpp"

namespace q70::test {
namespace {

namespace id = window::id;

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class WindowTest : public ControllerFixture {};

TEST_F(WindowTest, WithoutAnIniFileEveryCaptionHasItsDefault) {
    start(false);
    EXPECT_EQ(view.title, "Q-70 Series Setup Utility Ver. 1.00");
    EXPECT_EQ(view.menu, (std::vector<std::string>{"&English", "&Japanese", "&Chinese"}));
    EXPECT_EQ(view.text(id::OK), "OK");
    EXPECT_EQ(view.text(id::Update), "Update");
    EXPECT_EQ(view.text(id::FileSelect), "...");
    EXPECT_EQ(view.text(id::FirmwareNameLabel), "Update File Name");
    EXPECT_EQ(view.text(id::FirmwareVersion), "V1.10");
    EXPECT_EQ(view.text(id::AspectFrame), "Aspect Ratio");
    EXPECT_EQ(view.text(id::PrintModeOriginal), "Original Image");
    EXPECT_EQ(view.text(id::SaveModeMatch), "Match Paper Size");
    EXPECT_EQ(view.text(id::TimeStampEnable), "Enable");
    EXPECT_EQ(view.focus, id::Cancel);
    EXPECT_FALSE(view.visible(id::Progress));
}

TEST_F(WindowTest, CaptionsComeFromTheIniAndAnEmptyValueStaysEmpty) {
    writeFile("Q70Uty.ini",
              "[DialogCaption]\nButtonOK=\nButtonReset = Start over\n[TitleText]\n"
              "UtilityDialogTitle=Board tool\n[General]\nVersion=2.5\n");
    start(false);
    EXPECT_EQ(view.text(id::OK), "");
    EXPECT_EQ(view.text(id::Reset), "Start over");
    EXPECT_EQ(view.title, "Board tool 2.5");
}

TEST_F(WindowTest, InitialShrinkAndTheButtonRow) {
    start(false);
    EXPECT_EQ(view.window.right, 788 / 2);
    EXPECT_EQ(view.window.bottom, 574 - 183);
    const window::Size client = view.clientSize();
    const int w = 77;
    const int gap = (client.width - 4 * w - w / 3) / 3;
    const int y = client.height - 40;
    EXPECT_EQ(view.control(id::Reset).x, 12);
    EXPECT_EQ(view.control(id::OK).x, w + 12 + gap);
    EXPECT_EQ(view.control(id::Cancel).x, 2 * (w + gap) + 12);
    EXPECT_EQ(view.control(id::Apply).x, 3 * (w + gap) + 12);
    for (int b : {id::Reset, id::OK, id::Cancel, id::Apply}) EXPECT_EQ(view.control(b).y, y);
    for (int c : {id::MaintenanceFrame, id::FirmwarePath, id::Update, id::FileSelect,
                  id::FirmwareVersion, id::RadioFull, id::RadioProgram}) {
        EXPECT_FALSE(view.visible(c)) << c;
    }
}

TEST_F(WindowTest, MaintenanceToggleStepsBy183AndBack) {
    start(false);
    const window::Rect before = view.window;
    const int rowBefore = view.control(id::OK).y;
    controller->onCommand(id::CmdToggleMaintenance);
    EXPECT_EQ(view.window.bottom, before.bottom + 183);
    EXPECT_EQ(view.window.width(), before.width());
    EXPECT_EQ(view.control(id::OK).y, rowBefore + 183);
    EXPECT_TRUE(view.visible(id::MaintenanceFrame));
    EXPECT_TRUE(view.visible(id::Update));
    EXPECT_FALSE(view.visible(id::RadioFull));
    EXPECT_FALSE(view.visible(id::RadioProgram));
    controller->onCommand(id::CmdToggleMaintenance);
    EXPECT_EQ(view.window.bottom, before.bottom);
    EXPECT_EQ(view.window.left, before.left);
    EXPECT_EQ(view.window.top, before.top);
    EXPECT_EQ(view.control(id::OK).y, rowBefore);
    EXPECT_FALSE(view.visible(id::Update));
}

TEST_F(WindowTest, TheGrownWindowStaysInsideTheScreen) {
    // 1366 x 768 with a 32-pixel panel at the bottom; the window near the bottom edge.
    view.screenArea = {0, 0, 1366, 736};
    start(false);
    const window::Rect shrunk = view.window;
    view.window = {500, 400, 500 + shrunk.width(), 400 + shrunk.height()};
    controller->onCommand(id::CmdToggleMaintenance);
    EXPECT_EQ(view.window.height(), shrunk.height() + 183);
    EXPECT_LE(view.window.bottom, 736);
    EXPECT_GE(view.window.top, 0);
    EXPECT_EQ(view.window.left, 500);
    // The buttons' row lies inside the client area, so on the screen as well.
    EXPECT_LE(view.control(id::OK).y + view.control(id::OK).height, view.clientSize().height);

    // A window taller than the area keeps its caption on the screen.
    view.screenArea = {0, 0, 1366, 300};
    controller->onCommand(id::CmdToggleMaintenance);
    controller->onCommand(id::CmdToggleMaintenance);
    EXPECT_EQ(view.window.top, 0);
}

TEST(WindowPlacement, KeepInsideAndCascade) {
    const window::Rect area{0, 0, 1366, 736};
    EXPECT_EQ(app::keepInside({10, 10, 110, 60}, area).top, 10);
    const window::Rect moved = app::keepInside({1300, 700, 1400, 800}, area);
    EXPECT_EQ(moved.right, 1366);
    EXPECT_EQ(moved.bottom, 736);
    EXPECT_EQ(moved.width(), 100);
    EXPECT_EQ(app::keepInside({-50, -20, 50, 80}, area).left, 0);
    EXPECT_EQ(app::keepInside({5, 5, 50, 50}, window::Rect{}).left, 5) << "unknown area";

    const window::Rect next = app::cascadeAfter({100, 100, 500, 400}, {400, 300}, area);
    EXPECT_EQ(next.left, 100 + app::kCascadeStepPx);
    EXPECT_EQ(next.top, 100 + app::kCascadeStepPx);
    EXPECT_EQ(next.width(), 400);
    // At the bottom-right the next one starts again at the area's corner.
    const window::Rect wrapped = app::cascadeAfter({900, 420, 1300, 720}, {400, 300}, area);
    EXPECT_EQ(wrapped.left, 0);
    EXPECT_EQ(wrapped.top, 0);
}

TEST(WindowPlacement, TheLargestScaleThatFits) {
    const auto sizeAt = [](int scale) { return window::Size{10 * scale, 20 * scale}; };
    struct Case {
        window::Rect area;
        int largest, smallest, expected;
    } const cases[] = {
        {{0, 0, 1366, 768}, 48, 32, 38},  // 760 pixels tall; 39 would be 780
        {{0, 0, 1366, 760}, 48, 32, 38},  // exactly
        {{0, 0, 300, 1440}, 48, 32, 32},  // the width decides, and nothing fits
        {{}, 48, 32, 48},                 // unknown area: as asked
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::largestFitting(c.largest, c.smallest, c.area, sizeAt), c.expected)
            << c.area.width() << "x" << c.area.height();
    }
}

TEST_F(WindowTest, ALanguageSwitchTakesTheNewFilesFontAndLaysTheWindowOutAgain) {
    std::filesystem::create_directories(folder / "Loc" / "JPN");
    std::filesystem::create_directories(folder / "Loc" / "CHS");
    // A file of the old Windows version: the face in the language's code page (CP932).
    writeFile(
        "Loc/JPN/Q70Uty.ini",
        "[General]\nLanguage=JAPANESE\nMode_Font=\x82\x6c\x82\x72 UI Gothic\nMode_Font_Size=11\n");
    writeFile("Loc/CHS/Q70Uty.ini",
              "[General]\nLanguage=CHINESE\nMode_Font=SimSun\nMode_Font_Size=99\n");
    view.screenArea = {0, 0, 1366, 768};
    start();
    view.fontTemplateSize = window::Size{1000, 700};  // what the new font gives the template
    view.window = {400, 200, 400 + view.window.width(), 200 + view.window.height()};

    controller->onCommand(id::CmdJapanese);
    EXPECT_EQ(view.fontRequests.at(0),
              (FakeView::FontRequest{"\xEF\xBC\xAD\xEF\xBC\xB3 UI Gothic", 11, "JAPANESE"}));
    // Shrunk as at start, from where the window stood; the buttons follow.
    EXPECT_EQ(view.window.left, 400);
    EXPECT_EQ(view.window.top, 200);
    EXPECT_EQ(view.window.width(), 500);
    EXPECT_EQ(view.window.height(), 700 - 183);
    EXPECT_EQ(view.control(id::OK).y, view.clientSize().height - 40);

    // The open maintenance panel stays open, on the screen.
    controller->onCommand(id::CmdToggleMaintenance);
    controller->onCommand(id::CmdChinese);
    EXPECT_EQ(view.fontRequests.back().points, 8) << "a size out of range gives the default";
    EXPECT_EQ(view.window.height(), 700);
    EXPECT_EQ(view.window.bottom, 768);
    EXPECT_EQ(view.control(id::OK).y, view.clientSize().height - 40);

    // No English folder: the Chinese file stays, and so does its font.
    controller->onCommand(id::CmdEnglish);
    EXPECT_EQ(view.fontRequests.back(), (FakeView::FontRequest{"SimSun", 8, "CHINESE"}));
}

TEST_F(WindowTest, FocusGoesToCancelOnceItIsEnabled) {
    start(false);
    view.focus = 0;
    // Cancel is disabled until the board has answered; a disabled control takes no focus.
    EXPECT_FALSE(view.enabled(id::Cancel));
    sched.advance(8 * 50);
    ASSERT_TRUE(view.enabled(id::Cancel));
    EXPECT_EQ(view.focus, id::Cancel);
    // Once: later refreshes leave the focus where the user put it.
    view.focus = id::FirmwarePath;
    view.click(id::MarginEnable);
    view.click(id::Apply);
    sched.advance(20 * 50);
    EXPECT_EQ(view.focus, id::FirmwarePath);
}

TEST_F(WindowTest, BiggerButtonsShrinkTheGapButNotTheStep) {
    start(false);
    const int smallGap = view.control(id::OK).x - view.control(id::Reset).x - 77;
    view.controls[id::Reset].width = 92;  // what a 10-point font gives the buttons
    view.controls[id::Reset].height = 40;
    const int bottom = view.window.bottom;
    controller->onCommand(id::CmdToggleMaintenance);
    EXPECT_EQ(view.window.bottom, bottom + 183);
    EXPECT_EQ(view.control(id::OK).width, 92);
    const int bigGap = view.control(id::OK).x - view.control(id::Reset).x - 92;
    EXPECT_LT(bigGap, smallGap);
    EXPECT_EQ(view.control(id::Reset).x, 92 / 6);
}

TEST_F(WindowTest, LanguageCommandCopiesFilesReloadsAndKeepsTheBoardVersion) {
    writeFile("Q70Uty.ini", "[General]\nLanguage=ENGLISH\n");
    std::filesystem::create_directories(folder / "Loc" / "JPN");
    writeFile("Loc/JPN/Q70Uty.ini",
              "[General]\nLanguage=JAPANESE\n[DialogCaption]\nButtonOK=\xE7\xA2\xBA\xE5\xAE\x9A\n"
              "LabelFirmVersionVal=V0.00\n");
    writeFile("Loc/JPN/Q70Uty.html", "<p>help</p>");
    start();
    ASSERT_EQ(view.text(id::FirmwareVersion), "V2.05");
    const std::size_t before = transport.written.size();
    controller->onCommand(id::CmdJapanese);
    EXPECT_EQ(readFile(folder / "Q70Uty.ini"), readFile(folder / "Loc/JPN/Q70Uty.ini"));
    EXPECT_EQ(readFile(folder / "Q70Uty.html"), "<p>help</p>");
    EXPECT_EQ(controller->currentLanguage(), "JAPANESE");
    EXPECT_EQ(view.text(id::OK), "\xE7\xA2\xBA\xE5\xAE\x9A");
    EXPECT_EQ(view.text(id::FirmwareVersion), "V2.05");
    EXPECT_FALSE(view.enabled(id::OK));
    sched.advance(9 * 50);  // the poll queued before, then the fresh start sequence
    const auto codes = writtenCodes(before);
    ASSERT_GE(codes.size(), 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(codes.end() - 8, codes.end()),
              std::vector<std::uint8_t>(link::kStartSequence.begin(), link::kStartSequence.end()));
    EXPECT_TRUE(view.enabled(id::OK));

    // A language whose folder is missing: texts reloaded from the unchanged file.
    controller->onCommand(id::CmdChinese);
    EXPECT_EQ(controller->currentLanguage(), "CHINESE");
    EXPECT_EQ(view.text(id::OK), "\xE7\xA2\xBA\xE5\xAE\x9A");
}

TEST_F(WindowTest, EnterAndEscEndTheDialogWithoutWriting) {
    start();
    const std::size_t before = transport.written.size();
    controller->onCommand(id::DialogOK);
    controller->onCommand(id::DialogCancel);
    controller->onCommand(id::Cancel);
    EXPECT_EQ(view.endResults,
              (std::vector<int>{id::DialogOK, id::DialogCancel, id::DialogCancel}));
    sched.advance(3000);
    for (auto c : writtenCodes(before)) EXPECT_EQ(c, link::code::GetStatus);
    controller->shutdown();
    EXPECT_FALSE(sched.running(link::kPumpTimer));
    EXPECT_FALSE(sched.running(link::kReconnectTimer));
}

TEST_F(WindowTest, HelpOpensTheActiveHelpFile) {
    start(false);
    controller->onHelp();
    EXPECT_EQ(view.helpOpened, std::vector<std::string>{(folder / "Q70Uty.html").string()});
}

TEST_F(WindowTest, LogThatCannotBeOpenedIsReportedWithItsPath) {
    std::filesystem::create_directories(folder / "Q70_USB.Log");  // a folder cannot be opened
    start(false);
    ASSERT_FALSE(view.messages.empty());
    EXPECT_EQ(view.messages[0], "Unable to open the file:" + (folder / "Q70_USB.Log").string());
}

TEST_F(WindowTest, ABoardAnotherProgramHoldsIsToldInTheWindowsLanguageAndTakenOnceFree) {
    writeFile("Q70Uty.ini", "[MessageText]\nMsgDeviceBusy=Belegt.\n");
    transport.openSucceeds = false;
    transport.problem = {true, "q70ctl", 4242};
    start(false);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Belegt.\nq70ctl (PID 4242)"});
    // Tried again like a board not plugged in, and read once the holder lets go.
    sched.advance(500);
    transport.openSucceeds = true;
    sched.advance(50 + 8 * 50);
    EXPECT_EQ(writtenCodes().size(), 8u);
    EXPECT_EQ(view.messages.size(), 1u);
}

// The board offers an image; the controller saves the raw data, builds the bitmap and
// opens the window, whose closing asks whether to save.
class TestImageFlow : public ControllerFixture {
  protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        std::vector<std::uint8_t> lines(kWidth * kBytesPerLine);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            lines[i] = static_cast<std::uint8_t>((i * 37) ^ (i >> 3));
        }
        data = testimage::encodeLines(lines, kWidth, kBytesPerLine);
        board.state = 0;
        auto base = transport.responder;
        transport.responder = [this, base](const link::Request& r, ScriptedTransport& t) {
            if (r.code == link::code::GetTestImage) {
                for (const auto& p :
                     link::encodeTestImageAnswer('W', kWidth, kBytesPerLine, data)) {
                    t.queueAnswer(p);
                }
                board.state = 1;
                return;
            }
            base(r, t);
        };
    }
    static constexpr std::uint16_t kWidth = 400;
    static constexpr std::uint16_t kBytesPerLine = 8;
    std::vector<std::uint8_t> data;
};

TEST_F(TestImageFlow, ImageIsSavedRawShownAndPollingGoesOn) {
    ASSERT_GT(data.size(), 1014u) << "the image must need several packets";
    start();
    sched.advance(20 * 50);
    EXPECT_EQ(view.imageWindowsOpened, 1);
    const std::string raw = readFile(folder / "rawdata.bin");
    EXPECT_EQ(raw, std::string(data.begin(), data.end()));
    EXPECT_TRUE(controller->testImage().hasBitmap());
    const std::size_t before = transport.written.size();
    sched.advance(3000);
    EXPECT_GT(transport.written.size(), before) << "status polling goes on";

    view.answers = {window::Choice::Cancel, window::Choice::Yes, window::Choice::Yes};
    view.bitmapChoices = {std::nullopt, (folder / "out.bmp").string()};
    EXPECT_FALSE(controller->onTestImageWindowClose());  // Cancel
    EXPECT_FALSE(controller->onTestImageWindowClose());  // Yes, then Save As cancelled
    EXPECT_TRUE(controller->onTestImageWindowClose());   // Yes, saved
    EXPECT_EQ(view.questions.size(), 3u);
    EXPECT_EQ(view.questions[0], "Do you want to save the RDB test image into file ?");
    const auto expected = controller->testImage().bitmapFileBytes();
    EXPECT_EQ(readFile(folder / "out.bmp"), std::string(expected.begin(), expected.end()));

    view.answers = {window::Choice::No};
    EXPECT_TRUE(controller->onTestImageWindowClose());
}

TEST_F(TestImageFlow, ASaveThatFailsIsToldAndTheWindowStaysWithItsPicture) {
    start();
    sched.advance(20 * 50);
    ASSERT_EQ(view.imageWindowsOpened, 1);
    // The window's own copy; a newer image replaces the controller's.
    const testimage::TestImage shown = controller->testImage();
    const auto shownBytes = shown.bitmapFileBytes();
    ASSERT_FALSE(shownBytes.empty());
    std::vector<std::uint8_t> lines(kWidth * kBytesPerLine);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lines[i] = static_cast<std::uint8_t>((i * 91) ^ (i >> 2));
    }
    data = testimage::encodeLines(lines, kWidth, kBytesPerLine);
    board.state = 0;
    sched.advance(3000);
    ASSERT_EQ(view.imageWindowsOpened, 2);
    ASSERT_NE(controller->testImage().bitmapFileBytes(), shownBytes);

    const std::string nowhere = (folder / "no-such-folder" / "out.bmp").string();
    view.answers = {window::Choice::Yes, window::Choice::Yes};
    view.bitmapChoices = {nowhere, (folder / "out.bmp").string()};
    EXPECT_FALSE(controller->onTestImageWindowClose(shown));
    EXPECT_EQ(view.messages, std::vector<std::string>{"Unable to open the file:" + nowhere});
    EXPECT_TRUE(controller->onTestImageWindowClose(shown));
    EXPECT_EQ(readFile(folder / "out.bmp"), std::string(shownBytes.begin(), shownBytes.end()));
}

}  // namespace
}  // namespace q70::test
