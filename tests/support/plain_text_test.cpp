#include "support/plain_text.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/text.h"

namespace tandrel {
namespace {

std::string Clean(std::string_view text, LineBreaks breaks = LineBreaks::Keep) {
    return RemoveControls(text, TextBytes::Utf8, breaks);
}

TEST(PlainTextTest, WholeEscapeSequencesGoAndTheTextAroundThemStays) {
    EXPECT_EQ(Clean("a\x1b]0;pwned\x07"
                    "b"),
              "ab");                                                           // window title, ended by BEL
    EXPECT_EQ(Clean("a\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\b"), "alinkb");  // ended by ESC backslash
    EXPECT_EQ(Clean("\x1b[2J\x1b[1;31mred\x1b[0m"), "red");                    // clear screen, colours
    EXPECT_EQ(Clean("\x1b[?1049h"
                    "x"),
              "x");  // private parameters
    EXPECT_EQ(Clean("\x1b"
                    "c"
                    "reset\x1b(B"),
              "reset");                                        // two-byte and nF escapes
    EXPECT_EQ(Clean("\x1bPq#0;2;0;0;0\x1b\\after"), "after");  // a device control string
    EXPECT_EQ(Clean("x\x1b"), "x");                            // a lone ESC at the end
    // An unterminated title string ends at the line break: the next line is kept.
    EXPECT_EQ(Clean("a\x1b]0;open\nnext"), "a\nnext");
}

TEST(PlainTextTest, ControlCharactersGoButTabAndLineBreaksStay) {
    std::string all;
    for (int c = 0; c < 0x20; ++c)
        all += static_cast<char>(c);
    all += '\x7f';
    EXPECT_EQ(Clean(all), "\t\n\r");
    EXPECT_EQ(Clean("a\r\nb\nc", LineBreaks::ToSpace), "a b c");
    EXPECT_EQ(Clean("a\tb", LineBreaks::ToSpace), "a b");  // one field stays one column
    // C1 controls in UTF-8, the 8-bit CSI and OSC with what they introduce.
    EXPECT_EQ(Clean("a\xc2\x9b"
                    "2Jb\xc2\x9d"
                    "0;t\x07"
                    "c\xc2\x85"
                    "d"),
              "abcd");
    // Bytes that are not UTF-8 cannot reach a terminal as part of something else.
    EXPECT_EQ(Clean("a\x9b"
                    "b\xc2"),
              "ab");
    EXPECT_EQ(Clean("阿花 ＝1+1 é"), "阿花 ＝1+1 é");
}

TEST(PlainTextTest, GbkTextKeepsItsDoubleByteCharacters) {
    const std::string gbk = Utf8ToGbk("阿花") + "\x1b]0;x\x07" + Utf8ToGbk("店铺") + "\x01";
    EXPECT_EQ(GbkToUtf8(RemoveControls(gbk, TextBytes::Gbk)), "阿花店铺");
    // Lead bytes in 0x81..0x9F are GBK characters, not C1 controls.
    const std::string wide = Utf8ToGbk("丂");  // 0x81 0x40
    EXPECT_EQ(RemoveControls(wide, TextBytes::Gbk), wide);
}

TEST(PlainTextTest, MentionsAreDefused) {
    EXPECT_EQ(DefuseMentions("@all 大家"), "＠all 大家");
    EXPECT_EQ(DefuseMentions("<at user_id=\"all\">所有人</at>"), "＜at user_id=\"all\"＞所有人＜/at＞");
}

TEST(PlainTextTest, TheFilteredStreamCleansWhatIsWrittenInPieces) {
    std::ostringstream sink;
    {
        ControlFilterBuf filter(sink.rdbuf());
        std::ostream out(&filter);
        out << "line\x1b]0;t" << '\x07' << "\n" << std::flush;
        // A C1 control split over two flushes is still one character.
        out << "a\xc2" << std::flush;
        out << "\x9b"
               "2Jb\n";
        // An ESC at the end of one write and its sequence in the next.
        out << "c\x1b" << std::flush << "[31md\n";
        out << "tail";
    }
    EXPECT_EQ(sink.str(), "line\nab\ncd\ntail");
}

}  // namespace
}  // namespace tandrel
