// What q70ctl makes of its arguments, before any board is involved.

#include "cli/arguments.hpp"

#include <gtest/gtest.h>

#include "cli_fixture.hpp"
#include "link/date_time_text.hpp"

namespace q70::test {
namespace {

using cli::SettingAssignment;
using settings::Setting;

SettingAssignment assignment(const std::string& text) {
    SettingAssignment a{Setting::TimeStamp, -1};
    std::string error;
    EXPECT_TRUE(cli::parseAssignment(text, a, error)) << text << ": " << error;
    return a;
}

std::string refusal(const std::string& text) {
    SettingAssignment a{};
    std::string error;
    EXPECT_FALSE(cli::parseAssignment(text, a, error)) << text;
    return error;
}

TEST(CliArguments, EveryNameTakesItsOwnWordsAndDigits) {
    const struct {
        const char* text;
        Setting setting;
        int value;
    } cases[] = {
        {"time-stamp=disable", Setting::TimeStamp, 0},
        {"time-stamp=enable", Setting::TimeStamp, 1},
        {"margin=0", Setting::Margin, 0},
        {"margin=enable", Setting::Margin, 1},
        {"paper=a4", Setting::Paper, 0},
        {"paper=letter", Setting::Paper, 1},
        {"print-mode=original", Setting::PrintMode, 0},
        {"print-mode=match", Setting::PrintMode, 1},
        {"save-mode=original", Setting::SaveMode, 0},
        {"save-mode=1", Setting::SaveMode, 1},
        {"Paper=LETTER", Setting::Paper, 1},
    };
    for (const auto& c : cases) {
        const SettingAssignment a = assignment(c.text);
        EXPECT_EQ(a.setting, c.setting) << c.text;
        EXPECT_EQ(a.value, c.value) << c.text;
    }
}

TEST(CliArguments, WordsOfAnotherSettingAndOtherNumbersAreRefused) {
    EXPECT_NE(refusal("paper=enable").find("a4 or letter"), std::string::npos);
    EXPECT_NE(refusal("margin=letter").find("disable or enable"), std::string::npos);
    refusal("time-stamp=2");
    refusal("print-mode=");
    refusal("save-mode=matchx");
    EXPECT_NE(refusal("papr=a4").find("unknown setting \"papr\""), std::string::npos);
    EXPECT_NE(refusal("paper").find("NAME=VALUE"), std::string::npos);
    refusal("=a4");
}

TEST(CliArguments, ASettingNamedTwiceIsRefusedEvenWithTheSameValue) {
    std::vector<SettingAssignment> out;
    std::string error;
    EXPECT_FALSE(cli::parseAssignments({"paper=a4", "margin=1", "paper=0"}, out, error));
    EXPECT_NE(error.find("paper is named twice"), std::string::npos);
    ASSERT_TRUE(cli::parseAssignments({"paper=a4", "margin=1"}, out, error));
    EXPECT_EQ(out.size(), 2u);
}

TEST(CliArguments, DateTimeIsAWholeCalendarMinute) {
    link::DateTime dt;
    std::string error;
    ASSERT_TRUE(link::parseDateTime("2004-12-31T23:59", dt, error));
    EXPECT_EQ(dt.year, 2004);
    EXPECT_EQ(dt.month, 12);
    EXPECT_EQ(dt.day, 31);
    EXPECT_EQ(dt.hour, 23);
    EXPECT_EQ(dt.minute, 59);
    EXPECT_EQ(link::formatDateTime(dt), "2004-12-31T23:59");

    // Leap years by the full rule.
    EXPECT_TRUE(link::parseDateTime("2004-02-29T00:00", dt, error));
    EXPECT_TRUE(link::parseDateTime("2000-02-29T00:00", dt, error));
    EXPECT_FALSE(link::parseDateTime("1900-02-29T00:00", dt, error));
    EXPECT_FALSE(link::parseDateTime("2023-02-29T00:00", dt, error));

    for (const char* bad :
         {"2004-04-31T10:00", "2004-13-01T10:00", "2004-00-10T10:00", "2004-12-00T10:00",
          "2004-12-31T24:00", "2004-12-31T23:60", "0000-01-01T00:00", "2004-12-31 23:59",
          "2004-1-31T23:59", "2004-12-31T23:59:00", "04-12-31T23:59", "2004-12-31T2a:59", ""}) {
        EXPECT_FALSE(link::parseDateTime(bad, dt, error)) << bad;
    }
    EXPECT_EQ(dt.year, 2000) << "a refused text leaves the last good value";
}

class CliUsage : public CliFixture {};

TEST_F(CliUsage, BadArgumentsExitWithTwoBeforeTheBoardIsTouched) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--device", "sim", "set", "paper=legal"},
             {"--device", "sim", "set", "paper=a4", "paper=letter"},
             {"--device", "sim", "set", "--time", "2004-02-30T10:00"},
             {"--device", "sim", "--timeout", "0", "get"},
             {"--device", "sim", "test-image"},
             {"--device", "sim", "test-image", "-o", "x.bmp", "--wait", "-1"},
             {"--device", "sim", "update"},
             {"--device", "sim", "frobnicate"},
             {"--device", "nowhere", "get"},
             {"--device", "sim"},
         }) {
        std::string joined;
        for (const std::string& a : args) joined += a + " ";
        EXPECT_EQ(run(args), cli::kExitUsage) << joined;
        EXPECT_FALSE(err.str().empty()) << joined;
        EXPECT_EQ(transportsMade, 0) << joined;
    }
    EXPECT_TRUE(requests.empty());
}

