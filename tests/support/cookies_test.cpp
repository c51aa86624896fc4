#include "support/cookies.h"

#include <gtest/gtest.h>

namespace tandrel {
namespace {

std::string Merge(std::string cookie, std::string fresh) {
    return MergeCookies(cookie, fresh);
}

TEST(MergeCookies, NewPairsFirstThenOldOnesNotReplaced) {
    std::string cookie = "a=1; b=2", fresh = "b=3;c=4";
    EXPECT_EQ(MergeCookies(cookie, fresh), "b=3; c=4; a=1");
    EXPECT_EQ(cookie, "b=3; c=4; a=1");
    EXPECT_EQ(fresh, "b=3;c=4");
}

TEST(MergeCookies, DropsDeletedDuplicateAndSpacedPairs) {
    EXPECT_EQ(Merge("a=1; sid=x", "sid=deleted"), "a=1");
    EXPECT_EQ(Merge("a=1; a=2", ""), "a=1");
    EXPECT_EQ(Merge("", ""), "");
    EXPECT_EQ(Merge("flag=xdeleted", ""), "flag=xdeleted");
    EXPECT_EQ(Merge("x=1;y=2", ""), "x=1; y=2");
    // Cookie text is bytes, not GBK: A1 A1 is no space there, and a byte above 0x80 never swallows the ";".
    EXPECT_EQ(Merge(" a = 1 ;\xA1\xA1"
                    "b=2",
                    "c=3"),
              "c=3; a=1; \xA1\xA1"
              "b=2");
    EXPECT_EQ(Merge("z=caf\xE9;y=2", "x=\xE4\xB8\x9C;w=1"), "x=\xE4\xB8\x9C; w=1; z=caf\xE9; y=2");
    EXPECT_EQ(Merge("a=1;b=2\r\nX: 1", "c=3\n"), "a=1");  // pairs with line breaks are dropped
    EXPECT_EQ(Merge("a=1", "b=2;b=2"),
              "b=2; a=1");  // identical new pairs collapse in the final de-duplication
    EXPECT_EQ(Merge("a=1", "b=2;b=3"), "b=2; b=3; a=1");  // new pairs are not compared with each other
    std::string fresh = "k = v ; m=n";
    std::string cookie;
    MergeCookies(cookie, fresh);
    EXPECT_EQ(fresh, "k=v;m=n");
}

TEST(HeaderLines, SplitAtTheFirstColonAndTrim) {
    EXPECT_EQ(HeaderName("X-Key: a:b"), "X-Key");
    EXPECT_EQ(HeaderValue("X-Key: a:b"), "a:b");
    EXPECT_EQ(HeaderName("no colon"), "");
    EXPECT_EQ(HeaderValue("no colon"), "");
    EXPECT_EQ(CookieName(" sid = 1=2"), "sid");
    EXPECT_EQ(CookieName(" lonely "), "lonely");
    // A trail byte 0x3A would be a colon without double-byte stepping; GBK trail bytes start at 0x40, but the
    // search must still not split inside a character.
    EXPECT_EQ(HeaderName("\xD6\xD0:v"), "\xD6\xD0");
}

TEST(TextBetween, IsCaseBlindAndUntrimmed) {
    EXPECT_EQ(TextBetween("Set-Cookie: k=v; Path=/", "Set-Cookie:", ";"), " k=v");
    EXPECT_EQ(TextBetween("set-cookie: k=v; Path=/", "Set-Cookie:", ";"), " k=v");
    EXPECT_EQ(TextBetween("Set-Cookie: k=v", "Set-Cookie:", ";"), "");
    EXPECT_EQ(TextBetween("a;b", "x", ";"), "");
}

TEST(DedupeList, KeepsFirstOccurrences) {
    EXPECT_EQ(DedupeList("x; y; x; z", "; "), "x; y; z");
    EXPECT_EQ(DedupeList("X; x", "; "), "X; x");
    EXPECT_EQ(DedupeList("", "; "), "");
}

}  // namespace
}  // namespace tandrel
