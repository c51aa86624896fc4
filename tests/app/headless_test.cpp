#include "app/headless.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "../common/headless_program.h"
#include "../common/sim_stores.h"
#include "../common/temp_dir.h"
#include "../common/windows_compat.h"
#include "app/store_commands.h"
#include "monitor/goods_id_export.h"
#include "net/http_request.h"
#include "settings/settings.h"
#include "sim/marketplace_sim.h"
#include "sim/vendor_service.h"
#include "stores/store_file.h"
#include "support/files.h"
#include "support/instance_lock.h"
#include "update/headless_check.h"

namespace tandrel {
namespace {

class HeadlessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The simulator is the vendor too: its record lets the run go on, without a start-up notice to print.
        auto fields = sim::VendorService::DefaultFields("1.3.1");
        fields[7] = "0";
        sim_.vendor().SetVersionFields(fields);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        testing::AddSimStores(sim_, {testing::ShopStore("21")});
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
    void AddStore() { testing::SaveSimStores(sim_, dir_.path(), {testing::ShopStore("21")}); }

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

class HeadlessVendorCheckTest : public HeadlessTest {
  protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        sim_.vendor().SetVersionFields(fields_);
    }
    bool Check(const Endpoints& endpoints) {
        return RunHeadlessVersionCheck(
            endpoints, [](const std::string& url) { return HttpGetPlain(url); }, dir_.path(), out_, err_);
    }
    void SetField(int n, std::string value) {
        fields_[static_cast<std::size_t>(n - 1)] = std::move(value);
        sim_.vendor().SetVersionFields(fields_);
    }
    std::vector<std::string> fields_ = sim::VendorService::DefaultFields("1.3.1");
    std::ostringstream out_, err_;
};

TEST_F(HeadlessVendorCheckTest, PrintsTheStartupNoticeAndGoesOn) {
    EXPECT_TRUE(Check(Endpoints::AllAt(sim_.baseUrl())));
    EXPECT_EQ(out_.str(), "有通知！请查收\n欢迎使用 Tandrel 演示版！这是服务器发来的启动通知。\n");
    EXPECT_EQ(err_.str(), "");
}

TEST_F(HeadlessVendorCheckTest, ANewerVersionIsOneLineAndMonitoringGoesOn) {
    SetField(1, "1.3.2");
    EXPECT_TRUE(Check(Endpoints::AllAt(sim_.baseUrl())));
    EXPECT_EQ(out_.str(), "有新版本 1.3.2，请到 " + sim_.baseUrl() +
                              "/app/download.html 下载安装\n"
                              "有通知！请查收\n欢迎使用 Tandrel 演示版！这是服务器发来的启动通知。\n");
}

TEST_F(HeadlessVendorCheckTest, WithoutARecordItFailsOnStderr) {
    EXPECT_FALSE(Check(Endpoints::AllAt(sim::MarketplaceSim::RefusedBaseUrl())));
    EXPECT_EQ(err_.str(), "软件初始化失败！请检查电脑是否已联网，如网络正常请重新打开软件！\n");
    EXPECT_EQ(out_.str(), "");
}

TEST_F(HeadlessVendorCheckTest, TheHeadlessRunChecksBeforeItPolls) {
    AddStore();
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim::MarketplaceSim::RefusedBaseUrl()), 1, out, err),
              1);
    EXPECT_EQ(err.str(), "软件初始化失败！请检查电脑是否已联网，如网络正常请重新打开软件！\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 1, out, err), 0);
    EXPECT_EQ(out.str().find("有通知！请查收\n"), 0u) << out.str();
}

TEST_F(HeadlessVendorCheckTest, WithoutAVendorAddressNothingIsAsked) {
    std::string error;
    auto endpoints = Endpoints::With(sim_.baseUrl(), "", "", "", "", &error);
    EXPECT_TRUE(Check(endpoints));
    EXPECT_TRUE(sim_.Requests().empty());
    EXPECT_EQ(out_.str() + err_.str(), "");
}