TEST_F(CliUsage, GlobalOptionsWorkAfterTheCommandToo) {
    EXPECT_EQ(run({"get", "--device", "sim", "--timeout", "700"}), cli::kExitOk) << err.str();
    EXPECT_EQ(transportsMade, 1);
}

TEST_F(CliUsage, HelpAtEveryLevelExitsZeroAndNamesTheExitCodes) {
    EXPECT_EQ(run({"--help"}), cli::kExitOk);
    EXPECT_NE(out.str().find("4  timeout"), std::string::npos);
    for (const char* command : {"info", "get", "set", "update", "test-image", "decode"}) {
        EXPECT_EQ(run({command, "--help"}), cli::kExitOk) << command;
        EXPECT_NE(out.str().find(command), std::string::npos) << command;
    }
    EXPECT_EQ(transportsMade, 0);
}

TEST_F(CliUsage, HelpNamesOnlyWhatThisBuildCanReach) {
    ASSERT_EQ(run({"--help"}), cli::kExitOk);
    const std::string help = out.str();
    EXPECT_NE(help.find("5  busy"), std::string::npos);
    EXPECT_NE(help.find("7  lost"), std::string::npos);
#if defined(_WIN32)
    EXPECT_NE(help.find("\\\\.\\CPYBRD0"), std::string::npos) << help;
    EXPECT_NE(help.find("%LOCALAPPDATA%\\q70"), std::string::npos) << help;
    for (const char* elsewhere :
         {"usb:BUS-PORT", "unix:PATH", "  usb ", "beside the executable", "man q70ctl"})
        EXPECT_EQ(help.find(elsewhere), std::string::npos) << elsewhere;
#else
    EXPECT_NE(help.find("unix:PATH"), std::string::npos) << help;
    EXPECT_EQ(help.find("CPYBRD0"), std::string::npos) << help;
    EXPECT_EQ(help.find("LOCALAPPDATA"), std::string::npos) << help;
#if defined(Q70_HAVE_USB)
    EXPECT_NE(help.find("usb:BUS-PORT"), std::string::npos) << help;
    EXPECT_NE(help.find("  all "), std::string::npos) << help;
#else
    EXPECT_EQ(help.find("usb:"), std::string::npos) << help;
#endif
#endif
}

TEST_F(CliUsage, AnUnknownDeviceKindIsANoDeviceExit) {
    // The address parses, but this environment can only make the simulated board.
    EXPECT_EQ(run({"--device", "unix:/nonexistent", "get"}), cli::kExitNoDevice);
    EXPECT_NE(err.str().find("only sim here"), std::string::npos);
}

}  // namespace
}  // namespace q70::test
