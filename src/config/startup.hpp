#pragma once
// What the program reads before its window exists: the file-open message, the log file,
// the active language and the dialog font.

#include <fstream>
#include <string>
#include <string_view>

#include "config/paths.hpp"
#include "config/text_catalogue.hpp"

namespace q70::config {

inline constexpr std::string_view kDefaultLanguage = "ENGLISH";
inline constexpr std::string_view kDefaultFontName = "MS Sans Serif";
inline constexpr int kDefaultFontSize = 8;

// The log file: created if missing, never truncated, held open and never written.
class LogFile {
  public:
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return file_.is_open(); }

  private:
    std::ofstream file_;
};

struct StartupSettings {
    std::string currentLanguage;
    std::string dialogFontName;
    int dialogFontSize = 0;
};

struct StartupReads {
    StartupSettings settings;
    // The message to show when the log file could not be opened; empty when it opened.
    std::string logOpenError;
};

// The start-up reads in their order: "MessageFileOpenError" into the catalogue field
// MsgFileOpenError, the log file opened, then "Language", "Mode_Font", "Mode_Font_Size".
StartupReads readStartupSettings(const Paths& paths, TextCatalogue& texts, LogFile& log);

// "Language", "Mode_Font" and "Mode_Font_Size" of the active language file, read as at
// start-up: after a language switch the window takes the new file's font.
StartupSettings readLanguageFileSettings(const Paths& paths);

// A message that names a file: the catalogue text directly followed by the path.
std::string fileOpenErrorMessage(const TextCatalogue& texts, std::string_view path);

}  // namespace q70::config
