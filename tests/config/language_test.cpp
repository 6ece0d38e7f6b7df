#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/paths.hpp"
#include "config/startup.hpp"
#include "config/text_catalogue.hpp"
#include "temp_folder.hpp"

namespace q70::config {
namespace {

namespace fs = std::filesystem;
using test::readAll;
using test::TempFolder;

TEST(Paths, AllFilesLiveInTheProgramFolder) {
    // Compared as paths: Windows joins with its own separator.
    using P = std::filesystem::path;
    const Paths p = Paths::fromProgramFolder("/opt/q70/bin");
    EXPECT_EQ(P(p.iniPath), P("/opt/q70/bin/Q70Uty.ini"));
    EXPECT_EQ(P(p.logPath), P("/opt/q70/bin/Q70_USB.Log"));
    EXPECT_EQ(P(p.helpPath), P("/opt/q70/bin/" + std::string(kHelpFileName)));
    EXPECT_EQ(helpPathFor(p.iniPath), p.helpPath);
    EXPECT_EQ(P(languageIniSource(p.programFolder, Language::Japanese)),
              P("/opt/q70/bin/Loc/JPN/Q70Uty.ini"));
    EXPECT_EQ(P(languageHelpSource(p.programFolder, Language::Chinese)),
              P("/opt/q70/bin/Loc/CHS/" + std::string(kHelpFileName)));
    EXPECT_EQ(P(Paths::fromProgramFolder("/opt/q70/bin/").iniPath), P(p.iniPath));
}

TEST(Paths, FolderNamesInUtf8SurviveTheRoundTrip) {
    // テスト in UTF-8: a path made from these bytes must name the same folder on every
    // system, not one character per byte.
    const std::string folder = "/opt/\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88";
    const std::filesystem::path path = pathFromUtf8(folder);
    EXPECT_TRUE(path.filename() == std::filesystem::path(u8"\u30c6\u30b9\u30c8"));
    EXPECT_EQ(utf8FromPath(path), folder);
    EXPECT_EQ(utf8FromPath(pathFromUtf8(Paths::fromProgramFolder(folder).iniPath).parent_path()),
              folder);
}

TEST(Paths, LanguageCommands) {
    EXPECT_EQ(languageForCommand(32771), Language::English);
    EXPECT_EQ(languageForCommand(32772), Language::Japanese);
    EXPECT_EQ(languageForCommand(32773), Language::Chinese);
    EXPECT_EQ(languageForCommand(32774), std::nullopt);
    EXPECT_EQ(languageForCommand(32770), std::nullopt);
    EXPECT_EQ(languageCode(Language::English), "ENG");
    EXPECT_EQ(languageCode(Language::Japanese), "JPN");
    EXPECT_EQ(languageCode(Language::Chinese), "CHS");
}

class LanguageSwitch : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.write("Q70Uty.ini",
                  "[General]\nLanguage=ENGLISH\n[DialogCaption]\nButtonOK=OK\n"
                  "LabelFirmVersionVal=V1.10\nLabelDeviceTypeVal=from file\n");
        dir.write(kHelpFileName, "english help");
        dir.write(fs::path("Loc/JPN/Q70Uty.ini"),
                  "[General]\nLanguage=JAPANESE\n[DialogCaption]\nButtonOK=了解\n"
                  "LabelFirmVersionVal=V0.00\nLabelDeviceTypeVal=other\n");
        dir.write(fs::path("Loc/JPN") / kHelpFileName, "japanese help");
        texts.loadTexts(paths.iniPath, true);
    }

    TempFolder dir;
    Paths paths = Paths::fromProgramFolder(dir.str());
    TextCatalogue texts;
};

TEST_F(LanguageSwitch, CopiesTheLanguageFilesAndReloads) {
    texts.set(TextKey::LabelFirmVersionVal, "V3.21");  // reported by the board
    const std::string language = switchLanguageFiles(paths, Language::Japanese);
    texts.loadTexts(paths.iniPath, false);

    EXPECT_EQ(language, "JAPANESE");
    EXPECT_EQ(readAll(paths.helpPath), "japanese help");
    EXPECT_EQ(texts.get(TextKey::ButtonOK), "了解");
    EXPECT_EQ(texts.fileLanguage(), "JAPANESE");
    EXPECT_EQ(texts.get(TextKey::LabelFirmVersionVal), "V3.21");
    EXPECT_EQ(texts.get(TextKey::LabelDeviceTypeVal), "from file");
    EXPECT_EQ(texts.get(TextKey::LabelScanLineDotsVal), "");
    // No temporary copy is left behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 3u);  // Q70Uty.ini, help file, Loc
}

TEST_F(LanguageSwitch, MissingLanguageFolderKeepsTextsAndStillNamesTheLanguage) {
    const std::string before = readAll(paths.iniPath);
    const std::string language = switchLanguageFiles(paths, Language::Chinese);
    texts.loadTexts(paths.iniPath, false);

    EXPECT_EQ(language, "CHINESE");
    EXPECT_EQ(readAll(paths.iniPath), before);
    EXPECT_EQ(readAll(paths.helpPath), "english help");
    EXPECT_EQ(texts.get(TextKey::ButtonOK), "OK");
}

