#include "support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
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

#ifndef _WIN32
// The data folder's own entries, as the program names them.
const std::vector<DataFolderEntry> kEntries{{"Config.ini"}, {"shop", true}, {"history", true}};

// Another account's folder (mode 0777, its webhook in Config.ini, history/ a link into its own folder) is
// never used: nothing is read from it and nothing is written into the other account's files.
TEST(ClaimDataFolder, AFolderOfAnotherAccountOrWithLinksIsRefusedAndNamed) {
    testing::TempDir dir;
    const fs::path shared = dir / "shared", theirs = dir / "theirs";
    fs::create_directories(theirs);
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms::all);
    fs::create_directory_symlink(theirs, shared / "history");
    std::ofstream(shared / "Config.ini") << "[提醒]\r\n机器人地址=http://127.0.0.1:1/theirs\r\n";
    // A link inside the merchant's own folder is refused too, whatever the folder's owner.
    std::string refusal = ClaimDataFolder(shared, kEntries);
    EXPECT_NE(refusal.find((shared / "history").string()), std::string::npos) << refusal;
    EXPECT_TRUE(fs::is_empty(theirs));
    // A folder another account owns; and, in one of ours, a file another account put there.
    const uid_t other = geteuid() == 0 ? 65534 : 0;
    fs::remove(shared / "history");
    if (geteuid() == 0) {
        ASSERT_EQ(chown(shared.c_str(), other, other), 0);
        fs::permissions(shared, fs::perms::all);
        refusal = ClaimDataFolder(shared, kEntries);
        EXPECT_NE(refusal.find(shared.string()), std::string::npos) << refusal;
        EXPECT_FALSE(fs::exists(shared / "history"));
        EXPECT_EQ(fs::status(shared).permissions(), fs::perms::all);  // not ours to change
        ASSERT_EQ(chown(shared.c_str(), 0, 0), 0);
        ASSERT_EQ(chown((shared / "Config.ini").c_str(), other, other), 0);
        refusal = ClaimDataFolder(shared, kEntries);
        EXPECT_NE(refusal.find((shared / "Config.ini").string()), std::string::npos) << refusal;
    } else {
        EXPECT_NE(ClaimDataFolder("/", kEntries), "");
    }
    std::ofstream(dir / "users.dat") << "x";
    fs::create_directories(dir / "mine" / "shop");
    fs::create_symlink(dir / "users.dat", dir / "mine" / "shop" / "users.dat");
    refusal = ClaimDataFolder(dir / "mine", kEntries);
    EXPECT_NE(refusal.find("users.dat"), std::string::npos) << refusal;
    fs::create_symlink(dir / "users.dat", dir / "link.ini");
    fs::remove(dir / "mine" / "shop" / "users.dat");
    fs::create_symlink(dir / "users.dat", dir / "mine" / "Config.ini");
    EXPECT_NE(ClaimDataFolder(dir / "mine", kEntries), "");
}

// The merchant's own folder is made private, with one line for each folder so changed; a new one is made
// private, and a second claim changes nothing.
TEST(ClaimDataFolder, TheMerchantsOwnFolderIsMadePrivate) {
    testing::TempDir dir;
    const fs::path data = dir / "data";
    fs::create_directories(data / "shop");
    fs::permissions(data, fs::perms::all);
    fs::permissions(data / "shop", fs::perms::owner_all | fs::perms::group_all);
    std::string note;
    EXPECT_EQ(ClaimDataFolder(data, kEntries, &note), "");
    EXPECT_EQ(std::count(note.begin(), note.end(), '\n'), 2) << note;
    for (const fs::path& folder : {data, data / "shop", data / "history"})
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    note.clear();
    EXPECT_EQ(ClaimDataFolder(data, kEntries, &note), "");
    EXPECT_EQ(note, "");
    EXPECT_EQ(ClaimDataFolder(dir / "new" / "folder", kEntries, &note), "");
    EXPECT_EQ(fs::status(dir / "new" / "folder").permissions(), fs::perms::owner_all);
    std::ofstream(dir / "file") << "x";
    EXPECT_NE(ClaimDataFolder(dir / "file", kEntries), "");
}
#endif

}  // namespace
}  // namespace tandrel
