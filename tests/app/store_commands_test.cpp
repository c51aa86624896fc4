#include "app/store_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "../common/temp_dir.h"
#include "app/command_line.h"
#include "sim/marketplace_sim.h"
#include "stores/store_file.h"
#include "support/text.h"

namespace tandrel {
namespace {

struct Result {
    int status;
    std::string out, err;
};

class StoreCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_.AddStore({.account = "shop_01",
                       .password = "pa ss",
                       .mallId = "501",
                       .mallName = "五金店",
                       .mobile = "1"});
        sim_.AddStore({.account = "verify",
                       .password = "pw",
                       .mallId = "502",
                       .mallName = "V",
                       .mobile = "2",
                       .requireVerification = true});
    }
    Result Run(std::vector<std::string> command, const std::string& input = "") {
        std::istringstream in(input);
        std::ostringstream out, err;
        const int status =
            RunStoreCommand(command, dir_.path(), Endpoints::AllAt(sim_.baseUrl()), in, out, err);
        return {status, out.str(), err.str()};
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
};

TEST_F(StoreCommandsTest, AddListRemove) {
    auto r = Run({"store", "add", "shop_01"}, "  pa ss \r\nignored second line\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "登录成功\t501\t五金店\n");
    std::vector<StoreRecord> records;
    StoreFile(dir_.path()).ReadAll(records);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].password, "pa ss");  // trimmed as the login window trims it

