// The login start's XDG entry, with XDG_CONFIG_HOME pointed at a folder of the test's own.
#include "app/autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "../common/temp_dir.h"
#include "support/files.h"

namespace tandrel {
namespace {

class AutostartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* before = std::getenv("XDG_CONFIG_HOME")) saved_ = before;
        ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
    }
    void TearDown() override {
        if (saved_)
            ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    std::filesystem::path Entry() const { return config_ / "autostart/tandrel.desktop"; }
    std::string EntryText() const {
        std::string text;
        EXPECT_EQ(ReadWholeFile(Entry(), text, 1 << 16), ReadStatus::Ok);
        return text;
    }

    testing::TempDir config_;
    std::optional<std::string> saved_;
};

TEST(ExecArgument, QuotesWhatDesktopEntriesReserveAndEscapesTwice) {
    EXPECT_EQ(ExecArgument("/usr/bin/tandrel"), "/usr/bin/tandrel");
    EXPECT_EQ(ExecArgument("/opt/my apps/tandrel"), "\"/opt/my apps/tandrel\"");
    // A literal backslash is four in the file, a dollar \\$, a quote \\" (string escape, then quoting).
    EXPECT_EQ(ExecArgument("/a\\b"), "\"/a\\\\\\\\b\"");
    EXPECT_EQ(ExecArgument("/a$HOME"), "\"/a\\\\$HOME\"");
    EXPECT_EQ(ExecArgument("/a\"b"), "\"/a\\\\\"b\"");
    EXPECT_EQ(ExecArgument("/a`id`"), "\"/a\\\\`id\\\\`\"");
    // A field code is never made of a path.
    EXPECT_EQ(ExecArgument("/100%u"), "/100%%u");
    EXPECT_EQ(ExecArgument("/数据 夹/店"), "\"/数据 夹/店\"");
}

TEST_F(AutostartTest, TheEntryStartsThisProgramMonitoringInItsFolderAndGoesWhenTurnedOff) {
    const AutostartCommand command{.program = "/opt/Tandrel 2/tandrel", .dataDir = "/home/m/店铺 数据"};
    EXPECT_EQ(AutostartEntryPath(), Entry());
    EXPECT_FALSE(AutostartRegistered(command));
    ASSERT_EQ(RegisterAutostart(command), "");
    const std::string text = EntryText();
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(
        text.find("\nExec=\"/opt/Tandrel 2/tandrel\" --start-monitoring --data-dir \"/home/m/店铺 数据\"\n"),
        std::string::npos)
        << text;
    struct stat info {};
    ASSERT_EQ(::stat(Entry().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0u);
    EXPECT_TRUE(AutostartRegistered(command));
    // Another copy, or the default folder, is not this registration.
    EXPECT_FALSE(AutostartRegistered({.program = command.program}));
    ASSERT_EQ(RegisterAutostart({.program = command.program}), "");
    EXPECT_NE(EntryText().find("\nExec=\"/opt/Tandrel 2/tandrel\" --start-monitoring\n"), std::string::npos);

    EXPECT_EQ(RemoveAutostart(), "");
    EXPECT_FALSE(std::filesystem::exists(Entry()));
    EXPECT_EQ(RemoveAutostart(), "");  // nothing there: nothing to do
}

TEST_F(AutostartTest, ALinkAtTheNameIsNeitherWrittenThroughNorRemovedAndBadPathsAreRefused) {
    const AutostartCommand command{.program = "/usr/bin/tandrel"};
    std::filesystem::create_directories(config_ / "autostart");
    const auto target = config_ / "elsewhere.desktop";
    std::ofstream(target) << "theirs\n";
    std::filesystem::create_symlink(target, Entry());
    const std::string refused = RegisterAutostart(command);
    EXPECT_NE(refused.find("链接"), std::string::npos) << refused;
    EXPECT_TRUE(std::filesystem::is_symlink(Entry()));
    std::string theirs;
    ASSERT_EQ(ReadWholeFile(target, theirs, 100), ReadStatus::Ok);
    EXPECT_EQ(theirs, "theirs\n");
    EXPECT_FALSE(AutostartRegistered(command));
    EXPECT_EQ(RemoveAutostart(), "");
    EXPECT_TRUE(std::filesystem::is_symlink(Entry()));
    std::filesystem::remove(Entry());

    // A line break in a path would add lines of its own to the entry.
    EXPECT_FALSE(RegisterAutostart({.program = "/tmp/x\nExec=/bin/evil"}).empty());
    EXPECT_FALSE(RegisterAutostart({.program = "/usr/bin/tandrel", .dataDir = "/bad\xff"}).empty());
    EXPECT_FALSE(std::filesystem::exists(Entry()));

    // A folder others may write is not trusted with the entry.
    std::filesystem::permissions(config_ / "autostart", std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::add);
    EXPECT_FALSE(RegisterAutostart(command).empty());
    EXPECT_FALSE(std::filesystem::exists(Entry()));
}

TEST_F(AutostartTest, ThisRunRegistersItsOwnPathAndItsFolderOnlyWhenNotTheDefault) {
    SetAutostartDataFolder("relative folder", false);
    const AutostartCommand command = ThisAutostartCommand();
    EXPECT_TRUE(command.program.is_absolute());
    EXPECT_EQ(command.dataDir, std::filesystem::absolute("relative folder"));
    ASSERT_EQ(SetAutostart(true), "");
    EXPECT_TRUE(AutostartEnabled());
    EXPECT_NE(EntryText().find(" --data-dir "), std::string::npos);
    SetAutostartDataFolder("/anything", true);
    EXPECT_FALSE(AutostartEnabled());  // registered with another folder
    ASSERT_EQ(SetAutostart(true), "");
    EXPECT_EQ(EntryText().find(" --data-dir "), std::string::npos);
    ASSERT_EQ(SetAutostart(false), "");
    EXPECT_FALSE(AutostartEnabled());
}

}  // namespace
}  // namespace tandrel
