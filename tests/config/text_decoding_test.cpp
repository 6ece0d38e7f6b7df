#include "config/text_decoding.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "code_page_checksums.hpp"

namespace q70::config {
namespace {

std::uint64_t fnv1a(std::string_view s) {
    std::uint64_t h = 0xCBF29CE484222325u;
    for (const char c : s) {
        h ^= static_cast<std::uint8_t>(c);
        h *= 0x100000001B3u;
    }
    return h;
}

// Each byte from 0x80 followed by a newline, then every lead and trail byte pair.
std::string codePageSample(std::initializer_list<std::pair<int, int>> leads,
                           std::initializer_list<std::pair<int, int>> trails) {
    std::string s;
    for (int b = 0x80; b <= 0xFF; ++b) {
        s += static_cast<char>(b);
        s += '\n';
    }
    for (const auto& [leadLo, leadHi] : leads)
        for (int lead = leadLo; lead <= leadHi; ++lead)
            for (const auto& [trailLo, trailHi] : trails)
                for (int trail = trailLo; trail <= trailHi; ++trail) {
                    s += static_cast<char>(lead);
                    s += static_cast<char>(trail);
                }
    return s;
}

TEST(TextDecoding, ValidUtf8IsKeptWhateverTheLanguage) {
    for (const char* lang : {"ENGLISH", "JAPANESE", "CHINESE", ""}) {
        EXPECT_EQ(toUtf8("キャンセル", lang), "キャンセル");
        EXPECT_EQ(toUtf8("取消", lang), "取消");
        EXPECT_EQ(toUtf8("Café", lang), "Café");
        EXPECT_EQ(toUtf8("", lang), "");
    }
}

TEST(TextDecoding, ShiftJisFileReadsAsJapanese) {
    // "日本語(&J)" and "ファームウェア更新" as the Windows version's files hold them.
    EXPECT_EQ(toUtf8("\x93\xfa\x96\x7b\x8c\xea(&J)", "JAPANESE"), "日本語(&J)");
    EXPECT_EQ(toUtf8("\x83\x74\x83\x40\x81\x5B\x83\x80\x83\x45\x83\x46\x83\x41\x8D\x58\x90\x56",
                     "JAPANESE"),
              "ファームウェア更新");
    EXPECT_EQ(toUtf8("\xB1\xB2\xB3", "japanese"), "ｱｲｳ");  // half-width katakana
    // Code points from both the pooled and the linear parts of the table.
    EXPECT_EQ(toUtf8("\x88\x9f\xea\xa4\x87\x40\xfa\x40\xfc\x4b\x81\x40", "JAPANESE"),
              "亜熙①ⅰ黑\u3000");
}

TEST(TextDecoding, GbkFileReadsAsChinese) {
    EXPECT_EQ(toUtf8("\xbc\xf2\xcc\xe5\xd6\xd0\xce\xc4(&C)", "CHINESE"), "简体中文(&C)");
    EXPECT_EQ(toUtf8("\x81\x40\xb0\xa1\xf7\xfe\xfe\x4f\x80", "CHINESE"), "丂啊齄\uFA29€");
}

TEST(TextDecoding, OtherLanguagesReadAsCp1252) {
    EXPECT_EQ(toUtf8("Caf\xe9 \x80 \x93quoted\x94", "ENGLISH"), "Café € “quoted”");
    EXPECT_EQ(toUtf8("Stra\xdf"
                     "e",
                     "GERMAN"),
              "Straße");
    EXPECT_EQ(toUtf8("\x81", ""), "\uFFFD");  // not in the code page
}

TEST(TextDecoding, BrokenSequencesBecomeReplacementCharacters) {
    // A lead byte at the end, or before a byte that cannot follow it, is replaced alone and
    // the next byte is read on its own.
    EXPECT_EQ(toUtf8("ab\x93", "JAPANESE"), "ab\uFFFD");
    EXPECT_EQ(toUtf8("\x93\nx", "JAPANESE"), "\uFFFD\nx");
    EXPECT_EQ(toUtf8("\xbc", "CHINESE"), "\uFFFD");
    // An unmapped pair is one replacement, not two.
    EXPECT_EQ(toUtf8("\x85\x40z", "JAPANESE"), "\uFFFDz");
    EXPECT_EQ(toUtf8("\xff", "CHINESE"), "\uFFFD");
}

TEST(TextDecoding, EveryCodeMatchesPythonsCodecs) {
    const std::string cp932 =
        codePageSample({{0x81, 0x9F}, {0xE0, 0xFC}}, {{0x40, 0x7E}, {0x80, 0xFC}});
    const std::string gbk = codePageSample({{0x81, 0xFE}}, {{0x40, 0x7E}, {0x80, 0xFE}});
    const std::string cp1252 = codePageSample({}, {});
    ASSERT_FALSE(isValidUtf8(cp932));
    EXPECT_EQ(fnv1a(toUtf8(cp932, "JAPANESE")), test::kCp932Checksum);
    EXPECT_EQ(fnv1a(toUtf8(gbk, "CHINESE")), test::kGbkChecksum);
    EXPECT_EQ(fnv1a(toUtf8(cp1252, "ENGLISH")), test::kCp1252Checksum);
}

TEST(TextDecoding, Utf8Validation) {
    EXPECT_TRUE(isValidUtf8("plain ascii"));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));   // U+1F600
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE6\x97"));          // cut short
    EXPECT_FALSE(isValidUtf8("\x93\xfa"));          // Shift-JIS
}

}  // namespace
}  // namespace q70::config
