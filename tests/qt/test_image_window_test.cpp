#include <QPainter>

#include "qt/qt_timer_service.hpp"
#include "qt/test_image_window.hpp"
#include "qt_window_fixture.hpp"
#include "sim/sim_transport.hpp"
#include "sim/simulated_board.hpp"
#include "sim/test_picture.hpp"
#include "system/steady_clock.hpp"
#include "testimage/encoder.hpp"

namespace q70::test {
namespace {

namespace id = window::id;

// The simulated board's picture, received as the engine would hand it over.
sim::ScanLines loadPicture(testimage::TestImage& image, const std::filesystem::path& folder,
                           const std::string& name, std::uint32_t width = sim::kPictureWidth,
                           std::uint32_t bytesPerLine = sim::kPictureBytesPerLine) {
    sim::ScanLines lines = sim::drawTestPicture({name, "TYPE W"}, width, bytesPerLine);
    const std::vector<std::uint8_t> data =
        testimage::encodeLines(lines.bytes, lines.width, lines.bytesPerLine);
    image.setProgramFolder(folder.string());
    image.setHeader(lines.width, lines.bytesPerLine * 8, static_cast<std::uint32_t>(data.size()),
                    'W');
    image.saveRawData(data);
    image.buildBitmap();
    image.releaseData();
    return lines;
}

class TestImageWindowTest : public QtWindowFixture {
  protected:
    qt::TestImageWindow* openWindow() {
        view->showTestImage();
        const auto windows = view->testImageWindows();
        return windows.empty() ? nullptr : windows.back();
    }
};

TEST_F(TestImageWindowTest, ScanLineZeroIsOnTheLeftAndDotZeroAtTheBottom) {
    const sim::ScanLines lines = loadPicture(image, folder, "Q-70");
    ASSERT_TRUE(image.hasBitmap());
    const QImage picture = qt::toQImage(image);
    ASSERT_EQ(picture.width(), static_cast<int>(image.bitmapWidth()));
    ASSERT_EQ(picture.height(), 1504);
    std::size_t mismatches = 0;
    std::size_t ink = 0;
    for (std::uint32_t x = 0; x < lines.width; ++x) {
        for (std::uint32_t y = 0; y < 1504; ++y) {
            const bool black =
                picture.pixel(static_cast<int>(x), static_cast<int>(y)) == qRgb(0, 0, 0);
            if (black != lines.inkAt(x, y)) ++mismatches;
            if (black) ++ink;
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(ink, 10000u) << "the picture is not blank";
    // White where the bitmap's rounded width goes past the last scan line.
    EXPECT_EQ(picture.pixel(picture.width() - 1, 700), qRgb(255, 255, 255));

    testimage::TestImage empty;
    EXPECT_TRUE(qt::toQImage(empty).isNull());
}

TEST_F(TestImageWindowTest, PictureFillsTheHeightInItsProportionsFromTheTopLeft) {
    start();
    loadPicture(image, folder, "Q-70");
    qt::TestImageWindow* window = openWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "RDTestImage(Untitled)");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window->isSizeGripEnabled());
    EXPECT_EQ(window->parentWidget(), view.get());
    const QFont templateFont = qt::dialogFont(QStringLiteral("MS Sans Serif"), 8);
    EXPECT_EQ(window->size(), qt::toQSize(window::toPixels(window::kTestImageDialogSize,
                                                           qt::baseUnits(templateFont))));

    window->resize(600, 400);
    const QImage shown = window->grab().toImage();
    // 2176 x 400 / 1504 = 578.7: 578 pixels wide.
    EXPECT_EQ(window->lastDrawRect(), QRect(0, 0, 578, 400));
    EXPECT_NE(shown.pixel(300, 200), shown.pixel(590, 200)) << "picture, then background";

    // A new image while the window is open goes to a window of its own; this one keeps
    // its picture.
    loadPicture(image, folder, "ZZZZ");
    const QImage second = window->grab().toImage();
    EXPECT_EQ(second, shown);

    // Maximised or bigger, the picture still follows the height.
    window->resize(1000, 700);
    window->grab();
    EXPECT_EQ(window->lastDrawRect(), QRect(0, 0, 2176 * 700 / 1504, 700));
}

TEST_F(TestImageWindowTest, AOnePixelLineStaysVisibleWhenShrunk) {
    // One scan line all black: a vertical line one pixel wide.
    constexpr std::uint32_t kLines = 2160, kBytes = 188, kLine = 1001;
    std::vector<std::uint8_t> lines(kLines * kBytes, 0);
    std::fill_n(lines.begin() + kLine * kBytes, kBytes, 0xFF);
    const auto data = testimage::encodeLines(lines, kLines, kBytes);
    image.setProgramFolder(folder.string());
    image.setHeader(kLines, kBytes * 8, static_cast<std::uint32_t>(data.size()), 'W');
    image.saveRawData(data);
    ASSERT_TRUE(image.buildBitmap());
    image.releaseData();
    start();
    qt::TestImageWindow* window = openWindow();
    ASSERT_NE(window, nullptr);
    window->resize(600, 400);
    const QImage shown = window->grab().toImage();
    const int x = static_cast<int>(kLine * 578 / image.bitmapWidth());
    // Averaged, the line's ink is spread as grey over the pixels it covers: in total about
    // 255 * 578 / 2176 = 68 levels below white in every row, never dropped.
    int rowsWithTheLine = 0;
    for (int y = 0; y < 400; ++y) {
        int ink = 0;
        for (int dx = -3; dx <= 3; ++dx) ink += 255 - qGray(shown.pixel(x + dx, y));
        if (ink >= 55 && ink <= 80) ++rowsWithTheLine;
    }
    EXPECT_EQ(rowsWithTheLine, 400);
}

TEST_F(TestImageWindowTest, NoBitmapDrawsNothing) {
    start();
    qt::TestImageWindow* window = openWindow();
    ASSERT_NE(window, nullptr);
    window->grab();
    EXPECT_TRUE(window->lastDrawRect().isNull());
}

TEST_F(TestImageWindowTest, ClosingAsksAndSavingWritesTheBitmapFileBytes) {
    start();
    loadPicture(image, folder, "Q-70");
    qt::TestImageWindow* window = openWindow();
    ASSERT_NE(window, nullptr);
    const QPointer<qt::TestImageWindow> alive(window);
    std::deque<std::optional<std::string>> choices;
    int fileDialogs = 0;
    view->bitmapFileHook = [&]() -> std::optional<std::string> {
        ++fileDialogs;
        auto c = choices.front();
        choices.pop_front();
        return c;
    };

    MessageBoxAnswer answer{QMessageBox::Cancel};
    answer.arm();
    window->close();
    ASSERT_TRUE(answer.seen);
    EXPECT_EQ(answer.text, "Do you want to save the RDB test image into file ?");
    EXPECT_EQ(answer.icon, QMessageBox::Warning);
    EXPECT_EQ(answer.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(answer.owner, window) << "the question belongs to the image window";
    EXPECT_TRUE(alive && window->isVisible()) << "Cancel keeps the window";

    // Yes, then the Save As dialog cancelled: the window stays.
    choices = {std::nullopt};
    answer.button = QMessageBox::Yes;
    answer.arm();
    window->close();
    EXPECT_EQ(fileDialogs, 1);
    EXPECT_TRUE(alive && window->isVisible());

    // Yes and a file: exactly the bytes saveBitmapFile writes, and the window goes.
    const auto saved = folder / "saved.bmp";
    choices = {saved.string()};
    answer.arm();
    window->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 2000)) << "closed and deleted";
    ASSERT_TRUE(image.saveBitmapFile((folder / "direct.bmp").string()));
    const std::string bytes = readFile(saved);
    EXPECT_EQ(bytes.size(), 409150u);
    EXPECT_EQ(bytes, readFile(folder / "direct.bmp"));
    EXPECT_TRUE(view->testImageWindows().empty());
}

TEST_F(TestImageWindowTest, EscAsksTooAndNoClosesWithoutAFile) {
    start();
    loadPicture(image, folder, "Q-70");
    qt::TestImageWindow* window = openWindow();
    ASSERT_NE(window, nullptr);
    const QPointer<qt::TestImageWindow> alive(window);
    bool fileAsked = false;
    view->bitmapFileHook = [&]() -> std::optional<std::string> {
        fileAsked = true;
        return std::nullopt;
    };
    MessageBoxAnswer answer{QMessageBox::No};
    answer.arm();
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_TRUE(answer.seen) << "Esc asks like the close box";
    EXPECT_FALSE(fileAsked);
    EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 2000));
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_NE(entry.path().extension(), ".bmp") << entry.path();
    }
}