    r = Run({"store", "list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1\tshop_01\t501\t五金店\t正常\n");

    r = Run({"store", "remove", "999"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "没有找到此店铺记录\n");
    r = Run({"store", "remove", "501"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Run({"store", "list"}).out, "");
}

TEST_F(StoreCommandsTest, LoginProblemsGiveTheirExitStatus) {
    auto r = Run({"store", "add", "verify"}, "pw\n");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "需要手机验证\n");
    r = Run({"store", "add", "shop_01"}, "wrong\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
    r = Run({"store", "add", "shop_01"}, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "账号、密码都不能为空，请填写\n");
    EXPECT_TRUE(sim_.Requests().size() == 2u);  // the empty password sent nothing
}

// A store name from the public API with a line break and tabs (as "\u000a" and "\u0009" decode) cannot add
// a row to the list.
TEST_F(StoreCommandsTest, EveryStoreIsOneLineWhateverItsNameHolds) {
    sim_.AddStore({.account = "forger", .password = "pw", .mallId = "503", .mallName = "x", .mobile = "3"});
    ASSERT_TRUE(StoreFile(dir_.path())
                    .SaveStore({.account = "forger",
                                .password = "pw",
                                .storeId = "503",
                                .storeName = Utf8ToGbk("店\n9\tfake\t999\t假店\t正常\x1b[2J\x07"),
                                .session = sim_.IssueSession("503")})
                    .ok());
    const auto r = Run({"store", "list"});
    EXPECT_EQ(r.out, "1\tforger\t503\t店 9 fake 999 假店 正常\t正常\n");
}

// Failures say what went wrong in words of their own, not "{null}".
TEST(StoreAddFailures, SayWhyInWords) {
    testing::TempDir dir;
    std::istringstream in("pw\n");
    std::ostringstream out, err;
    EXPECT_EQ(RunStoreCommand({"store", "add", "a"}, dir.path(),
                              Endpoints::AllAt(sim::MarketplaceSim::RefusedBaseUrl()), in, out, err),
              1);
    EXPECT_NE(err.str().find("无法连接服务器"), std::string::npos) << err.str();
}

TEST(CommandLine, AcceptsTheCommandsAndRefusesTheRest) {
    std::string error;
    auto line = ParseCommandLine({"--data-dir", "/d", "store", "add", "acc"}, error);
    ASSERT_TRUE(line);
    EXPECT_EQ(*line->dataDir, "/d");
    EXPECT_EQ(line->command, (std::vector<std::string>{"store", "add", "acc"}));
    EXPECT_TRUE(ParseCommandLine({"--help"}, error)->help);
    EXPECT_TRUE(ParseCommandLine({}, error)->command.empty());
    // The login start: the window, monitoring once loaded; with the demo it is what the demo does anyway.
    line = ParseCommandLine({"--start-monitoring", "--data-dir", "/d"}, error);
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->startMonitoring);
    EXPECT_FALSE(line->headless);
    EXPECT_TRUE(line->command.empty());
    EXPECT_FALSE(ParseCommandLine({}, error)->startMonitoring);
    EXPECT_TRUE(ParseCommandLine({"--demo", "--start-monitoring"}, error)->startMonitoring);
    ParseCommandLine({"--headless", "--start-monitoring"}, error);
    EXPECT_EQ(error, "--start-monitoring is for the window; --headless monitors already");
    for (const auto& bad : std::vector<std::vector<std::string>>{{"--bogus"},
                                                                 {"store"},
                                                                 {"store", "add"},
                                                                 {"store", "list", "x"},
                                                                 {"store", "export"},
                                                                 {"store", "import", "a", "b"},
                                                                 {"shop"},
                                                                 {"--data-dir"},
                                                                 {"--start-monitoring", "--headless"},
                                                                 {"--start-monitoring", "store", "list"}}) {
        error.clear();
        EXPECT_FALSE(ParseCommandLine(bad, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

// How stores move to another computer: every one into a fresh data folder, nothing legible in the file, and a
// wrong passphrase or a damaged file changing nothing.
TEST_F(StoreCommandsTest, ExportAndImportMoveEveryStoreToAFreshFolder) {
    ASSERT_EQ(Run({"store", "add", "shop_01"}, "pa ss\n").status, 0);
    ASSERT_TRUE(StoreFile(dir_.path())
                    .SaveStore({.account = "acc-2",
                                .password = "secret-2",
                                .storeId = "777",
                                .storeName = Utf8ToGbk("二店"),
                                .session = "PASS_ID=cookie-2"})
                    .ok());
    const std::string backup = (dir_.path() / "stores.bak").string();
    auto r = Run({"store", "export", backup}, "short\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "口令至少需要8个字符\n");
    r = Run({"store", "export", backup}, "八个汉字的口令\r\n");
    EXPECT_EQ(r.status, 1);  // seven characters, though more than eight bytes
    r = Run({"store", "export", backup}, "这是八个字的口令\r\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "已导出 2 个店铺\n");
    std::ifstream in(backup, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* plain : {"shop_01", "pa ss", "acc-2", "secret-2", "cookie-2", "SESSION"})
        EXPECT_EQ(bytes.find(plain), std::string::npos) << plain;

    testing::TempDir fresh;
    std::ostringstream out, err;
    const auto import = [&](const std::string& passphrase, const std::string& file) {
        std::istringstream pass(passphrase);
        out.str(""), err.str("");
        return RunStoreCommand({"store", "import", file}, fresh.path(), Endpoints::AllAt(sim_.baseUrl()),
                               pass, out, err);
    };
    EXPECT_EQ(import("这是八个字的口令吗\n", backup), 1);
    EXPECT_NE(err.str().find("口令不对"), std::string::npos) << err.str();
    std::ofstream(fresh.path() / "cut.bak", std::ios::binary) << bytes.substr(0, bytes.size() - 1);
    EXPECT_EQ(import("这是八个字的口令\n", (fresh.path() / "cut.bak").string()), 1);
    std::vector<StoreRecord> records;
    StoreFile(fresh.path()).ReadAll(records);
    EXPECT_TRUE(records.empty());

    ASSERT_EQ(import("这是八个字的口令\n", backup), 0) << err.str();
    EXPECT_EQ(out.str(), "已导入 2 个店铺（新增 2 个，更新 0 个）\n");
    ASSERT_EQ(import("这是八个字的口令\n", backup), 0);
    EXPECT_EQ(out.str(), "已导入 2 个店铺（新增 0 个，更新 2 个）\n");
    StoreFile(fresh.path()).ReadAll(records);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].account, "shop_01");
    EXPECT_EQ(records[0].password, "pa ss");
    EXPECT_EQ(records[0].storeId, "501");
    EXPECT_FALSE(records[0].session.empty());
    EXPECT_EQ(records[1].storeName, Utf8ToGbk("二店"));
    EXPECT_EQ(records[1].session, "PASS_ID=cookie-2");
    // The session came along: the store is online without a new login, SMS check included.
    std::istringstream none;
    out.str("");
    EXPECT_EQ(
        RunStoreCommand({"store", "list"}, fresh.path(), Endpoints::AllAt(sim_.baseUrl()), none, out, err),
        0);
    EXPECT_EQ(out.str().rfind("1\tshop_01\t501\t五金店\t正常\n", 0), 0u) << out.str();
}

#ifdef TANDREL_EXECUTABLE
TEST_F(StoreCommandsTest, TheExecutableRunsWithoutADisplay) {
    const auto run = [&](const std::string& args, const std::string& input = "") {
        const std::string command =
            "printf '%s\\n' '" + input +
            "' | env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TANDREL_MERCHANT_URL=" +
            sim_.baseUrl() + " TANDREL_PUBLIC_API_URL=" + sim_.baseUrl() + " " + TANDREL_EXECUTABLE +
            " --data-dir " + dir_.path().string() + " " + args + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(run("--nonsense"), 2);
    EXPECT_EQ(run("store frobnicate"), 2);
    EXPECT_EQ(run("store add shop_01", "pa ss"), 0);
    EXPECT_EQ(run("store list"), 0);
    EXPECT_EQ(run("store remove 501"), 0);
    EXPECT_EQ(run("store remove 501"), 1);
}
#endif

}  // namespace
}  // namespace tandrel
