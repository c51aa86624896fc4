#include "support/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

namespace tandrel {
namespace {

std::string G(const char* utf8) {
    return Utf8ToGbk(utf8);
}

TEST(CodePage, ConvertsChineseBothWaysWithExactCp936Bytes) {
    EXPECT_EQ(G("设置"), "\xC9\xE8\xD6\xC3");
    EXPECT_EQ(G("中文 abc"), "\xD6\xD0\xCE\xC4 abc");
    EXPECT_EQ(GbkToUtf8("\xD6\xD0\xCE\xC4"), "中文");
    EXPECT_EQ(GbkToUtf8(G("。　，")), "。　，");
    EXPECT_EQ(G("€"), "\x80");  // the single-byte euro sign of CP936
}

// The tables come from the platform's converter (iconv here, the system's own on Windows): every double-byte
// code must decode to the same character on both, and every decoded character must encode back to its code
// (or, for the few characters two codes share, to the other one).
TEST(CodePage, TheWholeDoubleByteTableIsTheSameOnEveryPlatform) {
    std::uint64_t hash = 1469598103934665603u;  // FNV-1a over the decoded table
    int mapped = 0, roundTrips = 0;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string utf8 = GbkToUtf8(code);
            for (unsigned char c : utf8 + '|')
                hash = (hash ^ c) * 1099511628211u;
            if (utf8 == "?") continue;
            ++mapped;
            if (Utf8ToGbk(utf8) == code) ++roundTrips;
        }
    }
    EXPECT_EQ(mapped, 126 * 190);  // every code, the private-use ones included
    EXPECT_EQ(roundTrips, mapped);
    EXPECT_EQ(hash, 3896768472577897569u);  // the table of the system's own CP936 converter on Windows
    EXPECT_EQ(GbkToUtf8("\xAA\xA1\xA2\xAB"), "\uE000\uE766");  // a user-defined code and an undefined one
    EXPECT_EQ(G("\uE000\uE766"), "\xAA\xA1\xA2\xAB");
}

TEST(CodePage, WhatGbkCannotHoldBecomesOneQuestionMark) {
    EXPECT_EQ(G("a😀b"), "a?b");               // outside the BMP: one mark, not two
    EXPECT_EQ(G("x\xEA\xB0\x80y"), "x?y");    // Hangul syllable, not in GBK
    EXPECT_EQ(GbkFromCodeUnit(0xD800), "?");  // a lone surrogate half
    EXPECT_EQ(GbkFromCodeUnit(0x4E2D), "\xD6\xD0");
}