TEST_F(TestImageWindowTest, TwoImagesOpenTwoWindowsEachSavingItsOwnPicture) {
    start();
    loadPicture(image, folder, "ONE", 400, 32);
    view->showTestImage();
    const auto one = image.bitmapFileBytes();
    loadPicture(image, folder, "TWO", 400, 32);
    view->showTestImage();
    const auto windows = view->testImageWindows();
    ASSERT_EQ(windows.size(), 2u);
    // The second opens beside the first, not exactly over it.
    EXPECT_NE(windows[0]->frameGeometry().topLeft(), windows[1]->frameGeometry().topLeft());
    EXPECT_NE(windows[0]->grab().toImage(), windows[1]->grab().toImage());

    // The first window saves the first picture; a place that cannot be written is told
    // and keeps the window.
    const QPointer<qt::TestImageWindow> first(windows[0]);
    const std::string nowhere = (folder / "missing" / "one.bmp").string();
    std::deque<std::optional<std::string>> choices = {nowhere, (folder / "one.bmp").string()};
    view->bitmapFileHook = [&]() -> std::optional<std::string> {
        auto c = choices.front();
        choices.pop_front();
        return c;
    };
    MessageBoxAnswer answer{QMessageBox::Yes};
    answer.arm();
    first->close();
    EXPECT_TRUE(first && first->isVisible()) << "a failed save closed the window";
    answer.arm();
    first->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, 2000));
    EXPECT_EQ(readFile(folder / "one.bmp"), std::string(one.begin(), one.end()));
}

