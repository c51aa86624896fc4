#include "support/files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "../common/temp_dir.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tandrel {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(WriteFileAtomically, ReplacesTheFileWholeAndLeavesNoTemporary) {
    testing::TempDir dir;
    const auto path = dir / "Config.ini";
    std::ofstream(path) << "old";
    ASSERT_TRUE(WriteFileAtomically(path, "new contents"));
    EXPECT_EQ(Read(path), "new contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_FALSE(WriteFileAtomically(dir / "missing" / "x.ini", "x"));
}

#ifndef _WIN32
// Links planted under every name the temporary could be given (the process id and a counter) must not carry
// the write into another file, and what is written is the user's alone.
TEST(WriteFileAtomically, NeverWritesThroughAPlantedLinkAndIsPrivate) {
    testing::TempDir dir;
    const auto victim = dir / "victim.txt";
    std::ofstream(victim) << "precious";
    const auto path = dir / "Config.ini";
    for (int i = 0; i < 64; ++i) {
        fs::create_symlink(victim,
                           dir / ("Config.ini.tmp" + std::to_string(getpid()) + "-" + std::to_string(i)));
    }
    for (int i = 0; i < 8; ++i)
        WriteFileAtomically(path, "[设置]\r\n");
    EXPECT_EQ(Read(victim), "precious");
    ASSERT_TRUE(WriteFileAtomically(path, "[设置]\r\n"));
    EXPECT_EQ(Read(path), "[设置]\r\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}
#endif

}  // namespace
}  // namespace tandrel
