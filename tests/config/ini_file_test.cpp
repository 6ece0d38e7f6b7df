#include "config/ini_file.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "temp_folder.hpp"

namespace q70::config {
namespace {

using test::TempFolder;

TEST(IniFile, MissingFileSectionOrKeyGivesTheDefault) {
    TempFolder dir;
    const IniFile none = IniFile::load(dir.path() / "absent.ini");
    EXPECT_EQ(none.getString("General", "Language", "ENGLISH", 260), "ENGLISH");
    EXPECT_EQ(none.getInt("General", "Mode_Font_Size", 8), 8);

    const IniFile ini = IniFile::parse("[General]\nLanguage=JAPANESE\n");
    EXPECT_EQ(ini.getString("General", "Version", "1.00", 200), "1.00");
    EXPECT_EQ(ini.getString("TitleText", "Language", "x", 200), "x");
    EXPECT_EQ(ini.getInt("MenuText", "Mode_Font_Size", 8), 8);
}

TEST(IniFile, EmptyValueIsKeptNotReplacedByTheDefault) {
    const IniFile ini = IniFile::parse("[DialogCaption]\nButtonOK=\nButtonCancel =   \n");
    EXPECT_EQ(ini.getString("DialogCaption", "ButtonOK", "OK", 200), "");
    EXPECT_EQ(ini.getString("DialogCaption", "ButtonCancel", "Cancel", 200), "");
    EXPECT_TRUE(ini.hasKey("DialogCaption", "ButtonOK"));
    // An empty value has no digits: the integer read falls back.
    EXPECT_EQ(ini.getInt("DialogCaption", "ButtonOK", 8), 8);
}

TEST(IniFile, ValueIsCutToBufferSizeMinusOne) {
    const std::string longValue(300, 'x');
    const IniFile ini = IniFile::parse("[S]\nK=" + longValue + "\nShort=abc\n");
    EXPECT_EQ(ini.getString("S", "K", "", 200), std::string(199, 'x'));
    EXPECT_EQ(ini.getString("S", "K", "", 260), std::string(259, 'x'));
    EXPECT_EQ(ini.getString("S", "Short", "", 4), "abc");
    EXPECT_EQ(ini.getString("S", "Short", "", 3), "ab");
    EXPECT_EQ(ini.getString("S", "Short", "", 1), "");
    EXPECT_EQ(ini.getString("S", "Short", "", 0), "");
    // The default goes through the same buffer.
    EXPECT_EQ(ini.getString("S", "Missing", "defaults", 5), "defa");
}

TEST(IniFile, CutNeverSplitsAUtf8Character) {
    // 66 three-byte characters = 198 bytes, then one more: a cut at 199 falls inside it.
    std::string value;
    for (int i = 0; i < 67; ++i) value += "\xE6\x97\xA5";  // 日
    const IniFile ini = IniFile::parse("[S]\nK=" + value + "\n");
    const std::string got = ini.getString("S", "K", "", 200);
    EXPECT_EQ(got.size(), 198u);
    EXPECT_EQ(got, value.substr(0, 198));
}

TEST(IniFile, NamesMatchWithoutRegardToCase) {
    const IniFile ini =
        IniFile::parse("[general]\nLANGUAGE=CHINESE\n[MessageTEXT]\nmsgcomplete=Done\n");
    EXPECT_EQ(ini.getString("General", "Language", "", 260), "CHINESE");
    EXPECT_EQ(ini.getString("GENERAL", "language", "", 260), "CHINESE");
    EXPECT_EQ(ini.getString("MessageText", "MsgComplete", "", 200), "Done");
}

TEST(IniFile, FirstOccurrenceWins) {
    const IniFile ini =
        IniFile::parse("[S]\nK=first\nk=second\n[T]\nA=1\n[s]\nK=third\nOnlyLater=x\n");
    EXPECT_EQ(ini.getString("S", "K", "", 200), "first");
    // Only the first section of a name is searched.
    EXPECT_EQ(ini.getString("S", "OnlyLater", "dflt", 200), "dflt");
    EXPECT_EQ(ini.getInt("T", "A", 0), 1);
}

TEST(IniFile, CommentsBlanksAndQuotes) {
    const IniFile ini = IniFile::parse(
        "; leading comment\n"
        "  [ S ]  \n"
        "   ; indented comment=not a key\n"
        ";K=commented out\n"
        "K = value ; with semicolon  \n"
        "\tTabbed\t=\t  spaced  out \t\r\n"
        "Quoted=\"  keep inner blanks \"\n"
        "Single='x'\n"
        "Twice=\"\"a\"\"\n"
        "Unmatched=\"abc\n"
        "Inner=a \"b\" c\n"
        "Lone=\"\n"
        "NoEquals\n"
        "=no name\n");
    EXPECT_EQ(ini.getString("S", "K", "", 200), "value ; with semicolon");
    EXPECT_EQ(ini.getString("S", "Tabbed", "", 200), "spaced  out");
    EXPECT_EQ(ini.getString("S", "Quoted", "", 200), "  keep inner blanks ");
    EXPECT_EQ(ini.getString("S", "Single", "", 200), "x");
    EXPECT_EQ(ini.getString("S", "Twice", "", 200), "\"a\"");  // one pair only
    EXPECT_EQ(ini.getString("S", "Unmatched", "", 200), "\"abc");
    EXPECT_EQ(ini.getString("S", "Inner", "", 200), "a \"b\" c");
    EXPECT_EQ(ini.getString("S", "Lone", "", 200), "\"");
    EXPECT_FALSE(ini.hasKey("S", "NoEquals"));
    EXPECT_FALSE(ini.hasKey("S", "; indented comment"));
    EXPECT_FALSE(ini.hasKey("S", ";K"));
}

TEST(IniFile, KeysBeforeAnySectionAndBadHeadersAreIgnored) {
    const IniFile ini = IniFile::parse("K=orphan\n[S\nK=under broken header\n[S]\nK=ok\n");
    EXPECT_EQ(ini.getString("S", "K", "", 200), "ok");
}

TEST(IniFile, ByteOrderMarkAndCrLfAreHandled) {
    const IniFile ini =
        IniFile::parse("\xEF\xBB\xBF[General]\r\nLanguage=ENGLISH\r\nVersion=1.00\r\n");
    EXPECT_EQ(ini.getString("General", "Language", "", 260), "ENGLISH");
    EXPECT_EQ(ini.getString("General", "Version", "", 200), "1.00");
}

TEST(IniFile, IntegerTakesLeadingDigitsWithOptionalSign) {
    const IniFile ini = IniFile::parse(
        "[G]\nA=12pt\nB=-5\nC=+7\nD=abc\nE= 9 \nF=\"10\"\nG=-\nH=99999999999999\nI=-99999999999\n"
        "J=0x10\n");
    EXPECT_EQ(ini.getInt("G", "A", 8), 12);
    EXPECT_EQ(ini.getInt("G", "B", 8), -5);
    EXPECT_EQ(ini.getInt("G", "C", 8), 7);
    EXPECT_EQ(ini.getInt("G", "D", 8), 8);
    EXPECT_EQ(ini.getInt("G", "E", 8), 9);
    EXPECT_EQ(ini.getInt("G", "F", 8), 10);
    EXPECT_EQ(ini.getInt("G", "G", 8), 8);
    EXPECT_EQ(ini.getInt("G", "H", 8), INT_MAX);
    EXPECT_EQ(ini.getInt("G", "I", 8), INT_MIN);
    EXPECT_EQ(ini.getInt("G", "J", 8), 0);
}

TEST(IniFile, LoadReadsTheFileAsItIsNow) {
    TempFolder dir;
    const auto path = dir.write("Q70Uty.ini", "[S]\nK=before\n");
    const IniFile first = IniFile::load(path);
    dir.write("Q70Uty.ini", "[S]\nK=after\n");
    EXPECT_EQ(first.getString("S", "K", "", 200), "before");  // one read per load
    EXPECT_EQ(IniFile::load(path).getString("S", "K", "", 200), "after");
    EXPECT_EQ(readProfileString(path, "S", "K", "", 200), "after");
    EXPECT_EQ(readProfileInt(path, "S", "Missing", 3), 3);
}

}  // namespace
}  // namespace q70::config
