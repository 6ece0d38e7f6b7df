// The language file as a user may leave it (any bytes, any encoding, any layout): the INI
// reader, the catalogue loading from the file, and the conversion of its texts to UTF-8.
//
// Checked: every text is cut to its buffer, a cut never splits a UTF-8 character, the
// catalogue holds what the reader gives for each key, every text shown is valid UTF-8
// whatever the code page, and valid UTF-8 passes unchanged.

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "config/ini_file.hpp"
#include "config/startup.hpp"
#include "config/text_catalogue.hpp"
#include "config/text_decoding.hpp"
#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace q70::config;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool textIsUtf8 = isValidUtf8(text);

    const IniFile ini = IniFile::parse(text);
    for (const TextEntry& e : textTable()) {
        const std::string value = ini.getString(e.section, e.name, e.defaultText, kTextBufferSize);
        FUZZ_CHECK(value.size() <= kTextBufferSize - 1);
        if (textIsUtf8) FUZZ_CHECK(isValidUtf8(value));
        if (!ini.hasKey(e.section, e.name)) FUZZ_CHECK(value == e.defaultText);
    }
    FUZZ_CHECK(ini.getString("General", "Mode_Font", kDefaultFontName, 0).empty());
    ini.getInt("General", "Mode_Font_Size", kDefaultFontSize);

    // The catalogue reads the same file from disk, as the window does.
    static const std::string path = (q70::fuzz::scratchFolder() / "Q70Uty.ini").string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    TextCatalogue texts;
    texts.loadTexts(path, (size & 1) != 0);
    for (const TextEntry& e : textTable()) {
        if (e.startOnly && (size & 1) == 0) {
            FUZZ_CHECK(texts.get(e.key).empty());
        } else {
            FUZZ_CHECK(texts.get(e.key) ==
                       ini.getString(e.section, e.name, e.defaultText, kTextBufferSize));
        }
        const std::string shown = texts.utf8(e.key);
        FUZZ_CHECK(isValidUtf8(shown));
    }

    // One language per run, picked by the last byte: converting the whole file four times
    // each run would only quarter the runs.
    static constexpr std::string_view kLanguages[] = {"ENGLISH", "JAPANESE", "CHINESE", "KLINGON"};
    const std::string_view language = kLanguages[size == 0 ? 0 : data[size - 1] % 4];
    const std::string converted = toUtf8(text, language);
    FUZZ_CHECK(isValidUtf8(converted));
    if (textIsUtf8) FUZZ_CHECK(converted == text);

    const std::size_t cutAt = size == 0 ? 0 : data[0] % (size + 1);
    const std::string cut = cutToBytes(text, cutAt);
    FUZZ_CHECK(cut.size() <= cutAt && text.substr(0, cut.size()) == cut);
    if (textIsUtf8) FUZZ_CHECK(isValidUtf8(cut));
    return 0;
}
