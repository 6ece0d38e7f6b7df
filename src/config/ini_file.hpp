#pragma once
// A small reader for the Windows-style INI file beside the executable, with the lookup
// rules the program's texts rely on: a missing file, section or key gives the default, a
// present but empty value gives the empty text, values are cut to the buffer size minus
// one, names match without regard to case and the first occurrence wins.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace q70::config {

// Buffer sizes of the lookups: the text catalogue, and the keys read at start-up.
inline constexpr std::size_t kTextBufferSize = 200;
inline constexpr std::size_t kStartupBufferSize = 260;

class IniFile {
  public:
    // An empty file: every lookup gives its default.
    IniFile() = default;

    // Reads the whole file once; a missing or unreadable file gives an empty IniFile.
    static IniFile load(const std::filesystem::path& path);
    static IniFile parse(std::string_view text);

    // The value of `key` in `section`, or `defaultValue` when either is missing; at most
    // bufferSize - 1 bytes (0 gives the empty text).
    std::string getString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::size_t bufferSize) const;
    // The leading decimal digits of the value, with an optional sign; the default when the
    // key is missing or its value starts with no digit.
    int getInt(std::string_view section, std::string_view key, int defaultValue) const;

    bool hasKey(std::string_view section, std::string_view key) const;

  private:
    struct Entry {
        std::string name;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    const std::string* find(std::string_view section, std::string_view key) const;

    std::vector<Section> sections_;
};

// Cuts `text` to at most maxBytes bytes. When the text is valid UTF-8 the cut never
// splits a character, so the result stays valid UTF-8.
std::string cutToBytes(std::string_view text, std::size_t maxBytes);

// One lookup straight from the file, for the few reads done before the catalogue loads.
std::string readProfileString(const std::filesystem::path& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t bufferSize);
int readProfileInt(const std::filesystem::path& path, std::string_view section,
                   std::string_view key, int defaultValue);

}  // namespace q70::config
