#include "support/base64.h"

#include <gtest/gtest.h>

namespace tandrel {
namespace {

TEST(Base64Decode, DecodesTheRfc4648Vectors) {
    EXPECT_EQ(Base64Decode(""), "");
    EXPECT_EQ(Base64Decode("Zg=="), "f");
    EXPECT_EQ(Base64Decode("Zm8="), "fo");
    EXPECT_EQ(Base64Decode("Zm9v"), "foo");
    EXPECT_EQ(Base64Decode("Zm9vYg=="), "foob");
    EXPECT_EQ(Base64Decode("Zm9vYmE="), "fooba");
    EXPECT_EQ(Base64Decode("Zm9vYmFy"), "foobar");
    EXPECT_EQ(Base64Decode("Zm9vYg"), "foob");  // missing padding decodes the same
}

TEST(Base64Decode, IgnoresLineBreaksAndSpaces) {
    std::string binary;
    for (int i = 0; i < 300; ++i)
        binary += static_cast<char>(i * 7);
    // The encoding of binary, written once plainly and once in 76-character lines with spaces.
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (std::size_t i = 0; i < binary.size(); i += 3) {
        const auto b0 = static_cast<unsigned char>(binary[i]);
        const auto b1 = i + 1 < binary.size() ? static_cast<unsigned char>(binary[i + 1]) : 0;
        const auto b2 = i + 2 < binary.size() ? static_cast<unsigned char>(binary[i + 2]) : 0;
        encoded += kAlphabet[b0 >> 2];
        encoded += kAlphabet[(b0 & 3) << 4 | b1 >> 4];
        encoded += i + 1 < binary.size() ? kAlphabet[(b1 & 15) << 2 | b2 >> 6] : '=';
        encoded += i + 2 < binary.size() ? kAlphabet[b2 & 63] : '=';
    }
    std::string wrapped;
    for (std::size_t i = 0; i < encoded.size(); i += 76)
        wrapped += encoded.substr(i, 76) + "\r\n \xA1\xA1";
    EXPECT_EQ(Base64Decode(encoded), binary);
    EXPECT_EQ(Base64Decode(wrapped), binary);
}

TEST(Base64Decode, MalformedInputGivesBytesNotFaults) {
    EXPECT_NO_THROW(Base64Decode("===="));
    EXPECT_NO_THROW(Base64Decode("A"));
    EXPECT_NO_THROW(Base64Decode("-_-_"));
    // A last group that ends at its first character takes back four bytes, one of the group before.
    EXPECT_EQ(Base64Decode("Zm9v="), "fo");
    EXPECT_EQ(Base64Decode("="), "");
    EXPECT_NO_THROW(Base64Decode(std::string("\xFF\x00\x80", 3)));
}

TEST(Base64Decode, LetsTheCallerPumpEventsDuringLongInput) {
    const std::string long_text(4 * 50000, 'A');
    int pumps = 0;
    const auto bytes = Base64Decode(long_text, [&] { ++pumps; });
    EXPECT_EQ(bytes.size(), 150000u);
    EXPECT_GE(pumps, 10);
}

}  // namespace
}  // namespace tandrel
