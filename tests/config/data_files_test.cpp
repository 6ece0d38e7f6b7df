// The language and help files shipped with the program, in the source tree and as the
// build copies them beside the executables.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "config/ini_file.hpp"
#include "config/paths.hpp"
#include "config/text_catalogue.hpp"
#include "config/text_decoding.hpp"
#include "temp_folder.hpp"

namespace q70::config {
namespace {

namespace fs = std::filesystem;
using test::readAll;

const fs::path kDataDir = Q70_DATA_DIR;
const fs::path kBinDir = Q70_BIN_DIR;

struct Shipped {
    Language language;
    const char* languageValue;
    const char* font;
    const char* windowsFont;  // the build for Windows names this one instead
};

constexpr Shipped kShipped[] = {
    {Language::English, "ENGLISH", "DejaVu Sans", "Segoe UI"},
    {Language::Japanese, "JAPANESE", "Noto Sans CJK JP", "Yu Gothic UI"},
    {Language::Chinese, "CHINESE", "Noto Sans CJK SC", "Microsoft YaHei UI"},
};

fs::path iniOf(Language l) {
    return languageIniSource(kDataDir.string(), l);
}
fs::path helpOf(Language l) {
    return languageHelpSource(kDataDir.string(), l);
}

TEST(ShippedFiles, EveryLanguageFileHoldsEveryKey) {
    for (const Shipped& s : kShipped) {
        SCOPED_TRACE(iniOf(s.language).string());
        const std::string text = readAll(iniOf(s.language));
        ASSERT_FALSE(text.empty());
        EXPECT_TRUE(isValidUtf8(text));
        const IniFile ini = IniFile::parse(text);
        for (const TextEntry& e : textTable()) {
            EXPECT_TRUE(ini.hasKey(e.section, e.name)) << e.name;
            // Longer values would be cut when read.
            EXPECT_LT(ini.getString(e.section, e.name, "", 1000).size(), kTextBufferSize) << e.name;
        }
        EXPECT_TRUE(ini.hasKey("MessageText", "MessageFileOpenError"));
        EXPECT_EQ(ini.getString("General", "Language", "", kStartupBufferSize), s.languageValue);
        EXPECT_EQ(ini.getString("General", "Version", "", kTextBufferSize), "1.00");
        EXPECT_EQ(ini.getString("General", "Mode_Font", "", kStartupBufferSize), s.font);
        EXPECT_EQ(ini.getInt("General", "Mode_Font_Size", 0), 9);
        // Both keys feed the same field: start-up and reload must agree.
        EXPECT_EQ(ini.getString("MessageText", "MessageFileOpenError", "", kStartupBufferSize),
                  ini.getString("MessageText", "MsgFileOpenError", "", kTextBufferSize));
    }
}

TEST(ShippedFiles, EnglishFileMatchesTheBuiltInDefaults) {
    const IniFile ini = IniFile::load(iniOf(Language::English));
    for (const TextEntry& e : textTable())
        EXPECT_EQ(ini.getString(e.section, e.name, "<missing>", kTextBufferSize), e.defaultText)
            << e.name;
}

TEST(ShippedFiles, JapaneseAndChineseAreTranslatedEverywhere) {
    // Texts that may read the same in every language: a version number, the file button's
    // ellipsis, the paper format name and the placeholder of the firmware version.
    const std::set<std::string_view> sameEverywhere = {"Version", "ButtonFileSelect", "RadioA4",
                                                       "LabelFirmVersionVal"};
    // Japanese dialogs label this button "OK" themselves.
    const std::set<std::string_view> sameInJapanese = {"ButtonOK"};

    for (const Language l : {Language::Japanese, Language::Chinese}) {
        SCOPED_TRACE(std::string(languageCode(l)));
        const IniFile ini = IniFile::load(iniOf(l));
        for (const TextEntry& e : textTable()) {
            const std::string text = ini.getString(e.section, e.name, "", kTextBufferSize);
            if (e.defaultText.empty()) {
                EXPECT_EQ(text, "") << e.name;
                continue;
            }
            EXPECT_FALSE(text.empty()) << e.name;
            if (sameEverywhere.count(e.name) != 0 ||
                (l == Language::Japanese && sameInJapanese.count(e.name) != 0)) {
                continue;
            }
            EXPECT_NE(text, e.defaultText) << e.name << " is not translated";
        }
        // Menu items keep an accelerator.
        for (const TextKey k : {TextKey::MenuEnglish, TextKey::MenuJapanese, TextKey::MenuChinese})
            EXPECT_NE(ini.getString("MenuText", entry(k).name, "", kTextBufferSize).find('&'),
                      std::string::npos)
                << entry(k).name;
    }
}

TEST(ShippedFiles, HelpGuidesCoverTheEssentials) {
    for (const Shipped& s : kShipped) {
        SCOPED_TRACE(helpOf(s.language).string());
        const std::string html = readAll(helpOf(s.language));
        EXPECT_TRUE(isValidUtf8(html));
        EXPECT_NE(html.find("charset=\"utf-8\""), std::string::npos);
        for (const char* must :
             {"Ctrl+Alt+F12", "Ctrl+Shift+F12", "/lib/udev/rules.d/70-q70.rules",
              "TAG+=\"uaccess\"", ".mot", "rawdata.bin", "RDBTestImage1.bmp", "</html>"})
            EXPECT_NE(html.find(must), std::string::npos) << must;
        // Only keys the window binds; the caption's "?" button exists only on Windows.
        const std::string open = "<kbd>", close = "</kbd>";
        for (auto at = html.find(open); at != std::string::npos; at = html.find(open, at + 1)) {
            const auto from = at + open.size();
            const std::string key = html.substr(from, html.find(close, from) - from);
            EXPECT_TRUE(key == "Ctrl+Alt+F12" || key == "Ctrl+Shift+F12" || key == "F1") << key;
        }
        EXPECT_NE(html.find("Windows"), std::string::npos)
            << "the ? button named without its platform";
    }
}

TEST(ShippedFiles, SwitchingBetweenTheShippedLanguagesChangesTheTexts) {
    test::TempFolder dir;
    fs::copy(kDataDir, dir.path(), fs::copy_options::recursive);
    const Paths paths = Paths::fromProgramFolder(dir.str());
    TextCatalogue t;
    t.loadTexts(paths.iniPath, true);
    EXPECT_EQ(t.get(TextKey::ButtonCancel), "Cancel");

    switchLanguageFiles(paths, Language::Japanese);
    t.loadTexts(paths.iniPath, false);
    EXPECT_EQ(t.get(TextKey::ButtonCancel), "キャンセル");
    EXPECT_EQ(t.utf8(TextKey::MenuJapanese), "日本語(&J)");
    EXPECT_EQ(readAll(paths.helpPath), readAll(helpOf(Language::Japanese)));

    switchLanguageFiles(paths, Language::Chinese);
    t.loadTexts(paths.iniPath, false);
    EXPECT_EQ(t.get(TextKey::ButtonCancel), "取消");
    EXPECT_EQ(t.get(TextKey::UtilityDialogTitle) + " " + t.get(TextKey::Version),
              "Q-70 系列设置工具 Ver. 1.00");
}

TEST(BuildTree, DataIsCopiedBesideTheExecutables) {
    for (const char* file : {"Q70Uty.ini", "Q70Uty.html", "Loc/ENG/Q70Uty.ini",
                             "Loc/ENG/Q70Uty.html", "Loc/JPN/Q70Uty.ini", "Loc/JPN/Q70Uty.html",
                             "Loc/CHS/Q70Uty.ini", "Loc/CHS/Q70Uty.html"}) {
        ASSERT_TRUE(fs::exists(kBinDir / file)) << file;
        // The active file may have been switched by running the program; the rest are copies.
        if (std::string_view(file).substr(0, 4) == "Loc/") {
            std::string expected = readAll(kDataDir / file);
#ifdef _WIN32
            // The same file with a font Windows has.
            for (const Shipped& s : kShipped) {
                const std::string linuxFont = std::string("Mode_Font=") + s.font;
                if (const auto at = expected.find(linuxFont); at != std::string::npos)
                    expected.replace(at, linuxFont.size(),
                                     std::string("Mode_Font=") + s.windowsFont);
            }
#endif
            EXPECT_EQ(readAll(kBinDir / file), expected) << file;
        }
    }
}

}  // namespace
}  // namespace q70::config