TEST_F(LanguageSwitch, MissingHelpSourceStillCopiesTheIni) {
    fs::remove(dir.path() / "Loc/JPN" / kHelpFileName);
    switchLanguageFiles(paths, Language::Japanese);
    EXPECT_EQ(readAll(paths.helpPath), "english help");
    EXPECT_NE(readAll(paths.iniPath).find("JAPANESE"), std::string::npos);
}

TEST_F(LanguageSwitch, WorksWhenNoActiveFilesExistYet) {
    fs::remove(paths.iniPath);
    fs::remove(paths.helpPath);
    switchLanguageFiles(paths, Language::Japanese);
    EXPECT_EQ(readAll(paths.helpPath), "japanese help");
    texts.loadTexts(paths.iniPath, true);
    EXPECT_EQ(texts.get(TextKey::ButtonOK), "了解");
}

class Startup : public ::testing::Test {
  protected:
    TempFolder dir;
    Paths paths = Paths::fromProgramFolder(dir.str());
    TextCatalogue texts;
    LogFile log;
};

TEST_F(Startup, ReadsTheSettingsWithTheirDefaults) {
    const StartupReads r = readStartupSettings(paths, texts, log);
    EXPECT_EQ(r.logOpenError, "");
    EXPECT_TRUE(log.isOpen());
    EXPECT_EQ(r.settings.currentLanguage, "ENGLISH");
    EXPECT_EQ(r.settings.dialogFontName, "MS Sans Serif");
    EXPECT_EQ(r.settings.dialogFontSize, 8);
    EXPECT_EQ(texts.get(TextKey::MsgFileOpenError), "Unable to open the file:");
}

TEST_F(Startup, ReadsTheSettingsFromTheFile) {
    dir.write(
        "Q70Uty.ini",
        "[General]\nLanguage=CHINESE\nMode_Font=Noto Sans CJK SC\nMode_Font_Size=10\n"
        "[MessageText]\nMessageFileOpenError=Startup text:\nMsgFileOpenError=Catalogue text:\n");
    const StartupReads r = readStartupSettings(paths, texts, log);
    EXPECT_EQ(r.settings.currentLanguage, "CHINESE");
    EXPECT_EQ(r.settings.dialogFontName, "Noto Sans CJK SC");
    EXPECT_EQ(r.settings.dialogFontSize, 10);
    EXPECT_EQ(texts.get(TextKey::MsgFileOpenError), "Startup text:");
    // Every later load replaces it from the other key.
    texts.loadTexts(paths.iniPath, true);
    EXPECT_EQ(texts.get(TextKey::MsgFileOpenError), "Catalogue text:");
}

TEST_F(Startup, StartupKeysUseTheLargerBuffer) {
    dir.write("Q70Uty.ini", "[MessageText]\nMessageFileOpenError=" + std::string(300, 'e') + "\n");
    readStartupSettings(paths, texts, log);
    EXPECT_EQ(texts.get(TextKey::MsgFileOpenError), std::string(259, 'e'));
}

TEST_F(Startup, UnusableFontSizeFallsBackToTheDefault) {
    for (const char* size : {"0", "-3", "500", "big"}) {
        dir.write("Q70Uty.ini", std::string("[General]\nMode_Font_Size=") + size + "\n");
        EXPECT_EQ(readStartupSettings(paths, texts, log).settings.dialogFontSize, 8) << size;
    }
}

TEST_F(Startup, LogIsCreatedHeldOpenAndNeverTruncated) {
    ASSERT_FALSE(fs::exists(paths.logPath));
    readStartupSettings(paths, texts, log);
    EXPECT_TRUE(log.isOpen());
    EXPECT_TRUE(fs::exists(paths.logPath));
    log.close();
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(fs::file_size(paths.logPath), 0u);

    dir.write("Q70_USB.Log", "earlier content\n");
    readStartupSettings(paths, texts, log);
    log.close();
    log.close();  // closing twice is harmless
    EXPECT_EQ(readAll(paths.logPath), "earlier content\n");
}

TEST_F(Startup, LogThatCannotBeOpenedGivesTheMessageWithItsPath) {
    fs::create_directory(paths.logPath);  // a folder where the log should be
    const StartupReads r = readStartupSettings(paths, texts, log);
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(r.logOpenError, "Unable to open the file:" + paths.logPath);
    // The rest of the start-up still happens.
    EXPECT_EQ(r.settings.dialogFontSize, 8);

    dir.write("Q70Uty.ini", "[MessageText]\nMessageFileOpenError=Cannot open \n");
    EXPECT_EQ(readStartupSettings(paths, texts, log).logOpenError, "Cannot open" + paths.logPath);
}

TEST(FileOpenErrorMessage, TextDirectlyFollowedByThePath) {
    TextCatalogue t;
    t.loadDefaults();
    EXPECT_EQ(fileOpenErrorMessage(t, "/tmp/a.mot"), "Unable to open the file:/tmp/a.mot");
}

}  // namespace
}  // namespace q70::config
