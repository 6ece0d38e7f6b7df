#pragma once
// The program's files, all in the program folder (the executable's folder, handed in by the
// front end), and the language switch that copies a language's files over the active ones.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace q70::config {

inline constexpr std::string_view kIniFileName = "Q70Uty.ini";
inline constexpr std::string_view kLogFileName = "Q70_USB.Log";
// The HTML guide on every system: one help file to write in three languages, opened by
// the system's browser.
inline constexpr std::string_view kHelpFileName = "Q70Uty.html";
inline constexpr std::string_view kLocFolderName = "Loc";

// Command ids of the language menu.
inline constexpr int kCommandEnglish = 32771;
inline constexpr int kCommandJapanese = 32772;
inline constexpr int kCommandChinese = 32773;

// Paths travel as UTF-8 strings. std::filesystem::path built from a plain std::string
// reads it in the system's narrow code page, which is not UTF-8 on Windows, so every path
// is made and taken apart through these.
std::filesystem::path pathFromUtf8(std::string_view utf8);
std::string utf8FromPath(const std::filesystem::path& path);

enum class Language { English, Japanese, Chinese };

struct Paths {
    std::string programFolder;
    std::string iniPath;
    std::string logPath;
    std::string helpPath;

    static Paths fromProgramFolder(std::string_view programFolder);
};

std::optional<Language> languageForCommand(int commandId);
// "ENG", "JPN", "CHS": the language's folder under Loc/.
std::string_view languageCode(Language language);
// "ENGLISH", "JAPANESE", "CHINESE": the value of currentLanguage after a switch.
std::string_view languageName(Language language);

// Loc/<code>/Q70Uty.ini and Loc/<code>/<help file> under the program folder.
std::string languageIniSource(std::string_view programFolder, Language language);
std::string languageHelpSource(std::string_view programFolder, Language language);

// The help file beside the INI file: the folder of iniPath plus the help file's name.
std::string helpPathFor(std::string_view iniPath);

// Copies the language's INI and help files over the active ones. A missing or unreadable
// source leaves the active file as it was; failures are not reported, the caller reloads
// from whatever file is then in place. Returns the language name for currentLanguage.
std::string switchLanguageFiles(const Paths& paths, Language language);

}  // namespace q70::config
