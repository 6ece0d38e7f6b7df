#include "config/paths.hpp"

#include <filesystem>
#include <system_error>

namespace q70::config {

namespace fs = std::filesystem;

namespace {

std::string join(std::string_view folder, std::string_view name) {
    return (fs::path(folder) / fs::path(name)).string();
}

std::string locFile(std::string_view programFolder, Language language, std::string_view name) {
    return (fs::path(programFolder) / kLocFolderName / languageCode(language) / name).string();
}

// Copies into a temporary file beside the target and renames it over the target, so a
// copy that fails half-way never leaves a truncated INI or help file behind.
void replaceFile(const std::string& source, const std::string& target) {
    std::error_code ec;
    if (!fs::is_regular_file(source, ec)) return;
    const fs::path temp = fs::path(target).concat(".new");
    if (!fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec)) {
        fs::remove(temp, ec);
        return;
    }
    fs::rename(temp, target, ec);
    if (ec) fs::remove(temp, ec);
}

}  // namespace

Paths Paths::fromProgramFolder(std::string_view programFolder) {
    Paths p;
    p.programFolder = std::string(programFolder);
    p.iniPath = join(programFolder, kIniFileName);
    p.logPath = join(programFolder, kLogFileName);
    p.helpPath = join(programFolder, kHelpFileName);
    return p;
}

std::optional<Language> languageForCommand(int commandId) {
    switch (commandId) {
        case kCommandEnglish:
            return Language::English;
        case kCommandJapanese:
            return Language::Japanese;
        case kCommandChinese:
            return Language::Chinese;
        default:
            return std::nullopt;
    }
}

std::string_view languageCode(Language language) {
    switch (language) {
        case Language::Japanese:
            return "JPN";
        case Language::Chinese:
            return "CHS";
        case Language::English:
            break;
    }
    return "ENG";
}

std::string_view languageName(Language language) {
    switch (language) {
        case Language::Japanese:
            return "JAPANESE";
        case Language::Chinese:
            return "CHINESE";
        case Language::English:
            break;
    }
    return "ENGLISH";
}

std::string languageIniSource(std::string_view programFolder, Language language) {
    return locFile(programFolder, language, kIniFileName);
}

std::string languageHelpSource(std::string_view programFolder, Language language) {
    return locFile(programFolder, language, kHelpFileName);
}

std::string helpPathFor(std::string_view iniPath) {
    return (fs::path(iniPath).parent_path() / kHelpFileName).string();
}

std::string switchLanguageFiles(const Paths& paths, Language language) {
    // The folder is taken from iniPath each time, as the help button does.
    const std::string folder = fs::path(paths.iniPath).parent_path().string();
    replaceFile(languageIniSource(folder, language), paths.iniPath);
    replaceFile(languageHelpSource(folder, language), helpPathFor(paths.iniPath));
    return std::string(languageName(language));
}

}  // namespace q70::config
