#include "app/headless.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <sstream>
#include <thread>

#include "../common/temp_dir.h"
#include "app/store_commands.h"
#include "settings/settings.h"
#include "sim/marketplace_sim.h"
#include "stores/store_file.h"
#include "support/instance_lock.h"

namespace tandrel {
namespace {

class HeadlessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        sim_.AddStore({.account = "a", .password = "p", .mallId = "21", .mallName = "Shop", .mobile = "1"});
        sim_.AddUser({.uid = "u", .nickname = "阿花"});
        sim_.SetOrders("21", {{.orderSn = "s1",
                               .createdDuration = 0,
                               .goodsId = "g1",
                               .uid = "u",
                               .thumbUrl = "t",
                               .goodsName = "n",
                               .groupOrderId = "G1"}});
        // A short interval keeps the passes quick.
        SettingsFile(dir_ / "Config.ini", nullptr)
            .SaveNumberText(SettingsFile::KeyOf(SettingNumber::MonitorInterval), "1");
    }
    void AddStore() { StoreFile(dir_.path()).SaveStore("Shop", "a", "p", "21", sim_.IssueSession("21")); }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
};

TEST_F(HeadlessTest, PrintsTheLogAndStopsAfterThePasses) {
    AddStore();
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 2, out, err), 0);
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(line.find(']') + 1));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         " 店铺ID：21(Shop) 商品：g1 有新开团订单，开团账号：阿花，剩余时间：24小时",
                         " 店铺ID：21(Shop)  无开团订单，持续监测中...", " 已停止"}));
}

TEST_F(HeadlessTest, WithoutStoresItSaysSoAndFails) {
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 1, out, err), 1);
    EXPECT_EQ(err.str(), "无店铺，请添加店铺！\n");
    EXPECT_EQ(out.str(), "");
}

// A store file that refuses a re-login's cookie: during the pass that goes to the log and to stderr.
TEST_F(HeadlessTest, AStoreFileFailureDuringAPassIsLoggedAndPrinted) {
    AddStore();
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((dir_ / "shop" / "users.dat").c_str(), &db), SQLITE_OK);
        sqlite3_key(db, StoreFile::kPassword.data(), static_cast<int>(StoreFile::kPassword.size()));
        ASSERT_EQ(sqlite3_exec(
                      db,
                      "CREATE TRIGGER refuse BEFORE UPDATE ON \"用户数据\" BEGIN SELECT RAISE(ABORT, 'no'); "
                      "END;",
                      nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    // The session check fails twice: at the store list's load and in the pass; both log the store in again.
    sim_.SetFault("/mall", sim::Fault::HtmlErrorPage, 2);
    sim_.SetFault("/userinfo", sim::Fault::HtmlErrorPage, 2);
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 1, out, err), 0);
    EXPECT_NE(out.str().find(" 店铺ID：21(Shop) 用户数据保存失败\n"), std::string::npos) << out.str();
    EXPECT_EQ(err.str(), "用户数据保存失败\n用户数据保存失败\n");
}

TEST_F(HeadlessTest, ASecondMonitorOnTheSameFolderSaysSoAndEnds) {
    AddStore();
    const InstanceLock running(dir_.path());  // as a window or headless run on this folder holds it
    ASSERT_TRUE(running.held());
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 1, out, err), 1);
    EXPECT_NE(err.str().find("已在此数据文件夹运行"), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(sim_.Requests().empty());  // nothing was polled

    // The store commands still work beside it.
    std::istringstream in;
    std::ostringstream listed, listErr;
    EXPECT_EQ(RunStoreCommand({"store", "list"}, dir_.path(), Endpoints::AllAt(sim_.baseUrl()), in, listed,
                              listErr),
              0)
        << listErr.str();
    EXPECT_NE(listed.str().find("21"), std::string::npos);
}

TEST_F(HeadlessTest, TheFolderIsFreeAgainAfterARun) {
    AddStore();
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 1, out, err), 0);
    const InstanceLock next(dir_.path());
    EXPECT_TRUE(next.held());
    EXPECT_FALSE(InstanceLock(dir_.path()).held());  // and held while someone has it
}

#ifdef TANDREL_EXECUTABLE
TEST_F(HeadlessTest, SigtermStopsTheProcessCleanly) {
    AddStore();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        unsetenv("DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        setenv("TANDREL_MERCHANT_URL", sim_.baseUrl().c_str(), 1);
        execl(TANDREL_EXECUTABLE, TANDREL_EXECUTABLE, "--headless", "--data-dir", dir_.path().c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buffer[4096];
    // Wait for the first pass's line, then ask it to stop.
    while (out.find("\n") == std::string::npos) {
        const auto n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    kill(pid, SIGTERM);
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(out.find("有新开团订单"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - std::string(" 已停止\n").size()), " 已停止\n");
}

TEST_F(HeadlessTest, ASignalDuringAStalledRequestEndsTheRunAtOnce) {
    AddStore();
    sim_.SetStallSeconds(30);
    sim_.SetFault("/chats/ungroupOrders", sim::Fault::Stall);
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        sim_.ClearRequests();
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            unsetenv("DISPLAY");
            unsetenv("QT_QPA_PLATFORM");
            setenv("TANDREL_MERCHANT_URL", sim_.baseUrl().c_str(), 1);
            execl(TANDREL_EXECUTABLE, TANDREL_EXECUTABLE, "--headless", "--data-dir", dir_.path().c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // The stall has begun once the order list was asked for.
        const auto asked = [&] {
            for (const auto& request : sim_.Requests())
                if (request.target.rfind("/chats/ungroupOrders", 0) == 0) return true;
            return false;
        };
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!asked() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(asked());
        const auto signalled = std::chrono::steady_clock::now();
        kill(pid, signal);
        std::string out;
        char buffer[4096];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
            out.append(buffer, static_cast<std::size_t>(n));
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - signalled);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_LT(took.count(), 500);
        // Only the stop is logged: the abandoned order list reports nothing.
        EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
        EXPECT_EQ(out.substr(out.size() - std::string(" 已停止\n").size()), " 已停止\n");
    }
}
#endif

}  // namespace
}  // namespace tandrel

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
