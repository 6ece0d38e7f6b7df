#include "config/text_catalogue.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "config/ini_file.hpp"
#include "temp_folder.hpp"

namespace q70::config {
namespace {

using test::TempFolder;

std::string title(const TextCatalogue& t) {
    return t.get(TextKey::UtilityDialogTitle) + " " + t.get(TextKey::Version);
}

TEST(TextTable, KeysAreUniqueAndInKeyOrder) {
    std::set<std::string_view> names;
    for (std::size_t i = 0; i < kTextCount; ++i) {
        EXPECT_EQ(static_cast<std::size_t>(textTable()[i].key), i);
        EXPECT_TRUE(names.insert(textTable()[i].name).second) << textTable()[i].name;
    }
    EXPECT_EQ(kTextCount, 57u);
}

TEST(TextCatalogue, WithoutIniFileEveryTextIsItsDefault) {
    TempFolder dir;
    TextCatalogue t;
    t.loadTexts((dir.path() / "Q70Uty.ini").string(), true);
    for (const TextEntry& e : textTable()) EXPECT_EQ(t.get(e.key), e.defaultText) << e.name;
    EXPECT_EQ(title(t), "Q-70 Series Setup Utility Ver. 1.00");

    TextCatalogue defaults;
    defaults.loadDefaults();
    for (const TextEntry& e : textTable()) EXPECT_EQ(defaults.get(e.key), t.get(e.key));
}

TEST(TextCatalogue, ReadsEachKeyFromItsSection) {
    TempFolder dir;
    const auto ini = dir.write("Q70Uty.ini",
                               "[TitleText]\nUtilityDialogTitle=Title\n"
                               "[General]\nVersion=2.5\n"
                               "[DialogCaption]\nButtonOK=\nButtonReset=Zurück\n"
                               "MsgComplete=wrong section\n"
                               "[MessageText]\nMsgBadSTypeFile=Bad file\n");
    TextCatalogue t;
    t.loadTexts(ini.string(), true);
    EXPECT_EQ(title(t), "Title 2.5");
    EXPECT_EQ(t.get(TextKey::ButtonOK), "");  // present but empty: no caption, not "OK"
    EXPECT_EQ(t.get(TextKey::ButtonReset), "Zurück");
    EXPECT_EQ(t.get(TextKey::MsgComplete), "Completed.");
    EXPECT_EQ(t.get(TextKey::MsgBadSTypeFile), "Bad file");
    EXPECT_EQ(t.get(TextKey::ButtonCancel), "Cancel");
}

TEST(TextCatalogue, LongValueIsCutTo199Bytes) {
    TempFolder dir;
    const std::string longText(500, 'm');
    const auto ini = dir.write("Q70Uty.ini", "[MessageText]\nMsgUSBOpenError=" + longText + "\n");
    TextCatalogue t;
    t.loadTexts(ini.string(), true);
    EXPECT_EQ(t.get(TextKey::MsgUSBOpenError), std::string(199, 'm'));
    TextCatalogue early;
    early.loadOpenErrorTexts(ini.string());
    EXPECT_EQ(early.get(TextKey::MsgUSBOpenError), std::string(199, 'm'));
}

TEST(TextCatalogue, ReloadWithoutFullKeepsTheStartOnlyFields) {
    TempFolder dir;
    const auto ini =
        dir.write("Q70Uty.ini",
                  "[DialogCaption]\nLabelFirmVersionVal=V0.01\nLabelScanLineDotsVal=2160\n"
                  "LabelFeedLinesVal=1504\nLabelDeviceTypeVal=W\nButtonOK=Okay\n");
    TextCatalogue t;
    t.loadTexts(ini.string(), true);
    EXPECT_EQ(t.get(TextKey::LabelFirmVersionVal), "V0.01");
    EXPECT_EQ(t.get(TextKey::LabelScanLineDotsVal), "2160");

    t.set(TextKey::LabelFirmVersionVal, "V2.34");  // as the board's version answer does
    dir.write("Q70Uty.ini", "[DialogCaption]\nLabelFirmVersionVal=V9.99\nButtonOK=Bien\n");
    t.loadTexts(ini.string(), false);
    EXPECT_EQ(t.get(TextKey::LabelFirmVersionVal), "V2.34");
    EXPECT_EQ(t.get(TextKey::LabelScanLineDotsVal), "2160");
    EXPECT_EQ(t.get(TextKey::LabelFeedLinesVal), "1504");
    EXPECT_EQ(t.get(TextKey::LabelDeviceTypeVal), "W");
    EXPECT_EQ(t.get(TextKey::ButtonOK), "Bien");

    t.loadTexts(ini.string(), true);
    EXPECT_EQ(t.get(TextKey::LabelFirmVersionVal), "V9.99");
    EXPECT_EQ(t.get(TextKey::LabelScanLineDotsVal), "");
}

TEST(TextCatalogue, EarlyReadTouchesOnlyTheOpenMessages) {
    TempFolder dir;
    const auto ini = dir.write("Q70Uty.ini",
                               "[MessageText]\nMsgUSBOpenError=Kein USB\nMsgDeviceBusy=Belegt\n"
                               "MsgComplete=Fertig\n");
    TextCatalogue t;
    t.loadOpenErrorTexts(ini.string());
    EXPECT_EQ(t.get(TextKey::MsgUSBOpenError), "Kein USB");
    EXPECT_EQ(t.get(TextKey::MsgDeviceBusy), "Belegt");
    EXPECT_EQ(t.get(TextKey::MsgComplete), "");  // still as constructed

    TextCatalogue none;
    none.loadOpenErrorTexts((dir.path() / "none.ini").string());
    EXPECT_EQ(none.get(TextKey::MsgUSBOpenError), entry(TextKey::MsgUSBOpenError).defaultText);
}

TEST(TextCatalogue, Utf8FollowsTheLanguageOfTheFile) {
    TempFolder dir;
    // "キャンセル" in Shift-JIS, as a language file from the Windows version holds it.
    const auto ini =
        dir.write("Q70Uty.ini",
                  "[General]\nLanguage=JAPANESE\n"
                  "[DialogCaption]\nButtonCancel=\x83\x4C\x83\x83\x83\x93\x83\x5A\x83\x8B\n");
    TextCatalogue t;
    t.loadTexts(ini.string(), true);
    EXPECT_EQ(t.fileLanguage(), "JAPANESE");
    EXPECT_EQ(t.get(TextKey::ButtonCancel), "\x83\x4C\x83\x83\x83\x93\x83\x5A\x83\x8B");  // as read
    EXPECT_EQ(t.utf8(TextKey::ButtonCancel), "キャンセル");
    EXPECT_EQ(t.utf8(TextKey::ButtonOK), "OK");
}

}  // namespace
}  // namespace q70::config