// A store file that refuses a re-login's cookie says so on stderr; a store that then needs the merchant
// is logged and printed too.
TEST_F(HeadlessTest, AStoreFileFailureAndAStoreThatNeedsTheMerchantArePrinted) {
    AddStore();
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(PathToUtf8(dir_ / "shop" / "users.dat").c_str(), &db), SQLITE_OK);
        sqlite3_key(db, StoreFile::kPassword.data(), static_cast<int>(StoreFile::kPassword.size()));
        ASSERT_EQ(sqlite3_exec(
                      db,
                      "CREATE TRIGGER refuse BEFORE UPDATE ON \"用户数据\" BEGIN SELECT RAISE(ABORT, 'no'); "
                      "END;",
                      nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    // The session dies twice: at the store list's load, which logs the store in (its cookie refused by the
    // file), and again in the pass, where the same incident gets no second password login.
    sim_.SetFault("/mall", sim::Fault::SessionGone, 2);
    sim_.SetFault("/userinfo", sim::Fault::SessionGone, 2);
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 3, out, err), 0);
    int logins = 0;
    for (const auto& r : sim_.Requests())
        logins += r.target == "/chats/auth";
    EXPECT_EQ(logins, 1);
    EXPECT_EQ(err.str().rfind("用户数据保存失败\n", 0), 0u) << err.str();
    const std::string offline = "店铺ID：21(Shop) 已掉线，请登录店铺：登录已失效，请重新登录店铺\n";
    EXPECT_NE(out.str().find(" " + offline), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(offline), std::string::npos) << err.str();
    // Then nothing can be read, which is said too: once, not once a pass.
    const std::string nothing = "没有正在监测的店铺：所有店铺都已掉线、已暂停或检查失败，请查看店铺列表\n";
    const auto first = out.str().find(nothing);
    EXPECT_NE(first, std::string::npos) << out.str();
    EXPECT_EQ(out.str().find(nothing, first + 1), std::string::npos) << out.str();
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

// A lock that cannot be had is no licence to run unlocked; and a planted link is never followed.
TEST_F(HeadlessTest, ALockThatCannotBeTakenStopsTheRun) {
    TANDREL_SKIP_ON_WINDOWS("plants a symbolic link");
    AddStore();
    const auto lockPath = dir_ / InstanceLock::kFileName;
    std::filesystem::create_directory(dir_ / "elsewhere");
    std::filesystem::create_symlink(dir_ / "elsewhere" / "target", lockPath);
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 1, out, err), 1);
    EXPECT_NE(err.str().find("无法锁定数据文件夹"), std::string::npos) << err.str();
    EXPECT_FALSE(std::filesystem::exists(dir_ / "elsewhere" / "target"));
    EXPECT_TRUE(sim_.Requests().empty());

    std::filesystem::remove(lockPath);
    std::filesystem::create_directory(lockPath);  // cannot be opened as a file
    std::ostringstream out2, err2;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 1, out2, err2), 1);
    EXPECT_NE(err2.str().find("无法锁定数据文件夹"), std::string::npos) << err2.str();
    EXPECT_TRUE(sim_.Requests().empty());
}

// Another account on the computer must find nothing to read: the stores, the history, the lock, exports.
TEST_F(HeadlessTest, AStoreAPassAndAnExportLeaveNothingReadableByOthers) {
    TANDREL_SKIP_ON_WINDOWS("Unix mode bits; the user profile's permissions keep the folder private there");
    AddStore();
    std::ostringstream out, err;
    ASSERT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 1, out, err), 0) << err.str();
    std::string failure;
    ExportIdList({"g1"}, dir_.path(), std::chrono::system_clock::now(), &failure);
    ASSERT_EQ(failure, "");
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
        const auto perms = entry.symlink_status().permissions();
        EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
                  std::filesystem::perms::none)
            << entry.path();
        files += entry.is_regular_file();
    }
    EXPECT_GE(files, 5u);  // Config.ini, users.dat, tandrel.lock, the history file, the export
    EXPECT_TRUE(std::filesystem::exists(dir_ / "history"));
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
using testing::Finished;
using testing::HeadlessProgram;

// Runs the program headless against the simulator, its vendor at vendorUrl.
Finished RunProgram(const std::string& merchantUrl, const std::string& vendorUrl,
                    const std::string& dataDir) {
    return HeadlessProgram(
               TANDREL_EXECUTABLE,
               {.dataDir = dataDir, .merchantUrl = merchantUrl, .vendorUrl = vendorUrl, .passes = 1})
        .Finish();
}

TEST_F(HeadlessVendorCheckTest, TheProgramEndsWithAFailureStatusBeforeMonitoring) {
    AddStore();
    const Finished f =
        RunProgram(sim_.baseUrl(), sim::MarketplaceSim::RefusedBaseUrl(), dir_.path().string());
    EXPECT_EQ(f.status, 1);
    EXPECT_EQ(f.err, "软件初始化失败！请检查电脑是否已联网，如网络正常请重新打开软件！\n");
    EXPECT_EQ(f.out, "");
}

TEST_F(HeadlessVendorCheckTest, TheProgramMonitorsAfterAnnouncingANewerVersion) {
    AddStore();
    SetField(1, "1.3.2");
    const Finished f = RunProgram(sim_.baseUrl(), sim_.baseUrl(), dir_.path().string());
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.out.find("有新版本 1.3.2"), 0u) << f.out;
    EXPECT_NE(f.out.find("有新开团订单"), std::string::npos) << f.out;
}

