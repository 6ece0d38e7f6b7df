#include "config/paths.hpp"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <system_error>
#include <vector>

#include "config/file_output.hpp"

namespace q70::config {

namespace fs = std::filesystem;

namespace {

std::string join(std::string_view folder, std::string_view name) {
    return utf8FromPath(pathFromUtf8(folder) / pathFromUtf8(name));
}

std::string locFile(std::string_view programFolder, Language language, std::string_view name) {
    return utf8FromPath(pathFromUtf8(programFolder) / kLocFolderName / languageCode(language) /
                        name);
}

// A copy that fails half-way never leaves a truncated INI or help file behind: the
// target is replaced whole or not at all.
void replaceFile(const std::string& sourceText, const std::string& targetText) {
    const fs::path source = pathFromUtf8(sourceText);
    std::error_code ec;
    if (!fs::is_regular_file(source, ec)) return;
    const std::uintmax_t size = fs::file_size(source, ec);
    if (ec) return;
    std::vector<char> text(static_cast<std::size_t>(size));
    std::ifstream in(source, std::ios::binary);
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size()))) return;
    writeFileWhole(targetText,
                   std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace

fs::path pathFromUtf8(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8FromPath(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

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
    return utf8FromPath(pathFromUtf8(iniPath).parent_path() / kHelpFileName);
}

std::string switchLanguageFiles(const Paths& paths, Language language) {
    // The folder is taken from iniPath each time, as the help button does.
    const std::string folder = utf8FromPath(pathFromUtf8(paths.iniPath).parent_path());
    replaceFile(languageIniSource(folder, language), paths.iniPath);
    replaceFile(languageHelpSource(folder, language), helpPathFor(paths.iniPath));
    return std::string(languageName(language));
}

}  // namespace q70::config
