#include "support/arguments.h"

#include <gtest/gtest.h>

namespace {
int gArgc = 0;
char** gArgv = nullptr;
}  // namespace

namespace tandrel {
namespace {

// ctest runs this program a second time with the argument "商品ID 甲" (see CMakeLists.txt): it must arrive as
// those characters in UTF-8, also on Windows, where main()'s own argv is in the ANSI code page.
TEST(Utf8Arguments, GivesEveryArgumentInUtf8) {
    const auto args = Utf8Arguments(gArgc, gArgv);
    ASSERT_EQ(args.size(), static_cast<std::size_t>(gArgc));
    ASSERT_FALSE(args.empty());
    EXPECT_NE(args[0].find("arguments_test"), std::string::npos);
    if (args.size() > 1) {
        EXPECT_EQ(args[1], "商品ID 甲");
    }
}

}  // namespace
}  // namespace tandrel

int main(int argc, char** argv) {
    gArgc = argc, gArgv = argv;
    ::testing::InitGoogleTest(&argc, argv);  // after the copy: it may take its own flags out of argv
    return RUN_ALL_TESTS();
}
