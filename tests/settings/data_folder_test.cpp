#include "settings/data_folder.h"

#include <gtest/gtest.h>

#include "../common/temp_dir.h"
#include "support/files.h"

namespace tandrel {
namespace {

TEST(DataFolder, APortableCopyKeepsTheProgramsFolderAnInstalledOneTheUsers) {
    testing::TempDir dir;
    const auto program = dir.path() / PathFromUtf8("团购 监控");
    const auto user = dir.path() / "user-data";
    std::filesystem::create_directories(program);

    auto choice = ChooseDataFolder(program, true, user);
    EXPECT_EQ(choice.path, program);
    EXPECT_TRUE(choice.portable);

    choice = ChooseDataFolder(program, false, user);  // installed: its folder is not writable
    EXPECT_EQ(choice.path, user);
    EXPECT_FALSE(choice.portable);

    ASSERT_TRUE(
        WriteFileAtomically(program / kPortableMarker, ""));  // the marker wins over the folder's rights
    choice = ChooseDataFolder(program, false, user);
    EXPECT_EQ(choice.path, program);
    EXPECT_TRUE(choice.portable);
}

TEST(DataFolder, AProgramUnderUsrIsInstalledEvenWhenWritable) {
    const auto choice = ChooseDataFolder("/usr/bin", true, "/home/u/.local/share/tandrel");
    EXPECT_EQ(choice.path, std::filesystem::path("/home/u/.local/share/tandrel"));
    EXPECT_FALSE(choice.portable);
    // Only the folder itself counts, not a name that merely starts the same.
    EXPECT_TRUE(ChooseDataFolder("/usrlocal/bin", true, "/u").portable);
}

TEST(DataFolder, WritabilityIsTriedAndLeavesNothingBehind) {
    testing::TempDir dir;
    const auto folder = dir.path() / PathFromUtf8("数据");
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(IsWritableFolder(folder));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    EXPECT_FALSE(IsWritableFolder(dir.path() / "missing"));
}

}  // namespace
}  // namespace tandrel
