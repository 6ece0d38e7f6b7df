#include "config/startup.hpp"

#include "config/ini_file.hpp"
#include "config/paths.hpp"

namespace q70::config {

namespace {

// Font sizes outside this range are typing errors; they would give an unreadable or
// unusable window, so the default is used instead.
constexpr int kMinFontSize = 4;
constexpr int kMaxFontSize = 72;

StartupSettings readLanguageSettings(const IniFile& ini) {
    StartupSettings s;
    s.currentLanguage = ini.getString("General", "Language", kDefaultLanguage, kStartupBufferSize);
    s.dialogFontName = ini.getString("General", "Mode_Font", kDefaultFontName, kStartupBufferSize);
    const int size = ini.getInt("General", "Mode_Font_Size", kDefaultFontSize);
    s.dialogFontSize = (size >= kMinFontSize && size <= kMaxFontSize) ? size : kDefaultFontSize;
    return s;
}

}  // namespace

bool LogFile::open(const std::string& path) {
    close();
    // Append mode creates the file when missing and never truncates it; the position is
    // at the end. Nothing is ever written.
    file_.open(pathFromUtf8(path), std::ios::out | std::ios::app | std::ios::binary);
    return file_.is_open();
}

void LogFile::close() {
    if (file_.is_open()) file_.close();
    file_.clear();
}

StartupReads readStartupSettings(const Paths& paths, TextCatalogue& texts, LogFile& log) {
    const IniFile ini = IniFile::load(pathFromUtf8(paths.iniPath));
    StartupReads r;

    texts.set(TextKey::MsgFileOpenError,
              ini.getString("MessageText", "MessageFileOpenError",
                            entry(TextKey::MsgFileOpenError).defaultText, kStartupBufferSize));
    texts.setFileLanguage(
        ini.getString("General", "Language", kDefaultLanguage, kStartupBufferSize));

    if (!log.open(paths.logPath)) r.logOpenError = fileOpenErrorMessage(texts, paths.logPath);

    r.settings = readLanguageSettings(ini);
    return r;
}

StartupSettings readLanguageFileSettings(const Paths& paths) {
    return readLanguageSettings(IniFile::load(pathFromUtf8(paths.iniPath)));
}

std::string fileOpenErrorMessage(const TextCatalogue& texts, std::string_view path) {
    std::string message = texts.get(TextKey::MsgFileOpenError);
    message += path;
    return message;
}

}  // namespace q70::config