// The real event loop and timers here: the window and a message box are open while the
// link keeps polling the simulated board.
TEST(TestImageFromTheBoard, OpensTheWindowWhileStatusRequestsKeepGoingOut) {
    const auto folder = std::filesystem::temp_directory_path() / "q70qt-board-image";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    {
        system::SteadyClock clock;
        sim::BoardOptions options;
        options.firstImageAfterMs = 200;
        options.imageWidth = 400;
        options.imageBytesPerLine = 32;
        sim::SimulatedBoard board(clock, options);
        int statusRequests = 0;
        board.setRequestObserver([&](std::span<const std::uint8_t> p) {
            if (p.size() >= 5 && p[4] == link::code::GetStatus) ++statusRequests;
        });
        sim::SimTransport transport(board);
        qt::QtTimerService timers;
        config::TextCatalogue texts;
        testimage::TestImage image;
        qt::QtWindowView view(image);
        app::UtilityController controller(view, transport, timers, clock, texts, image,
                                          app::ControllerOptions{folder.string(), {}});
        view.attach(controller);
        timers.setHandler([&](int timerId) { controller.onTimer(timerId); });
        controller.startupReads();
        view.buildControls(qt::dialogFont(QString(), 8));
        controller.onInitDialog();
        view.show();

        ASSERT_TRUE(QTest::qWaitFor([&] { return view.testImageWindows().size() == 1; }, 20000));
        EXPECT_EQ(readFile(folder / "rawdata.bin"),
                  std::string(board.lastImageData().begin(), board.lastImageData().end()));
        EXPECT_TRUE(image.hasBitmap());

        view.showMessage("A message from a tick");
        const int before = statusRequests;
        QTest::qWait(2600);
        EXPECT_GE(statusRequests - before, 2) << "polling went on behind the open windows";
        EXPECT_EQ(view.testImageWindows().size(), 1u);
        controller.shutdown();
        EXPECT_FALSE(timers.isActive(1));
        EXPECT_FALSE(timers.isActive(2));
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

}  // namespace
}  // namespace q70::test
