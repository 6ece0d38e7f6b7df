#pragma once
// The controller with a fake view, a manual clock and a small scripted board: enough to
// drive every rule of the window without widgets. Each test gets its own program folder.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "support/fake_view.hpp"
#include "support/manual_scheduler.hpp"
#include "support/scripted_transport.hpp"
#include "window/control_ids.hpp"

namespace q70::test {

// A board that answers at once, with knobs for what the rules react to.
struct MiniBoard {
    char typeLetter = 'W';
    std::string version = "V2.05";
    std::array<std::uint8_t, 256> values{};  // by setting code
    std::uint8_t state = 1;
    std::uint8_t writeAnswer = link::code::Acknowledge;  // answer to a setting write
    std::uint8_t dateAnswer = link::code::Acknowledge;
    std::uint8_t firmwareAnswer = link::code::Acknowledge;
    std::vector<std::vector<std::uint8_t>> firmwareRequests;  // every FirmwareData packet
    std::vector<link::DateTime> dates;

    void answer(const link::Request& r, ScriptedTransport& t) {
        using namespace link;
        switch (r.code) {
            case code::GetDeviceInfo: {
                DeviceInfo info;
                info.deviceType = typeLetter;
                t.queueAnswer(encodeDeviceInfoAnswer(info));
                return;
            }
            case code::GetFirmwareVersion:
                t.queueAnswer(encodeVersionAnswer(version));
                return;
            case code::GetStatus:
                t.queueAnswer(encodeStatusAnswer({state, false, false}));
                return;
            case code::SetDateTime:
                dates.push_back(decodeSetDateTime(r));
                t.queueAnswer(encodeAnswer(dateAnswer));
                return;
            case code::FirmwareData:
                firmwareRequests.push_back(t.written.back());
                t.queueAnswer(encodeAnswer(firmwareAnswer));
                return;
            default:
                break;
        }
        if (isSettingCode(r.code)) {
            if (r.payload.empty()) {
                t.queueAnswer(encodeSettingAnswer(r.code, values[r.code]));
            } else {
                if (writeAnswer == code::Acknowledge) values[r.code] = r.payload[0];
                t.queueAnswer(encodeAnswer(writeAnswer));
            }
            return;
        }
        t.queueAnswer(encodeAnswer(code::NoAction));
    }
};

class ControllerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() /
                 (std::string("q70-") + info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        transport.responder = [this](const link::Request& r, ScriptedTransport& t) {
            board.answer(r, t);
        };
        makeController();
    }

    void TearDown() override {
        controller.reset();
        std::error_code ec;
        std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
        std::filesystem::remove_all(folder, ec);
    }

    void makeController() {
        app::ControllerOptions options{folder.string(), {}};
        options.localNow = [this] { return computerClock; };
        options.scanTestImage = scanTestImage;
        controller = std::make_unique<app::UtilityController>(view, transport, sched, sched, texts,
                                                              image, std::move(options));
        view.attach(*controller);
        sched.setHandler([this](int id) { controller->onTimer(id); });
    }

    // Start-up reads and the window's initialisation, then the start sequence runs.
    void start(bool runStartSequence = true) {
        controller->startupReads();
        controller->onInitDialog();
        if (runStartSequence) sched.advance(8 * 50);
    }

    void writeFile(const std::string& name, const std::string& content) {
        std::filesystem::create_directories((folder / name).parent_path());
        std::ofstream(folder / name, std::ios::binary) << content;
    }

    std::vector<std::uint8_t> writtenCodes(std::size_t from = 0) const {
        std::vector<std::uint8_t> codes;
        for (std::size_t i = from; i < transport.written.size(); ++i) {
            codes.push_back(transport.written[i][4]);
        }
        return codes;
    }

    std::filesystem::path folder;
    // The computer's local time, which the pickers follow.
    link::DateTime computerClock{2026, 12, 7, 21, 43};
    // The built-in simulated board's scan, when a test drives one (before makeController).
    std::function<void()> scanTestImage;
    MiniBoard board;
    ScriptedTransport transport;
    ManualScheduler sched;
    FakeView view;
    config::TextCatalogue texts;
    testimage::TestImage image;
    std::unique_ptr<app::UtilityController> controller;
};

}  // namespace q70::test
