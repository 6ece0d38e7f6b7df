// q70ctl's printed values: both forms of a record, and JSON strings made of whatever bytes
// a board sends.

#include "cli/record.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace q70::test {
namespace {

using cli::jsonQuoted;

TEST(CliRecord, LinesAndJsonCarryTheSameValues) {
    cli::Record r;
    r.text("name", "a b=c");
    r.number("count", -5);
    r.flag("on", true);
    r.flag("off", false);
    std::ostringstream lines;
    r.printLines(lines);
    EXPECT_EQ(lines.str(), "name=a b=c\ncount=-5\non=1\noff=0\n");
    std::ostringstream json;
    r.printJson(json);
    EXPECT_EQ(json.str(), "{\"name\": \"a b=c\", \"count\": -5, \"on\": true, \"off\": false}\n");

    std::ostringstream empty;
    cli::Record().printJson(empty);
    EXPECT_EQ(empty.str(), "{}\n");
}

TEST(CliRecord, JsonStringsEscapeWhatJsonForbids) {
    EXPECT_EQ(jsonQuoted(""), "\"\"");
    EXPECT_EQ(jsonQuoted("say \"hi\" \\ bye"), R"("say \"hi\" \\ bye")");
    EXPECT_EQ(jsonQuoted(std::string("a\0b\n\t\x1F\x7F", 7)),
              R"("a\u0000b\u000A\u0009\u001F\u007F")");
    EXPECT_EQ(jsonQuoted("/"), "\"/\"");
}

TEST(CliRecord, JsonStringsKeepUtf8AndMapOtherBytesToTheirOwnValue) {
    // Well-formed sequences of two, three and four bytes pass as they are.
    EXPECT_EQ(jsonQuoted("\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80"),
              "\"\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80\"");
    // Shift-JIS "日本" is not UTF-8: each byte becomes the character of its value.
    EXPECT_EQ(jsonQuoted("\x93\xFA\x96\x7B"), R"("\u0093\u00FA\u0096{")");
    // Overlong forms, surrogates, values above U+10FFFF, a cut sequence at the end, a
    // lone continuation byte.
    EXPECT_EQ(jsonQuoted("\xC0\xAF"), R"("\u00C0\u00AF")");
    EXPECT_EQ(jsonQuoted("\xE0\x80\xAF"), R"("\u00E0\u0080\u00AF")");
    EXPECT_EQ(jsonQuoted("\xED\xA0\x80"), R"("\u00ED\u00A0\u0080")");
    EXPECT_EQ(jsonQuoted("\xF4\x90\x80\x80"), R"("\u00F4\u0090\u0080\u0080")");
    EXPECT_EQ(jsonQuoted("ok\xE6\x97"), R"("ok\u00E6\u0097")");
    EXPECT_EQ(jsonQuoted("\x80x"), R"("\u0080x")");
    // The largest and smallest of each length are still fine.
    EXPECT_EQ(jsonQuoted("\xC2\x80\xF4\x8F\xBF\xBF\xEF\xBF\xBF"),
              "\"\xC2\x80\xF4\x8F\xBF\xBF\xEF\xBF\xBF\"");
}

// A board's text in a NAME=VALUE line: nothing ends the line early or reaches the terminal
// as a control, and the escapes read back to the bytes the board sent.
TEST(CliRecord, LinesEscapeTheBoardsControlCharacters) {
    const std::pair<std::string, std::string> cases[] = {
        {"Q70 Ver 1.20", "Q70 Ver 1.20"},
        {"1.20\ndevice-state=9", "1.20\\ndevice-state=9"},
        {"1.20\ndevice-state=9\r\t", "1.20\\ndevice-state=9\\r\\t"},
        {"\x1b[2J\a", "\\x1b[2J\\x07"},
        {std::string("a\0b\x7F", 4), "a\\x00b\\x7f"},
        {"C:\\fw", "C:\\\\fw"},
        // C1 controls as UTF-8 (CSI is C2 9B); other UTF-8 and Shift-JIS bytes pass.
        {"\xC2\x9B"
         "31m \xC2\xA0",
         "\\xc2\\x9b"
         "31m \xC2\xA0"},
        {"\xE6\x97\xA5 \x93\xFA", "\xE6\x97\xA5 \x93\xFA"},
    };
    for (const auto& [board, line] : cases) {
        EXPECT_EQ(cli::lineEscaped(board), line);
        cli::Record r;
        r.foreignText("firmware-version", board);
        std::ostringstream lines, json;
        r.printLines(lines);
        r.printJson(json);
        EXPECT_EQ(lines.str(), "firmware-version=" + line + "\n");
        EXPECT_EQ(json.str(), "{\"firmware-version\": " + jsonQuoted(board) + "}\n");
    }
}

}  // namespace
}  // namespace q70::test
