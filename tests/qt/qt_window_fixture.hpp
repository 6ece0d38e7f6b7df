#pragma once
// The Qt window with the controller, a small scripted board and the manual clock: the
// widgets are real, time is not. Each test gets its own program folder.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "qt/dialog_metrics.hpp"
#include "qt/qt_window_view.hpp"
#include "support/controller_fixture.hpp"
#include "support/manual_scheduler.hpp"
#include "support/scripted_transport.hpp"
#include "window/control_ids.hpp"

namespace q70::test {

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Answers the next message box that opens with `button` and records what it showed. It
// looks for the box from the event loop, which keeps running inside the box's own loop.
struct MessageBoxAnswer {
    explicit MessageBoxAnswer(QMessageBox::StandardButton b) : button(b) {}

    QMessageBox::StandardButton button;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QWidget* owner = nullptr;
    bool seen = false;

    void arm() {
        seen = false;
        auto* poll = new QTimer;
        poll->setInterval(10);
        auto deadline = std::make_shared<int>(500);
        QObject::connect(poll, &QTimer::timeout, [this, poll, deadline] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (box == nullptr || !box->isVisible()) continue;
                seen = true;
                text = box->text();
                icon = box->icon();
                buttons = box->standardButtons();
                owner = box->parentWidget();
                poll->deleteLater();
                poll->stop();
                box->button(button)->click();
                return;
            }
            if (--*deadline == 0) {
                poll->stop();
                poll->deleteLater();
            }
        });
        poll->start();
    }
};

class QtWindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() /
                 (std::string("q70qt-") + info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        transport.responder = [this](const link::Request& r, ScriptedTransport& t) {
            board.answer(r, t);
        };
    }

    void TearDown() override {
        view.reset();
        controller.reset();
        std::error_code ec;
        std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
        std::filesystem::remove_all(folder, ec);
    }

    // Start-up reads, the window built with the configured font, its initialisation, and
    // (unless told otherwise) the start sequence.
    void start(bool runStartSequence = true) {
        view = std::make_unique<qt::QtWindowView>(image);
        app::ControllerOptions options{folder.string(), {}};
        options.localNow = [this] { return computerClock; };
        options.scanTestImage = scanTestImage;
        controller = std::make_unique<app::UtilityController>(*view, transport, sched, sched, texts,
                                                              image, std::move(options));
        view->attach(*controller);
        view->helpHook = [this](const std::string& path) { helpOpened.push_back(path); };
        sched.setHandler([this](int timerId) { controller->onTimer(timerId); });
        const config::StartupSettings s = controller->startupReads();
        font = qt::dialogFont(QString::fromStdString(s.dialogFontName), s.dialogFontSize);
        view->buildControls(font);
        controller->onInitDialog();
        if (runStartSequence) sched.advance(8 * 50);
    }

    // Shown and active, so that keys reach it.
    void showActive() {
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }

    void writeFile(const std::filesystem::path& name, const std::string& content) {
        std::filesystem::create_directories((folder / name).parent_path());
        std::ofstream(folder / name, std::ios::binary) << content;
    }

    template <typename W = QWidget>
    W* widget(int controlId) {
        return qobject_cast<W*>(view->control(controlId));
    }

    std::string caption(int controlId) { return view->text(controlId); }

    std::vector<std::uint8_t> writtenCodes(std::size_t from = 0) const {
        std::vector<std::uint8_t> codes;
        for (std::size_t i = from; i < transport.written.size(); ++i) {
            codes.push_back(transport.written[i][4]);
        }
        return codes;
    }

    std::filesystem::path folder;
    // The computer's local time, which the pickers follow; the simulated board's scan.
    link::DateTime computerClock{2026, 12, 7, 21, 43};
    std::function<void()> scanTestImage;
    MiniBoard board;
    ScriptedTransport transport;
    ManualScheduler sched;
    config::TextCatalogue texts;
    testimage::TestImage image;
    QFont font;
    std::unique_ptr<qt::QtWindowView> view;
    std::unique_ptr<app::UtilityController> controller;
    std::vector<std::string> helpOpened;
};

}  // namespace q70::test