TEST(CodePage, MalformedInputNeverCrashesAndEndsAtNul) {
    EXPECT_EQ(Utf8ToGbk("a\xE4\xB8"), "a??");     // truncated sequence
    EXPECT_EQ(Utf8ToGbk("\xC0\xAF"), "??");       // overlong
    EXPECT_EQ(Utf8ToGbk("\xED\xA0\x80"), "???");  // encoded surrogate
    EXPECT_EQ(Utf8ToGbk("\xFF\xFE"), "??");
    EXPECT_EQ(Utf8ToGbk(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(GbkToUtf8("ab\xD6"), "ab?");  // lone lead byte at the end
    EXPECT_EQ(GbkToUtf8(std::string("\xD6\xD0\0\xD6\xD0", 5)), "中");
    std::string every;
    for (int b = 1; b < 256; ++b)
        every += static_cast<char>(b);
    EXPECT_FALSE(Utf8ToGbk(every).empty());
    EXPECT_FALSE(GbkToUtf8(every).empty());
}

TEST(TextSearch, StepsOverDoubleByteCharacters) {
    // 0xD5 0x5C is one character whose trail byte looks like a backslash.
    const std::string text = "\xD5\x5Cu0041";
    EXPECT_EQ(FindText(text, "\\u"), std::string::npos);
    EXPECT_EQ(FindText("aBc", "bC", 0, true), 1u);
    EXPECT_EQ(FindText("aBc", "bC"), std::string::npos);
    EXPECT_EQ(RemoveChar("\xD5\x5C\\x", '\\'), "\xD5\x5Cx");
    EXPECT_EQ(ReplaceAll("a.b.c", ".", "::"), "a::b::c");
}

TEST(TextTrim, RemovesAsciiAndFullWidthSpacesOnly) {
    EXPECT_EQ(Trim("  \xA1\xA1"
                   "25\xA1\xA1 "),
              "25");
    EXPECT_EQ(Trim("\t25\r\n"), "\t25\r\n");
    EXPECT_EQ(Trim("   "), "");
    // A character whose trail byte is A1 followed by an A1 lead byte is not a space.
    EXPECT_EQ(Trim("\xB0\xA1\xA1\xA2"), "\xB0\xA1\xA1\xA2");
    EXPECT_EQ(RemoveSpaces("a b\xA1\xA1"
                           "c"),
              "abc");
}

TEST(TextSplit, KeepsInnerAndLeadingEmptyPiecesButNotTheLast) {
    EXPECT_EQ(Split("", ";").size(), 0u);
    EXPECT_EQ(Split("a;;b;", ";"), (std::vector<std::string_view>{"a", "", "b"}));
    EXPECT_EQ(Split(";a", ";"), (std::vector<std::string_view>{"", "a"}));
}

TEST(TextToInt, ReadsLikeTheStoredSettings) {
    EXPECT_EQ(TextToInt(""), 0);
    EXPECT_EQ(TextToInt("abc"), 0);
    EXPECT_EQ(TextToInt("3.7"), 3);
    EXPECT_EQ(TextToInt("  -5x"), -5);
    EXPECT_EQ(TextToInt("+12"), 12);
    EXPECT_EQ(TextToInt("99999999999"), 2147483647);
    EXPECT_EQ(TextToInt("-99999999999"), -2147483647 - 1);
}

TEST(UnescapeText, DecodesSlashesAndUnicodeEscapes) {
    std::string plain = "a\\/b\\n";
    EXPECT_EQ(UnescapeText(plain), "a/b\\n");  // only "\/" changes without "\u"
    EXPECT_EQ(plain, "a/b\\n");                // stored back

    std::string leading = "\\u4e2d\\u6587";
    EXPECT_EQ(UnescapeText(leading), G("中文"));

    std::string mixed = "x\\\\y\\u4E2Dz\\\\w";
    EXPECT_EQ(UnescapeText(mixed), "x\\\\y" + G("中") + "zw");  // backslashes after the first "\u" go

    std::string shortTail = "ok\\u4e";
    EXPECT_EQ(UnescapeText(shortTail), "ok4e");

    std::string trailing = "ab\\u";
    EXPECT_EQ(UnescapeText(trailing), "ab\\u");  // a single piece: unchanged

    std::string surrogate = "\\ud83d\\ude00!";
    EXPECT_EQ(UnescapeText(surrogate),
              "?"
              "?!");

    std::string nonHex = "\\uzz41";
    EXPECT_EQ(UnescapeText(nonHex), "A");  // other characters count as 0
}

TEST(ExtractBetween, FindsTrimmedTextBetweenMarkersIgnoringCase) {
    const std::string reply = R"({"success":true,"token":"  abc123 "})";
    EXPECT_EQ(ExtractBetween(reply, "\"token\":\"", "\""), "abc123");
    EXPECT_EQ(ExtractBetween(reply, "\"TOKEN\":\"", "\""), "abc123");
    EXPECT_EQ(ExtractBetween("end]...[start", "[", "]"), "");
    EXPECT_EQ(ExtractBetween("x", "", "x"), "");
    EXPECT_EQ(ExtractBetween("[a[b]", "[", "]"), "b");  // the start marker repeating before the end
    EXPECT_EQ(ExtractBetween("<s>one</e><s>two</e>", "<s>", "</e>"), "one");
}

TEST(RandomAlnumText, GivesLettersAndDigitsOfTheAskedLength) {
    std::set<char> seen;
    for (int round = 0; round < 50; ++round) {
        const auto text = RandomAlnumText(6);
        ASSERT_EQ(text.size(), 6u);
        for (char c : text) {
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) << c;
            seen.insert(c);
        }
    }
    EXPECT_GT(seen.size(), 10u);
    EXPECT_EQ(RandomAlnumText(0), "");
}

}  // namespace
}  // namespace tandrel
