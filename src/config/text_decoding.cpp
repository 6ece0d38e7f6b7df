#include "config/text_decoding.hpp"

#include <cstdint>

namespace q70::config {

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<std::uint8_t>(bytes[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        std::uint8_t lo = 0x80;
        std::uint8_t hi = 0xBF;  // allowed range of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            if (b0 == 0xE0)
                lo = 0xA0;  // no overlong forms
            else if (b0 == 0xED)
                hi = 0x9F;  // no surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            if (b0 == 0xF0)
                lo = 0x90;
            else if (b0 == 0xF4)
                hi = 0x8F;  // nothing above U+10FFFF
        } else {
            return false;
        }
        if (n - i < len) return false;
        const auto b1 = static_cast<std::uint8_t>(bytes[i + 1]);
        if (b1 < lo || b1 > hi) return false;
        for (std::size_t k = 2; k < len; ++k) {
            if ((static_cast<std::uint8_t>(bytes[i + k]) & 0xC0) != 0x80) return false;
        }
        i += len;
    }
    return true;
}

}  // namespace q70::config