// A vendor page and a buyer's nickname with terminal escapes: the console shows their text, never obeys it.
TEST_F(HeadlessVendorCheckTest, NoEscapeFromOutsideReachesTheTerminal) {
    sim_.AddUser({.uid = "u", .nickname = "阿\x1b]0;pwned\x07花\x1b[2J"});
    AddStore();
    SetField(1, "1.3.2");
    SetField(25,
             "http://x/\x1b]0;owned\x07dl\x9b"
             "2J");
    const Finished f = RunProgram(sim_.baseUrl(), sim_.baseUrl(), dir_.path().string());
    EXPECT_EQ(f.status, 0) << f.err;
    for (const std::string* text : {&f.out, &f.err})
        for (const char c : *text)
            EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t')
                << "control " << static_cast<int>(c) << " in " << *text;
    EXPECT_NE(f.out.find("开团账号：阿花，"), std::string::npos) << f.out;
    EXPECT_NE(f.out.find("请到 http://x/"), std::string::npos) << f.out;
}

#ifndef _WIN32  // Windows has no signals that one process sends another
TEST_F(HeadlessTest, SigtermStopsTheProcessCleanly) {
    AddStore();
    HeadlessProgram program(TANDREL_EXECUTABLE, {.dataDir = dir_.path(), .merchantUrl = sim_.baseUrl()});
    ASSERT_TRUE(program.started());
    // Wait for the first pass's line, then ask it to stop.
    program.WaitForOutput("\n");
    program.Signal(SIGTERM);
    const Finished f = program.Finish();
    const std::string& out = f.out;
    ASSERT_TRUE(f.exited);
    EXPECT_EQ(f.status, 0);
    EXPECT_NE(out.find("有新开团订单"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - std::string(" 已停止\n").size()), " 已停止\n");
}

TEST_F(HeadlessTest, ASignalDuringALongPauseEndsTheRunAtOnce) {
    AddStore();
    SettingsFile(dir_ / "Config.ini", nullptr)
        .SaveNumberText(SettingsFile::KeyOf(SettingNumber::MonitorInterval), "60000");
    HeadlessProgram program(TANDREL_EXECUTABLE, {.dataDir = dir_.path(), .merchantUrl = sim_.baseUrl()});
    ASSERT_TRUE(program.started());
    // The first order's line is followed by a pause of a minute.
    ASSERT_TRUE(program.WaitForOutput("有新开团订单"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto signalled = std::chrono::steady_clock::now();
    program.Signal(SIGTERM);
    const Finished f = program.Finish();
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - signalled);
    ASSERT_TRUE(f.exited);
    EXPECT_EQ(f.status, 0);
    EXPECT_LT(took.count(), 500);
    EXPECT_EQ(f.out.substr(f.out.size() - std::string(" 已停止\n").size()), " 已停止\n");
}

// Stalled in the order list during monitoring, or in the session check at start: either way the run ends at
// once, as a stop.
TEST_F(HeadlessTest, ASignalDuringAStalledRequestEndsTheRunAtOnce) {
    AddStore();
    sim_.SetStallSeconds(30);
    for (const std::string path : {"/chats/ungroupOrders", "/mall"})
        for (const int signal : {SIGTERM, SIGINT}) {
            SCOPED_TRACE(path + " " + std::to_string(signal));
            sim_.ClearFaults();
            sim_.SetFault(path, sim::Fault::Stall);
            sim_.ClearRequests();
            HeadlessProgram program(TANDREL_EXECUTABLE,
                                    {.dataDir = dir_.path(), .merchantUrl = sim_.baseUrl()});
            ASSERT_TRUE(program.started());
            // The stall has begun once the path was asked for.
            const auto asked = [&] {
                for (const auto& request : sim_.Requests())
                    if (request.target.rfind(path, 0) == 0) return true;
                return false;
            };
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!asked() && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ASSERT_TRUE(asked());
            const auto signalled = std::chrono::steady_clock::now();
            program.Signal(signal);
            const Finished f = program.Finish();
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - signalled);
            const std::string& out = f.out;
            ASSERT_TRUE(f.exited);
            EXPECT_EQ(f.status, 0);
            EXPECT_LT(took.count(), 500);
            // Only the stop is logged: the abandoned request reports nothing.
            EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
            EXPECT_EQ(out.substr(out.size() - std::string(" 已停止\n").size()), " 已停止\n");
        }
}
#endif  // _WIN32
#endif

}  // namespace
}  // namespace tandrel
